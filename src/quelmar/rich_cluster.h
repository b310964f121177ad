#pragma once
// A packed cluster: the Roaring bitmap of its member node ids and its five
// counts n, m, c, mcd and vol (cluster_counts.h), computed once from the graph.
// Immutable after packing, except that a clustering builds its clusters'
// bitmaps on first need (rich_clustering.h).

#include <cstdint>
#include <span>
#include <vector>

#include "src/quelmar/cluster_counts.h"
#include "src/quelmar/enriched_graph.h"
#include "src/quelmar/member_bitmap.h"
#include "src/quelmar/node_marks.h"

namespace quelmar {

// The counts are a base, so that a packed cluster is its counts wherever
// counts are asked for (statistics, the Python skeleton).
struct RichCluster : ClusterCounts {
    // Empty until the owning clustering's build_members(), when it was packed
    // with the rest of its clustering.
    mutable MemberBitmap members;

    // Packs the members `ids` (node ids of `graph`, any order; repeats count
    // once).
    static RichCluster load_from_slice(const EnrichedGraph& graph,
                                       std::span<const std::uint32_t> ids);

    // The same result, reusing a worker's membership scratch (made for this
    // graph's node count) across many clusters.
    static RichCluster load_from_slice(const EnrichedGraph& graph,
                                       std::span<const std::uint32_t> ids, NodeMarks& scratch);

    // Whether member ids are in the ascending distinct form packing expects.
    static bool ascending_distinct(std::span<const std::uint32_t> ids);
    // Brings member ids to that form.
    static void make_ascending_distinct(std::vector<std::uint32_t>& ids);

    // The counts of a run of clusters laid end to end, without bitmaps:
    // counts[k] for cluster k, whose members (ascending, distinct) are
    // ids[bounds[k] - bounds[0], bounds[k + 1] - bounds[0]).
    static void count_run(const EnrichedGraph& graph, std::span<const std::uint32_t> ids,
                          std::span<const std::uint64_t> bounds, NodeMarks& scratch,
                          std::span<ClusterCounts> counts);
};

}  // namespace quelmar
