#pragma once
// The five counts of a packed cluster, computed once from the graph when the
// cluster is packed (degrees are in the whole graph):
//   n    members;
//   m    internal edges: adjacency entries of members leading to members, / 2
//        rounded down (an edge between two members counts 2 entries, a member's
//        self-loop 1);
//   c    cut size: adjacency entries of members leading to non-members;
//   mcd  smallest member degree: the true minimum, so 0 when some member has
//        degree 0 (only snapshots can hold such nodes), and 0 for no members;
//   vol  sum of member degrees (inside entries + c).
// Every per-cluster statistic is a function of these (cluster_statistics.h).

#include <cstdint>

namespace quelmar {

struct ClusterCounts {
    std::uint64_t n = 0;
    std::uint64_t m = 0;
    std::uint64_t c = 0;
    std::uint64_t mcd = 0;
    std::uint64_t vol = 0;
};

}  // namespace quelmar
