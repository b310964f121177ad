#pragma once
// Logging facade. The library emits events with a level and a target; they go
// to whatever sink the embedding program installed, and are discarded (without
// formatting) when there is none. The module installs no sink by default.

#include <string>
#include <string_view>

namespace quelmar::runtime::log {

enum class Level { Error = 1, Warn, Info, Debug, Trace };

inline constexpr std::string_view kTargetBase = "orvanthel::base";
inline constexpr std::string_view kTargetQuelmar = "orvanthel::quelmar";

using Sink = void (*)(Level level, std::string_view target, std::string_view message);

// Installs the sink (nullptr removes it) and the most verbose level it accepts.
void set_sink(Sink sink, Level max_level) noexcept;

bool enabled(Level level) noexcept;
void emit(Level level, std::string_view target, std::string_view message);

inline void debug(std::string_view target, std::string_view message) {
    if (enabled(Level::Debug)) emit(Level::Debug, target, message);
}

// For messages that cost something to build: make_message runs only when a
// sink wants the event.
template <class MakeMessage>
void debug_with(std::string_view target, MakeMessage&& make_message) {
    if (enabled(Level::Debug)) emit(Level::Debug, target, make_message());
}

}  // namespace quelmar::runtime::log
