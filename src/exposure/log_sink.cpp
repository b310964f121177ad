#include "src/exposure/log_sink.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/log.h"

namespace quelmar::exposure {
namespace {

constexpr const char* kLogVariable = "QUELMAR_LOG";

struct LevelName {
    std::string_view lower;
    std::string_view upper;
    runtime::log::Level level;
};

constexpr std::array<LevelName, 5> kLevels{{
    {"error", "ERROR", runtime::log::Level::Error},
    {"warn", "WARN", runtime::log::Level::Warn},
    {"info", "INFO", runtime::log::Level::Info},
    {"debug", "DEBUG", runtime::log::Level::Debug},
    {"trace", "TRACE", runtime::log::Level::Trace},
}};

void write_all(std::string_view text) noexcept {
    while (!text.empty()) {
        const ssize_t wrote = ::write(STDERR_FILENO, text.data(), text.size());
        if (wrote < 0) {
            if (errno == EINTR) continue;
            return;  // logging must never fail an operation
        }
        text.remove_prefix(static_cast<std::size_t>(wrote));
    }
}

// One write per event, so that lines from several threads stay whole.
void write_event(runtime::log::Level level, std::string_view target, std::string_view message) {
    std::string_view name = "?";
    for (const LevelName& known : kLevels) {
        if (known.level == level) name = known.upper;
    }
    try {
        std::string line;
        line.reserve(name.size() + target.size() + message.size() + 5);
        line.append(1, '[').append(name).append(1, ' ').append(target).append("] ");
        line.append(message).append(1, '\n');
        write_all(line);
    } catch (...) {
        // Out of memory for one line of text: the event is dropped.
    }
}

// The most verbose level a QUELMAR_LOG value asks for: nullopt for "off",
// and for values that name no level (then `known` is false).
std::optional<runtime::log::Level> log_level_from(std::string_view value, bool* known) {
    std::string lower(value);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    *known = true;
    if (lower == "off") return std::nullopt;
    for (const LevelName& level : kLevels) {
        if (lower == level.lower) return level.level;
    }
    *known = false;
    return std::nullopt;
}

}  // namespace

void install_log_sink_from_environment() noexcept {
    static std::once_flag once;
    std::call_once(once, []() noexcept {
        const char* value = std::getenv(kLogVariable);
        if (!value || *value == '\0') return;
        try {
            bool known = false;
            const std::optional<runtime::log::Level> level = log_level_from(value, &known);
            if (!known) {
                write_all(std::string("quelmar: ignoring ") + kLogVariable + "=" + value +
                          " (expected off, error, warn, info, debug or trace)\n");
                return;
            }
            if (level) runtime::log::set_sink(write_event, *level);
        } catch (...) {
            // Out of memory at import: logging stays off.
        }
    });
}

}  // namespace quelmar::exposure
