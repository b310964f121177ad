#include "src/terminal/progress_bar.h"

#include <time.h>
#include <unistd.h>

#include "src/terminal/terminal.h"

namespace quelmar::terminal {
namespace {

constexpr std::int64_t kRedrawIntervalNs = 100'000'000;

// The coarse clock costs a few nanoseconds, which matters when advance() runs
// once per cluster on millions of tiny clusters.
std::int64_t now_ns() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

ProgressBar::Output ProgressBar::Output::standard_error() {
    Output output;
    output.fd = STDERR_FILENO;
    output.visible = is_terminal(STDERR_FILENO);
    return output;
}

void ProgressBar::begin(std::uint64_t length) noexcept {
    if (!output_.visible) return;
    length_ = length;
    position_.store(0, std::memory_order_relaxed);
    open_ = true;
    next_draw_ns_.store(now_ns() + kRedrawIntervalNs, std::memory_order_relaxed);
    draw(false);
}

void ProgressBar::end() noexcept {
    if (!open_) return;
    open_ = false;
    draw(true);
}

std::string ProgressBar::render(std::uint64_t position, std::uint64_t length, unsigned columns) {
    std::string counter(1, ' ');
    counter.append(std::to_string(position)).append(1, '/').append(std::to_string(length));
    const std::uint64_t width = columns > counter.size() ? columns - counter.size() : 0;
    const std::uint64_t done = length > 0 ? filled_cells(position, length, width) : width;
    std::string line;
    append_bar(line, done, width);
    line += counter;
    return line;
}

void ProgressBar::maybe_redraw() noexcept {
    std::int64_t deadline = next_draw_ns_.load(std::memory_order_relaxed);
    std::int64_t now = now_ns();
    if (now < deadline) return;
    if (!next_draw_ns_.compare_exchange_strong(deadline, now + kRedrawIntervalNs,
                                               std::memory_order_relaxed)) {
        return;  // Another worker took this redraw.
    }
    draw(false);
}

void ProgressBar::draw(bool final_line) noexcept {
    // A slow terminal must not make two draws interleave; a skipped redraw
    // is harmless, the next one shows the newer position anyway.
    if (!final_line && drawing_.test_and_set(std::memory_order_acquire)) return;
    if (final_line) {
        while (drawing_.test_and_set(std::memory_order_acquire)) {
        }
    }
    try {
        unsigned width = output_.columns ? *output_.columns : columns(output_.fd);
        std::uint64_t position = position_.load(std::memory_order_relaxed);
        std::string text(1, '\r');
        text.append(render(position, length_, width));
        if (final_line) text.push_back('\n');
        write_all(output_.fd, text);
    } catch (...) {
        // Out of memory for a line of text: skip the drawing, keep working.
    }
    drawing_.clear(std::memory_order_release);
}

}  // namespace quelmar::terminal
