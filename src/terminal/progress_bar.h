#pragma once
// The progress bar of a long per-item pass (packing, statistics), drawn on
// standard error only when it is a terminal: "{bar} {pos}/{len}", the bar
// filling the terminal's width with "█" for the done share and "░" for the
// rest. Length 0 counts as complete.
//
// It renders the passes it is told about (runtime::PassProgress): begin()
// draws the empty bar, advance() is safe from every worker at once and cheap
// (one atomic increment; a redraw happens at most every ~100 ms, by whichever
// caller first notices the deadline has passed: a compare-exchange, no lock),
// end() draws the final state once more and ends the line, leaving the bar on
// screen. When not on a terminal nothing is counted or written.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "runtime/progress.h"

namespace quelmar::terminal {

class ProgressBar final : public runtime::PassProgress {
public:
    // Where and whether to draw; injectable so tests can capture a drawing.
    struct Output {
        int fd = 2;
        bool visible = false;
        // Terminal width in columns; asked of the terminal on each draw when
        // absent.
        std::optional<unsigned> columns;

        // Standard error, visible when it is a terminal.
        static Output standard_error();
    };

    ProgressBar() : ProgressBar(Output::standard_error()) {}
    explicit ProgressBar(Output output) : output_(output) {}
    // Ends a pass still open.
    ~ProgressBar() override { end(); }

    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void begin(std::uint64_t length) noexcept override;
    void advance(std::uint64_t count) noexcept override {
        if (!output_.visible) return;
        position_.fetch_add(count, std::memory_order_relaxed);
        maybe_redraw();
    }
    // Later calls, until the next begin(), do nothing.
    void end() noexcept override;

    // The line for a bar of `columns` width (without carriage return).
    static std::string render(std::uint64_t position, std::uint64_t length, unsigned columns);

private:
    void maybe_redraw() noexcept;
    void draw(bool final_line) noexcept;

    const Output output_;
    std::uint64_t length_ = 0;
    std::atomic<std::uint64_t> position_{0};
    std::atomic<std::int64_t> next_draw_ns_{0};
    std::atomic_flag drawing_ = ATOMIC_FLAG_INIT;
    bool open_ = false;
};

}  // namespace quelmar::terminal
