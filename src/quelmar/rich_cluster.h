#pragma once
// A packed cluster: the Roaring bitmap of its member node ids and five counts
// computed once from the graph (degrees are in the whole graph):
//   n    members;
//   m    internal edges: adjacency entries of members leading to members, / 2
//        rounded down (an edge between two members counts 2 entries, a member's
//        self-loop 1);
//   c    cut size: adjacency entries of members leading to non-members;
//   mcd  smallest member degree;
//   vol  sum of member degrees (inside entries + c).
// Immutable after packing.

#include <cstdint>
#include <span>

#include <roaring/roaring.hh>

#include "quelmar/enriched_graph.h"

namespace quelmar {

struct RichCluster {
    Roaring members;
    std::uint64_t n = 0;
    std::uint64_t m = 0;
    std::uint64_t c = 0;
    std::uint64_t mcd = 0;
    std::uint64_t vol = 0;

    // Packs the distinct members `ids` (node ids of `graph`, any order).
    static RichCluster load_from_slice(const EnrichedGraph& graph,
                                       std::span<const std::uint32_t> ids);
};

}  // namespace quelmar
