#include "runtime/log.h"

#include <atomic>

namespace quelmar::runtime::log {
namespace {

struct Installed {
    std::atomic<Sink> sink{nullptr};
    std::atomic<int> max_level{0};
};

Installed& installed() {
    static Installed state;
    return state;
}

}  // namespace

void set_sink(Sink sink, Level max_level) noexcept {
    installed().sink.store(sink, std::memory_order_release);
    installed().max_level.store(sink ? static_cast<int>(max_level) : 0, std::memory_order_release);
}

bool enabled(Level level) noexcept {
    return static_cast<int>(level) <= installed().max_level.load(std::memory_order_acquire);
}

void emit(Level level, std::string_view target, std::string_view message) {
    Sink sink = installed().sink.load(std::memory_order_acquire);
    if (sink && enabled(level)) sink(level, target, message);
}

}  // namespace quelmar::runtime::log
