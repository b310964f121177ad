#pragma once
// A packed cluster: the Roaring bitmap of its member node ids and five counts
// computed once from the graph (degrees are in the whole graph):
//   n    members;
//   m    internal edges: adjacency entries of members leading to members, / 2
//        rounded down (an edge between two members counts 2 entries, a member's
//        self-loop 1);
//   c    cut size: adjacency entries of members leading to non-members;
//   mcd  smallest member degree: the true minimum, so 0 when some member has
//        degree 0 (only snapshots can hold such nodes), and 0 for no members;
//   vol  sum of member degrees (inside entries + c).
// Immutable after packing.

#include <cstdint>
#include <span>

#include <roaring/roaring.hh>

#include "src/quelmar/enriched_graph.h"
#include "src/quelmar/node_marks.h"

namespace quelmar {

struct RichCluster {
    Roaring members;
    std::uint64_t n = 0;
    std::uint64_t m = 0;
    std::uint64_t c = 0;
    std::uint64_t mcd = 0;
    std::uint64_t vol = 0;

    // Packs the members `ids` (node ids of `graph`, any order; repeats count
    // once).
    static RichCluster load_from_slice(const EnrichedGraph& graph,
                                       std::span<const std::uint32_t> ids);

    // The same result, reusing a worker's membership scratch (made for this
    // graph's node count) across many clusters.
    static RichCluster load_from_slice(const EnrichedGraph& graph,
                                       std::span<const std::uint32_t> ids, NodeMarks& scratch);
};

}  // namespace quelmar
