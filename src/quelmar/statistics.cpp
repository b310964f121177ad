#include <span>
#include <string>
#include <vector>

#include "runtime/log.h"
#include "runtime/parallel.h"
#include "src/quelmar/cluster_statistics.h"
#include "src/quelmar/clustering_handle.h"
#include "src/quelmar/covered_slots.h"
#include "src/quelmar/node_marks.h"

namespace quelmar {
namespace {

// Distinct nodes among the clusters' members, marked in a bitset over every
// node id: untouched pages cost nothing, and the marks of a few million
// members take a few milliseconds on one thread.
std::uint64_t count_covered_nodes(std::uint64_t node_count,
                                  std::span<const std::span<const utils::NodeId>> members) {
    if (members.empty()) return 0;
    if (members.size() == 1) return members[0].size();
    NodeMarks covered(node_count);
    std::uint64_t count = 0;
    for (const std::span<const utils::NodeId> ids : members)
        count += covered.mark_counting_new(ids);
    return count;
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
    // The clusters were packed against the clustering's own graph.
    const EnrichedGraph& enriched = *packed.graph;

    std::vector<const RichCluster*> clusters;
    std::vector<std::span<const utils::NodeId>> members;
    for (const auto* entry : selected()) {
        clusters.push_back(&entry->second);
        members.push_back(packed.member_ids(entry - packed.clusters.data()));
    }

    GraphStats stats;
    stats.num_clusters = clusters.size();
    stats.covered_nodes = count_covered_nodes(enriched.graph().node_count(), members);
    runtime::log::debug_with(runtime::log::kTargetQuelmar, [&] {
        return "covered nodes: " + std::to_string(stats.covered_nodes);
    });

    {
        runtime::ReportedPass pass(progress, clusters.size());
        std::uint64_t covered_slots = count_covered_slots(
            enriched, clusters, members, stats.covered_nodes, CoverageRoute::Automatic, progress);
        stats.covered_edges = covered_slots / 2;
    }

    stats.total_nodes = enriched.graph().node_count();
    stats.total_edges = enriched.graph().m_cache();
    return stats;
}

}  // namespace quelmar
