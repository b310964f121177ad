#pragma once
// The measures pass with its route to members' local ids chosen by the
// caller: tests force the search that graphs past MemberRanks::pays_off()
// take, and check it against the rank array. The public entry point
// (cluster_measures.h) always takes Automatic.

#include <span>
#include <stop_token>
#include <vector>

#include "runtime/progress.h"
#include "runtime/result.h"
#include "src/measures/cluster_measures.h"

namespace quelmar::measures::internal {

enum class RankRoute { Automatic, Search };

runtime::Result<std::vector<std::vector<double>>> compute_cluster_measures_routed(
    const EnrichedGraph& graph, std::span<const RichCluster* const> clusters,
    std::span<const ClusterMeasure> measures, runtime::PassProgress& progress, std::stop_token stop,
    RankRoute route);

}  // namespace quelmar::measures::internal
