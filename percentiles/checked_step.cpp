#include "percentiles/checked_step.h"

#include <bit>
#include <limits>

namespace quelmar::percentiles {

std::optional<std::uint64_t> checked_step(std::uint64_t n) noexcept {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    constexpr std::uint64_t kHighestPowerOfTwo = std::uint64_t{1} << 63;
    if (n == kMax) return std::nullopt;
    const std::uint64_t count = n + 1;
    if (count > kHighestPowerOfTwo) return std::nullopt;
    const std::uint64_t power = std::bit_ceil(count);
    if (power > kMax / 2) return std::nullopt;
    return power * 2;
}

}  // namespace quelmar::percentiles
