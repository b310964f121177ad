#include <string>
#include <vector>

#include <roaring/roaring.hh>

#include "runtime/log.h"
#include "runtime/parallel.h"
#include "src/quelmar/cluster_statistics.h"
#include "src/quelmar/clustering_handle.h"
#include "src/quelmar/covered_slots.h"

namespace quelmar {
namespace {

std::uint64_t count_covered_nodes(const std::vector<const RichCluster*>& clusters) {
    if (clusters.empty()) return 0;
    if (clusters.size() == 1) return clusters[0]->members.cardinality();
    std::vector<const MemberBitmap*> bitmaps;
    bitmaps.reserve(clusters.size());
    for (const RichCluster* cluster : clusters) bitmaps.push_back(&cluster->members);
    return union_of(bitmaps).cardinality();
}

// One summary per statistic of the table that applies, in table order; the
// values of each are computed on the worker pool.
void summarise_statistics(
    const std::vector<const RichCluster*>& clusters, const RichClustering& packed,
    std::vector<std::pair<StatisticsType, quality::SummarizedDistribution>>& distributions) {
    const StatisticInputs inputs{packed.graph->graph().m_cache(),
                                 packed.cpm_resolution.value_or(0.0)};
    for (const StatisticDefinition& statistic : kStatistics) {
        if (!is_computed(statistic, packed.cpm_resolution.has_value())) continue;
        std::vector<double> values = runtime::parallel_map(
            clusters.size(), [&](std::size_t i) { return statistic.value(*clusters[i], inputs); });
        distributions.emplace_back(statistic.type,
                                   quality::DistributionSummary::from_values(std::move(values)));
    }
}

}  // namespace

GraphStats ClusteringHandle::stats(runtime::PassProgress& progress) const {
    GraphStats stats = coverage(progress);
    std::vector<const RichCluster*> clusters;
    for (const auto* entry : selected()) clusters.push_back(&entry->second);
    summarise_statistics(clusters, *clustering, stats.distributions);
    return stats;
}

GraphStats ClusteringHandle::coverage(runtime::PassProgress& progress) const {
    const RichClustering& packed = *clustering;
    packed.build_members();
    // The clusters were packed against the clustering's own graph.
    const EnrichedGraph& enriched = *packed.graph;

    std::vector<const RichCluster*> clusters;
    for (const auto* entry : selected()) clusters.push_back(&entry->second);

    GraphStats stats;
    stats.num_clusters = clusters.size();
    stats.covered_nodes = count_covered_nodes(clusters);
    runtime::log::debug_with(runtime::log::kTargetQuelmar, [&] {
        return "covered nodes: " + std::to_string(stats.covered_nodes);
    });

    {
        runtime::ReportedPass pass(progress, clusters.size());
        std::uint64_t covered_slots = count_covered_slots(enriched, clusters, stats.covered_nodes,
                                                          CoverageRoute::Automatic, progress);
        stats.covered_edges = covered_slots / 2;
    }

    stats.total_nodes = enriched.graph().node_count();
    stats.total_edges = enriched.graph().m_cache();
    return stats;
}

}  // namespace quelmar
