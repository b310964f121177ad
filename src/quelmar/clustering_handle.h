#pragma once
// A selection of clusters: shared references to the graph and the packed
// clustering plus the ascending, duplicate-free ids selected. Ids that name no
// cluster stay in keys and select nothing. Making a handle copies no cluster.

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "quality/distribution_summary.h"
#include "quelmar/rich_clustering.h"
#include "runtime/result.h"

namespace quelmar {

enum class StatisticsType { Mcd, Cpm, Size, Modularity, DeviationTreeness, Density };

// "Mcd", "Cpm", "Size", "Modularity", "DeviationTreeness", "Density".
std::string_view display_text(StatisticsType type) noexcept;

struct GraphStats {
    std::uint32_t num_clusters = 0;
    std::uint32_t covered_nodes = 0;
    std::uint64_t covered_edges = 0;
    std::uint32_t total_nodes = 0;
    std::uint64_t total_edges = 0;
    // One summary per computed statistic, in computation order: Mcd, Size,
    // Modularity, DeviationTreeness, Density, then Cpm when a resolution is set.
    std::vector<std::pair<StatisticsType, SummarizedDistribution>> distributions;
};

struct SizeDiff {
    std::uint32_t grown = 0;  // relative changes above 0.0
    SummarizedDistribution changes;
};

struct ClusteringHandle {
    SharedGraph graph;
    SharedClustering clustering;
    std::vector<ClusterId> keys;  // ascending, unique

    // Sorts and deduplicates `ids`.
    static ClusteringHandle select_ids(SharedClustering clustering, std::vector<ClusterId> ids);

    // Coverage and per-cluster statistics of the selected clusters, computed on
    // the worker pool. Never fails.
    GraphStats stats() const;

    // Relative size change of every selected cluster against the cluster of the
    // same id in `other`. Fails with "no entry found for key" when `other`
    // lacks one of them.
    Result<SizeDiff> size_diff(const RichClustering& other) const;
};

}  // namespace quelmar
