#include "src/quelmar/rich_cluster.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

#include "src/quelmar/member_walk.h"

namespace quelmar {
namespace {

struct Counts {
    std::uint64_t inside = 0;
    std::uint64_t vol = 0;
    std::uint64_t mcd = 0;
};

// Tallies the entries of a walk over the members (a walk_members call,
// given the visitor).
template <class Walk>
Counts count_entries(std::span<const utils::NodeId> ids, Walk&& walk) {
    Counts counts;
    std::uint64_t mcd = std::numeric_limits<std::uint64_t>::max();
    walk([&](utils::NodeId, std::span<const utils::NodeId> neighbours, auto is_member) {
        counts.vol += neighbours.size();
        mcd = std::min<std::uint64_t>(mcd, neighbours.size());
        std::uint64_t inside = 0;
        for (utils::NodeId v : neighbours) inside += is_member(v) ? 1 : 0;
        counts.inside += inside;
    });
    counts.mcd = ids.empty() ? 0 : mcd;
    return counts;
}

ClusterCounts counts_of(std::uint64_t n, const Counts& counts) {
    return {.n = n,
            .m = counts.inside >> 1,
            .c = counts.vol - counts.inside,
            .mcd = counts.mcd,
            .vol = counts.vol};
}

RichCluster pack(const EnrichedGraph& enriched, std::span<const utils::NodeId> ids,
                 NodeMarks* scratch) {
    // The loader hands over ascending distinct ids; anything else is brought
    // to that form so that a repeated id can neither inflate n nor the counts.
    std::vector<utils::NodeId> sorted;
    if (!RichCluster::ascending_distinct(ids)) {
        sorted.assign(ids.begin(), ids.end());
        RichCluster::make_ascending_distinct(sorted);
        ids = sorted;
    }

    RichCluster cluster;
    cluster.members = MemberBitmap::of(ids);
    const Counts counts = count_entries(ids, [&](auto&& visit) {
        walk_members(enriched.graph(), ids, cluster.members, scratch, visit);
    });
    static_cast<ClusterCounts&>(cluster) = counts_of(ids.size(), counts);
    return cluster;
}

}  // namespace

RichCluster RichCluster::load_from_slice(const EnrichedGraph& graph,
                                         std::span<const std::uint32_t> ids) {
    return pack(graph, ids, nullptr);
}

RichCluster RichCluster::load_from_slice(const EnrichedGraph& graph,
                                         std::span<const std::uint32_t> ids, NodeMarks& scratch) {
    return pack(graph, ids, &scratch);
}

bool RichCluster::ascending_distinct(std::span<const std::uint32_t> ids) {
    return std::adjacent_find(ids.begin(), ids.end(), std::greater_equal<utils::NodeId>()) ==
           ids.end();
}

void RichCluster::make_ascending_distinct(std::vector<std::uint32_t>& ids) {
    if (RichCluster::ascending_distinct(ids)) return;
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
}

void RichCluster::count_run(const EnrichedGraph& graph, std::span<const std::uint32_t> ids,
                            std::span<const std::uint64_t> bounds, NodeMarks& scratch,
                            std::span<ClusterCounts> counts) {
    walk_clusters(graph.graph(), ids, bounds, &scratch,
                  [&](std::size_t k, std::span<const utils::NodeId> members, auto&& walk) {
                      counts[k] = counts_of(members.size(), count_entries(members, walk));
                  });
}

}  // namespace quelmar
