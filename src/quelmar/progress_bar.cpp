#include "src/quelmar/progress_bar.h"

#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quelmar {
namespace {

constexpr std::int64_t kRedrawIntervalNs = 100'000'000;
constexpr unsigned kFallbackColumns = 80;
constexpr std::string_view kDoneCell = "█";
constexpr std::string_view kRestCell = "░";

// The coarse clock costs a few nanoseconds, which matters when advance() runs
// once per cluster on millions of tiny clusters.
std::int64_t now_ns() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

unsigned terminal_columns(int fd) noexcept {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return kFallbackColumns;
}

void write_all(int fd, const std::string& text) noexcept {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;  // A broken terminal must not break the computation.
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

}  // namespace

ProgressBar::Output ProgressBar::Output::standard_error() {
    Output output;
    output.fd = STDERR_FILENO;
    output.visible = ::isatty(STDERR_FILENO) == 1;
    return output;
}

ProgressBar::ProgressBar(std::uint64_t length, Output output) : length_(length), output_(output) {
    if (!output_.visible) return;
    next_draw_ns_.store(now_ns() + kRedrawIntervalNs, std::memory_order_relaxed);
    draw(false);
}

ProgressBar::~ProgressBar() { finish(); }

std::string ProgressBar::render(std::uint64_t position, std::uint64_t length, unsigned columns) {
    std::string counter(1, ' ');
    counter.append(std::to_string(position)).append(1, '/').append(std::to_string(length));
    std::uint64_t width = columns > counter.size() ? columns - counter.size() : 0;
    std::uint64_t done = width;
    if (length > 0) {
        std::uint64_t shown = std::min(position, length);
        // Exact in integers for any length: shown * width may not fit 64 bits.
        done = static_cast<std::uint64_t>((static_cast<unsigned __int128>(shown) * width) / length);
    }
    std::string line;
    line.reserve(width * kDoneCell.size() + counter.size());
    for (std::uint64_t i = 0; i < done; ++i) line += kDoneCell;
    for (std::uint64_t i = done; i < width; ++i) line += kRestCell;
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
        unsigned columns = output_.columns ? *output_.columns : terminal_columns(output_.fd);
        std::uint64_t position = position_.load(std::memory_order_relaxed);
        std::string text(1, '\r');
        text.append(render(position, length_, columns));
        if (final_line) text.push_back('\n');
        write_all(output_.fd, text);
    } catch (...) {
        // Out of memory for a line of text: skip the drawing, keep working.
    }
    drawing_.clear(std::memory_order_release);
}

void ProgressBar::finish() noexcept {
    if (finished_ || !output_.visible) return;
    finished_ = true;
    draw(true);
}

}  // namespace quelmar
