#pragma once
// The packed clusters of one clustering file, ascending by cluster id, with
// the graph they were packed against (kept alive by this reference) and the
// optional resolution of the constant-Potts-model statistic. Immutable once
// built; shared (std::shared_ptr<const>) by the Python Clustering object and
// every subset made from it.

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "runtime/progress.h"
#include "src/base/clustering.h"
#include "src/quelmar/enriched_graph.h"
#include "src/quelmar/rich_cluster.h"

namespace quelmar {

struct RichClustering {
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
};

using SharedClustering = std::shared_ptr<const RichClustering>;

}  // namespace quelmar
