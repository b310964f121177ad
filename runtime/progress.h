#pragma once
// How a long parallel pass tells how far it got, without knowing who watches
// or how it is shown: libraries report, a renderer of the caller's choice
// draws (src/terminal draws on a terminal).
//
// A pass over `length` items calls begin(length) on its calling thread, then
// advance() from any worker as it takes items up, then end() on the calling
// thread, also when it is left by an exception (ReportedPass sees to that).
// Implementations make advance() cheap and safe from every worker at once;
// no call may fail or throw.

#include <cstdint>

namespace quelmar::runtime {

class PassProgress {
public:
    virtual ~PassProgress() = default;

    virtual void begin(std::uint64_t length) noexcept = 0;
    virtual void advance(std::uint64_t count) noexcept = 0;
    virtual void end() noexcept = 0;

    // The observer of passes nobody watches. It has no state, so every
    // thread may share it.
    static PassProgress& unwatched() noexcept;
};

// One pass as a scope: begin() when made, end() when left by any path.
class ReportedPass {
public:
    ReportedPass(PassProgress& progress, std::uint64_t length) noexcept : progress_(progress) {
        progress_.begin(length);
    }
    ~ReportedPass() { progress_.end(); }

    ReportedPass(const ReportedPass&) = delete;
    ReportedPass& operator=(const ReportedPass&) = delete;

    void advance(std::uint64_t count = 1) noexcept { progress_.advance(count); }

private:
    PassProgress& progress_;
};

}  // namespace quelmar::runtime
