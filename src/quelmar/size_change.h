#pragma once
// The relative change of a cluster's size from `before` to `after` members:
// (after - before) / before, both counts converted to double first and each
// step rounded on its own.

#include <cstdint>

namespace quelmar {

inline double relative_size_change(std::uint64_t before, std::uint64_t after) noexcept {
    const double from = static_cast<double>(before);
    const double to = static_cast<double>(after);
    return (to - from) / from;
}

}  // namespace quelmar
