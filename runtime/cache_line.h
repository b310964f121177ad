#pragma once
// Objects that different worker threads write side by side (per-block or
// per-shard scratch kept in one array) are aligned to a cache line each:
// sharing a line, every write of one thread would take the line from the
// other.

#include <cstddef>

namespace quelmar::runtime {

inline constexpr std::size_t kCacheLine = 64;

// A value alone on its cache line(s).
template <class T>
struct alignas(kCacheLine) OwnLine {
    T value;
};

}  // namespace quelmar::runtime
