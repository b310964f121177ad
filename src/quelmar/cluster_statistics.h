#pragma once
// The value of one per-cluster statistic, from the counts stored in a packed
// cluster (no graph walk). Every integer is converted to the nearest double
// and every operation rounds on its own (the build forbids fused
// multiply-add), so values are bit-identical on every run. Zero denominators
// are not guarded: Modularity over an edgeless graph is NaN, which the
// summaries leave out.

#include <cstdint>

#include "src/quelmar/clustering_handle.h"
#include "src/quelmar/rich_cluster.h"

namespace quelmar {

struct StatisticInputs {
    std::uint64_t total_edges = 0;  // the graph's m_cache (M)
    double cpm_resolution = 0.0;    // used by Cpm only
};

double statistic_value(StatisticsType type, const RichCluster& cluster,
                       const StatisticInputs& inputs) noexcept;

}  // namespace quelmar
