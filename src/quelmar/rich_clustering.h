#pragma once
// The packed clusters of one clustering file, ascending by cluster id, with
// the graph they were packed against (kept alive by this reference) and the
// optional resolution of the constant-Potts-model statistic. Immutable once
// built; shared (std::shared_ptr<const>) by the Python Clustering object and
// every subset made from it.
//
// Packing takes the counts at once but keeps the member ids in one flat
// array until some pass needs the bitmaps: selections and size comparisons
// read counts only, and per cluster a bitmap costs several allocations where
// the flat array costs 4 bytes per member. build_members() turns the array
// into the bitmaps, once, on the worker pool; every pass that reads
// RichCluster::members calls it first. The bitmaps are the same either way.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "runtime/progress.h"
#include "src/base/clustering.h"
#include "src/quelmar/enriched_graph.h"
#include "src/quelmar/rich_cluster.h"

namespace quelmar {

struct RichClustering {
    RichClustering() = default;
    // Moved, never copied: a copy would share the pending member ids.
    RichClustering(RichClustering&&) = default;
    RichClustering& operator=(RichClustering&&) = default;
    RichClustering(const RichClustering&) = delete;
    RichClustering& operator=(const RichClustering&) = delete;

    SharedGraph graph;
    // Ascending by id, ids unique.
    std::vector<std::pair<base::ClusterId, RichCluster>> clusters;
    std::optional<double> cpm_resolution;
    // What loading left out (base::Clustering's counts, copied at packing).
    std::uint64_t unknown_memberships = 0;
    std::uint64_t dropped_singletons = 0;

    // Packs every cluster on the worker pool, reporting one pass over the
    // clusters to `progress`; the result does not depend on the number of
    // workers.
    static RichClustering pack_from_clustering(
        SharedGraph graph, base::Clustering clustering,
        runtime::PassProgress& progress = runtime::PassProgress::unwatched());

    // The cluster with this id, or null.
    const RichCluster* find(base::ClusterId id) const noexcept;

    // Gives every cluster its member bitmap; safe from several threads, and
    // cheap after the first call.
    void build_members() const;

    // The member ids until the bitmaps are built, then the memory the
    // bitmaps are read from. Views of it are freed with the clusters.
    struct MemberStore;
    std::shared_ptr<MemberStore> member_store;
};

using SharedClustering = std::shared_ptr<const RichClustering>;

}  // namespace quelmar
