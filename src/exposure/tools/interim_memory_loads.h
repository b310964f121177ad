#pragma once
// Graphs and clusterings from arrays in memory, under the loaders' rules.

#include <optional>
#include <span>

#include "runtime/result.h"
#include "src/base/clustering.h"
#include "src/base/graph.h"
#include "src/utils/task_monitor.h"

namespace quelmar::exposure::tools {

runtime::Result<base::Graph> build_graph_from_pairs(std::span<const utils::NodeName> pairs,
                                                    std::span<const utils::NodeName> extra_names,
                                                    utils::TaskMonitor& monitor);

runtime::Result<base::Clustering> build_clustering_from_memberships(
    const base::Graph& graph, std::span<const utils::NodeName> nodes,
    std::span<const base::ClusterId> clusters);

}  // namespace quelmar::exposure::tools
