#pragma once
// The converter's progress display: one line on a terminal, redrawn in place
// at most ten times a second, "reading   ████░░░░  45%  367/815 MiB". It
// draws nothing when its output is not a terminal, and clear() removes the
// line so that later messages start on a clean one.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace quelmar::terminal {

class StatusLine {
public:
    // Draws on `fd` when it is a terminal and `enabled` holds.
    StatusLine(int fd, bool enabled);
    ~StatusLine() { clear(); }

    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    // `total` 0 means unknown: then only the amount is shown. With `bytes`,
    // done and total are byte counts shown in MiB; otherwise plain steps.
    void show(std::string_view label, std::uint64_t done, std::uint64_t total, bool bytes);
    void clear();

    // The line for a terminal of `columns` columns (no carriage return).
    static std::string render(std::string_view label, std::uint64_t done, std::uint64_t total,
                              bool bytes, unsigned columns);

private:
    const int fd_;
    const bool visible_;
    bool drawn_ = false;
    std::string last_label_;
    std::chrono::steady_clock::time_point next_draw_{};
};

}  // namespace quelmar::terminal
