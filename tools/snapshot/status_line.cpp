#include "tools/snapshot/status_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace quelmar::tools {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr unsigned kFallbackColumns = 80;
constexpr std::size_t kLabelWidth = 10;
constexpr std::string_view kDoneCell = "█";
constexpr std::string_view kRestCell = "░";

unsigned terminal_columns(int fd) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return kFallbackColumns;
}

void write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t wrote = ::write(fd, text.data(), text.size());
        if (wrote < 0) {
            if (errno == EINTR) continue;
            return;  // a broken terminal must not stop the conversion
        }
        text.remove_prefix(static_cast<std::size_t>(wrote));
    }
}

std::string amount(std::uint64_t value, bool bytes) {
    if (!bytes) return std::to_string(value);
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", static_cast<double>(value) / (1 << 20));
    return text;
}

}  // namespace

StatusLine::StatusLine(int fd, bool enabled) : fd_(fd), visible_(enabled && ::isatty(fd) == 1) {}

std::string StatusLine::render(std::string_view label, std::uint64_t done, std::uint64_t total,
                               bool bytes, unsigned columns) {
    std::string line(label);
    line.resize(std::max(line.size(), kLabelWidth), ' ');
    std::string counter;
    if (total > 0) {
        const std::uint64_t shown = std::min(done, total);
        char percent[8];
        std::snprintf(percent, sizeof percent, " %3u%%",
                      static_cast<unsigned>((static_cast<unsigned __int128>(shown) * 100) / total));
        counter = percent;
        counter += "  " + amount(shown, bytes) + "/" + amount(total, bytes);
    } else {
        counter = "  " + amount(done, bytes);
    }
    if (bytes) counter += " MiB";

    const std::size_t used = line.size() + counter.size();
    const std::size_t width = columns > used ? std::min<std::size_t>(columns - used, 50) : 0;
    if (total > 0) {
        const std::size_t filled = static_cast<std::size_t>(
            (static_cast<unsigned __int128>(std::min(done, total)) * width) / total);
        for (std::size_t i = 0; i < filled; ++i) line += kDoneCell;
        for (std::size_t i = filled; i < width; ++i) line += kRestCell;
    }
    return line + counter;
}

void StatusLine::show(std::string_view label, std::uint64_t done, std::uint64_t total, bool bytes) {
    if (!visible_) return;
    const auto now = std::chrono::steady_clock::now();
    if (label == last_label_ && now < next_draw_) return;
    next_draw_ = now + kRedrawInterval;
    last_label_ = label;
    // "\x1b[K" erases what a longer previous line left behind.
    std::string text(1, '\r');
    text += render(label, done, total, bytes, terminal_columns(fd_) - 1);
    text += "\x1b[K";
    write_all(fd_, text);
    drawn_ = true;
}

void StatusLine::clear() {
    if (!drawn_) return;
    write_all(fd_, "\r\x1b[K");
    drawn_ = false;
    last_label_.clear();
}

}  // namespace quelmar::tools
