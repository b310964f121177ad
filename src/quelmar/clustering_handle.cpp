#include "src/quelmar/clustering_handle.h"

#include <algorithm>
#include <bit>

namespace quelmar {

ClusteringHandle ClusteringHandle::select_ids(SharedClustering clustering,
                                              std::vector<base::ClusterId> ids) {
    // Ids often come ascending already (every cluster's, in order): the
    // sort is then skipped.
    if (!std::is_sorted(ids.begin(), ids.end())) std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    SharedGraph graph = clustering->graph;
    return ClusteringHandle{std::move(graph), std::move(clustering), std::move(ids)};
}

std::vector<const std::pair<base::ClusterId, RichCluster>*> ClusteringHandle::selected() const {
    std::vector<const std::pair<base::ClusterId, RichCluster>*> kept;
    const auto& clusters = clustering->clusters;
    const std::size_t lookups_cost = keys.size() * (std::bit_width(clusters.size()) + 1);
    if (lookups_cost < clusters.size()) {
        // Few keys against many clusters: search each one.
        auto from = clusters.begin();
        for (base::ClusterId id : keys) {
            from = std::lower_bound(
                from, clusters.end(), id,
                [](const auto& entry, base::ClusterId k) { return entry.first < k; });
            if (from == clusters.end()) break;
            if (from->first == id) kept.push_back(&*from);
        }
        return kept;
    }
    // Otherwise one merge of the two ascending sequences.
    auto key = keys.begin();
    for (const auto& entry : clusters) {
        while (key != keys.end() && *key < entry.first) ++key;
        if (key == keys.end()) break;
        if (*key == entry.first) kept.push_back(&entry);
    }
    return kept;
}

}  // namespace quelmar
