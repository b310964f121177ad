#pragma once
// Node ids of a finished graph are dense indices stored in 32 bits, so a graph
// holds at most 2^32 nodes. Shared by the graph model and the snapshot reader.

#include <cstdint>

namespace quelmar::utils {

using NodeId = std::uint32_t;
inline constexpr std::uint64_t kMaxNodes = std::uint64_t{1} << 32;

}  // namespace quelmar::utils
