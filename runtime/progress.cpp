#include "runtime/progress.h"

namespace quelmar::runtime {
namespace {

class Unwatched final : public PassProgress {
public:
    void begin(std::uint64_t) noexcept override {}
    void advance(std::uint64_t) noexcept override {}
    void end() noexcept override {}
};

}  // namespace

PassProgress& PassProgress::unwatched() noexcept {
    static Unwatched none;
    return none;
}

}  // namespace quelmar::runtime
