#pragma once
// The stride that drives the bisection visit over n sorted fractions:
// 2 x (the smallest power of two that is at least n + 1). Absent when that
// does not fit in 64 bits, which happens exactly for n >= 2^62.

#include <cstdint>
#include <optional>

namespace quelmar::percentiles {

std::optional<std::uint64_t> checked_step(std::uint64_t n) noexcept;

}  // namespace quelmar::percentiles
