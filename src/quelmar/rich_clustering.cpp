#include "src/quelmar/rich_clustering.h"

#include <algorithm>
#include <memory>

#include "runtime/parallel.h"
#include "src/quelmar/node_marks.h"

namespace quelmar {
namespace {

bool id_less(const std::pair<base::ClusterId, RichCluster>& entry, base::ClusterId id) {
    return entry.first < id;
}

}  // namespace

RichClustering RichClustering::pack_from_clustering(SharedGraph graph, base::Clustering clustering,
                                                    runtime::PassProgress& progress) {
    auto& loaded = clustering.clusters;
    // The loader yields ascending ids; the lookup by id relies on that order.
    auto by_id = [](const auto& a, const auto& b) { return a.first < b.first; };
    if (!std::is_sorted(loaded.begin(), loaded.end(), by_id)) {
        std::stable_sort(loaded.begin(), loaded.end(), by_id);
    }

    RichClustering packed;
    packed.graph = graph;
    packed.unknown_memberships = clustering.unknown_memberships;
    packed.dropped_singletons = clustering.dropped_singletons;
    packed.clusters.resize(loaded.size());

    const EnrichedGraph& enriched = *graph;
    const std::uint64_t node_count = enriched.graph().node_count();
    // One scratch per worker, its dense bitset allocated on first use only.
    std::vector<std::unique_ptr<NodeMarks>> scratch(runtime::worker_count());

    runtime::ReportedPass pass(progress, loaded.size());
    runtime::parallel_for_worker(loaded.size(), [&](std::size_t i, std::size_t worker) {
        pass.advance();
        auto& marks = scratch[worker];
        if (!marks) marks = std::make_unique<NodeMarks>(node_count);
        std::vector<utils::NodeId>& core = loaded[i].second.core;
        packed.clusters[i] = {loaded[i].first,
                              RichCluster::load_from_slice(enriched, core, *marks)};
        // Loaded member lists are dead weight once packed; dropping them as we
        // go keeps the peak near one copy of the clustering.
        std::vector<utils::NodeId>().swap(core);
    });
    return packed;
}

const RichCluster* RichClustering::find(base::ClusterId id) const noexcept {
    auto it = std::lower_bound(clusters.begin(), clusters.end(), id, id_less);
    if (it == clusters.end() || it->first != id) return nullptr;
    return &it->second;
}

}  // namespace quelmar
