#include "src/terminal/status_line.h"

#include <algorithm>
#include <cstdio>

#include "src/terminal/terminal.h"

namespace quelmar::terminal {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr std::size_t kLabelWidth = 10;
constexpr std::size_t kMaxBarWidth = 50;

std::string amount(std::uint64_t value, bool bytes) {
    if (!bytes) return std::to_string(value);
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", static_cast<double>(value) / (1 << 20));
    return text;
}

}  // namespace

StatusLine::StatusLine(int fd, bool enabled) : fd_(fd), visible_(enabled && is_terminal(fd)) {}

std::string StatusLine::render(std::string_view label, std::uint64_t done, std::uint64_t total,
                               bool bytes, unsigned columns) {
    std::string line(label);
    line.resize(std::max(line.size(), kLabelWidth), ' ');
    std::string counter;
    if (total > 0) {
        char percent[8];
        std::snprintf(percent, sizeof percent, " %3u%%",
                      static_cast<unsigned>(filled_cells(done, total, 100)));
        counter = percent;
        counter += "  " + amount(std::min(done, total), bytes) + "/" + amount(total, bytes);
    } else {
        counter = "  " + amount(done, bytes);
    }
    if (bytes) counter += " MiB";

    const std::size_t used = line.size() + counter.size();
    const std::size_t width = columns > used ? std::min(columns - used, kMaxBarWidth) : 0;
    if (total > 0) append_bar(line, filled_cells(done, total, width), width);
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
    text += render(label, done, total, bytes, columns(fd_) - 1);
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

}  // namespace quelmar::terminal
