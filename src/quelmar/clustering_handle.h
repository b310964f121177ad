#pragma once
// A selection of clusters: shared references to the graph and the packed
// clustering plus the ascending, duplicate-free ids selected. Ids that name no
// cluster stay in keys and select nothing. Making a handle copies no cluster.
// A handle is immutable; any number of threads may run its operations at once.

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/progress.h"
#include "runtime/result.h"
#include "src/quality/distribution_summary.h"
#include "src/quelmar/cluster_statistics.h"
#include "src/quelmar/rich_clustering.h"

namespace quelmar {

// The failure of size_diff when the other clustering lacks a selected id.
inline constexpr std::string_view kNoEntryFoundForKey = "no entry found for key";

struct GraphStats {
    // Counts are full 64-bit values: a graph may hold 2^32 nodes, which a
    // 32-bit field would report as 0.
    std::uint64_t num_clusters = 0;   // selected ids that name a cluster
    std::uint64_t covered_nodes = 0;  // distinct nodes in the selected clusters
    // Covered adjacency slots / 2, rounded down: an edge between two members of
    // one selected cluster has 2 slots, a member's self-loop 1. Shares its
    // footing with total_edges, so covered_edges <= total_edges always.
    std::uint64_t covered_edges = 0;
    std::uint64_t total_nodes = 0;
    std::uint64_t total_edges = 0;  // the graph's m_cache
    // One summary per computed statistic, in the order of kStatistics (Cpm
    // only when the clustering has a resolution).
    std::vector<std::pair<StatisticsType, quality::SummarizedDistribution>> distributions;
};

struct SizeDiff {
    std::uint64_t grown = 0;  // relative changes above 0.0
    quality::SummarizedDistribution changes;
};

struct ClusteringHandle {
    SharedGraph graph;
    SharedClustering clustering;
    std::vector<base::ClusterId> keys;  // ascending, unique

    // Sorts and deduplicates `ids`; the graph is the clustering's own.
    static ClusteringHandle select_ids(SharedClustering clustering,
                                       std::vector<base::ClusterId> ids);

    // The clusters of `clustering` whose id is in keys, ascending by id.
    std::vector<const std::pair<base::ClusterId, RichCluster>*> selected() const;

    // Coverage and per-cluster statistics of the selected clusters, computed on
    // the worker pool; the pass that counts covered edges is reported to
    // `progress`. Never fails; the result
    // does not depend on the number of workers.
    GraphStats stats(runtime::PassProgress& progress = runtime::PassProgress::unwatched()) const;

    // The same counts without the distributions, for callers that need only
    // how much the selection covers.
    GraphStats coverage(runtime::PassProgress& progress = runtime::PassProgress::unwatched()) const;

    // Relative size change (n_other - n) / n of every selected cluster against
    // the cluster of the same id in `other`, on the calling thread. Fails with
    // kNoEntryFoundForKey when `other` lacks one of them.
    runtime::Result<SizeDiff> size_diff(const RichClustering& other) const;
};

}  // namespace quelmar
