#pragma once
// Node -> clusters: for every node id below node_count, the indices of the
// clusters that hold it, ascending, as offsets plus one entry array. Only
// nodes of the universe are listed (others get an empty list). A node of
// `lone` (the universe nodes no cluster holds) gets one singleton index,
// first_lone + its rank in `lone`.
//
// Built on the worker pool from the clusters' member bitmaps; the lists are
// sorted afterwards, so they do not depend on the number of workers. When the
// clusters are known to be disjoint, each node holds one cluster at most and
// the index is one array of labels: a third of the memory reads per lookup,
// and no counting pass.

#include <cstdint>
#include <span>
#include <stop_token>
#include <vector>

#include <roaring/roaring.hh>

#include "runtime/prefetch.h"
#include "src/quelmar/node_marks.h"
#include "src/quelmar/rich_cluster.h"

namespace quelmar::agreement::internal {

struct MemberIndex {
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};
    bool disjoint = false;
    std::vector<std::uint64_t> labels;   // disjoint: the one cluster, or kNone
    std::vector<std::uint64_t> offsets;  // otherwise: node_count + 1
    std::vector<std::uint64_t> entries;
    // Per cluster, its members in the universe.
    std::vector<std::uint64_t> sizes;

    std::span<const std::uint64_t> of(std::uint64_t node) const noexcept {
        if (disjoint) return {labels.data() + node, labels[node] == kNone ? 0u : 1u};
        return {entries.data() + offsets[node], entries.data() + offsets[node + 1]};
    }

    // Hints that of(node) will be asked soon: first where its list starts
    // (the label itself when disjoint), later, once that arrived, the list.
    void prefetch_start(std::uint64_t node) const noexcept {
        runtime::prefetch(disjoint ? labels.data() + node : offsets.data() + node);
    }
    void prefetch_list(std::uint64_t node) const noexcept {
        if (!disjoint) runtime::prefetch(entries.data() + offsets[node]);
    }

    // `universe` null: every node. `disjoint`: no node of the universe is in
    // two of the clusters. Leaves the index incomplete (and returns false)
    // when `stop` was requested.
    static bool build(MemberIndex& index, std::uint64_t node_count,
                      std::span<const RichCluster* const> clusters, const NodeMarks* universe,
                      const Roaring* lone, std::uint64_t first_lone, bool disjoint,
                      std::stop_token stop);
};

}  // namespace quelmar::agreement::internal
