#pragma once
// Node -> clusters: for every node id below node_count, the indices of the
// clusters that hold it, ascending, as offsets plus one entry array. Only
// nodes of the universe are listed (others get an empty list). A node of
// `lone` (the universe nodes no cluster holds) gets one singleton index,
// first_lone + its rank in `lone`.
//
// Built on the worker pool from the clusters' member bitmaps; the lists are
// sorted afterwards, so they do not depend on the number of workers.

#include <cstdint>
#include <span>
#include <stop_token>
#include <vector>

#include <roaring/roaring.hh>

#include "src/quelmar/internal/node_bits.h"
#include "src/quelmar/rich_cluster.h"

namespace quelmar::internal {

struct MemberIndex {
    std::vector<std::uint64_t> offsets;  // node_count + 1
    std::vector<std::uint64_t> entries;
    // Per cluster, its members in the universe.
    std::vector<std::uint64_t> sizes;

    std::span<const std::uint64_t> of(std::uint64_t node) const noexcept {
        return {entries.data() + offsets[node], entries.data() + offsets[node + 1]};
    }

    // `universe` null: every node. Leaves the index incomplete (and returns
    // false) when `stop` was requested.
    static bool build(MemberIndex& index, std::uint64_t node_count,
                      std::span<const RichCluster* const> clusters, const NodeBits* universe,
                      const Roaring* lone, std::uint64_t first_lone, std::stop_token stop);
};

}  // namespace quelmar::internal
