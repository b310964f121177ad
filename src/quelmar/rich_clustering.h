#pragma once
// The packed clusters of one clustering file, ascending by cluster id, with
// the graph they were packed against (kept alive by this reference) and the
// optional resolution of the constant-Potts-model statistic. Immutable once
// built; shared (std::shared_ptr<const>) by the Python Clustering object and
// every subset made from it.
//
// Packing takes the counts at once and keeps the member ids in one flat
// array, 4 bytes per member, for the clustering's life: selections, size
// comparisons and the statistics read counts and ids only, and per cluster a
// bitmap costs several allocations. build_members() makes the bitmaps from
// the array, once, on the worker pool, for the passes that read
// RichCluster::members (which call it first). The bitmaps are the same
// either way.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
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
    std::uint64_t unassigned_nodes = 0;

    // Packs every cluster on the worker pool, reporting one pass over the
    // clusters to `progress`; the result does not depend on the number of
    // workers.
    static RichClustering pack_from_clustering(
        SharedGraph graph, base::Clustering clustering,
        runtime::PassProgress& progress = runtime::PassProgress::unwatched());

    // The cluster with this id, or null.
    const RichCluster* find(base::ClusterId id) const noexcept;

    // Cluster i's member ids (clusters[i]), ascending and distinct; empty
    // for a clustering not made by packing.
    std::span<const utils::NodeId> member_ids(std::size_t i) const noexcept;

    // The clusters' members counted together (the sum of their n), without
    // a pass over the clusters when packing kept the member ids.
    std::uint64_t member_count() const noexcept;

    // Gives every cluster its member bitmap; safe from several threads, and
    // cheap after the first call.
    void build_members() const;

    // The member ids, and once built, the memory the bitmaps are read from.
    // Views of it are freed with the clusters.
    struct MemberStore;
    std::shared_ptr<MemberStore> member_store;
};

using SharedClustering = std::shared_ptr<const RichClustering>;

}  // namespace quelmar
