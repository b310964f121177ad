#pragma once
// A terminal progress bar for one long per-item pass, drawn on standard error
// only when it is a terminal: "{bar} {pos}/{len}", the bar filling the
// terminal's width with "█" for the done share and "░" for the rest. Length 0
// counts as complete.
//
// advance() is safe from every worker at once and cheap: one atomic increment;
// a redraw happens at most every ~100 ms, by whichever caller first notices
// the deadline has passed (a compare-exchange, no lock). finish() (or the
// destructor) draws the final state once more and ends the line, leaving the
// bar on screen. When not on a terminal nothing is counted or written.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace quelmar {

class ProgressBar {
public:
    // Where and whether to draw; injectable so tests can capture a drawing.
    struct Output {
        int fd = 2;
        bool visible = false;
        // Terminal width in columns; asked of the terminal on each draw when
        // absent (80 when it cannot tell).
        std::optional<unsigned> columns;

        // Standard error, visible when it is a terminal.
        static Output standard_error();
    };

    explicit ProgressBar(std::uint64_t length) : ProgressBar(length, Output::standard_error()) {}
    ProgressBar(std::uint64_t length, Output output);
    ~ProgressBar();

    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void advance(std::uint64_t count = 1) noexcept {
        if (!output_.visible) return;
        position_.fetch_add(count, std::memory_order_relaxed);
        maybe_redraw();
    }

    // Draws the final state and ends the line; later calls do nothing.
    void finish() noexcept;

    // The line for a bar of `columns` width (without carriage return).
    static std::string render(std::uint64_t position, std::uint64_t length, unsigned columns);

private:
    void maybe_redraw() noexcept;
    void draw(bool final_line) noexcept;

    const std::uint64_t length_;
    const Output output_;
    std::atomic<std::uint64_t> position_{0};
    std::atomic<std::int64_t> next_draw_ns_{0};
    std::atomic_flag drawing_ = ATOMIC_FLAG_INIT;
    bool finished_ = false;
};

}  // namespace quelmar
