#include "src/quelmar/rich_clustering.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "runtime/parallel.h"
#include "src/quelmar/node_marks.h"

namespace quelmar {
namespace {

// Clusters per slab of serialised bitmaps: enough that a slab is large,
// few enough that a run's bitmaps, briefly held twice, stay small.
constexpr std::size_t kRunClusters = 4096;

bool id_less(const std::pair<base::ClusterId, RichCluster>& entry, base::ClusterId id) {
    return entry.first < id;
}

}  // namespace

struct RichClustering::MemberStore {
    std::once_flag built;
    // Cluster i's members are ids[start[i] .. start[i + 1]), ascending.
    std::vector<std::uint64_t> start;
    std::vector<utils::NodeId> ids;
    // Once built, the clusters' bitmaps, serialised, a run of clusters per
    // slab.
    std::vector<MemberSlab> slabs;
};

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
    runtime::parallel_for(loaded.size(), [&](std::size_t i) {
        RichCluster::make_ascending_distinct(loaded[i].second.core);
    });
    auto store = std::make_shared<MemberStore>();
    store->start.resize(loaded.size() + 1, 0);
    for (std::size_t i = 0; i < loaded.size(); ++i) {
        store->start[i + 1] = store->start[i] + loaded[i].second.core.size();
    }
    store->ids.resize(store->start.back());

    runtime::parallel_for(loaded.size(), [&](std::size_t i) {
        packed.clusters[i].first = loaded[i].first;
        std::vector<utils::NodeId>& core = loaded[i].second.core;
        std::copy(core.begin(), core.end(), store->ids.begin() + store->start[i]);
        // Loaded member lists are dead weight once copied; dropping them as we
        // go keeps the peak near one copy of the clustering.
        std::vector<utils::NodeId>().swap(core);
    });

    // Counted a run of neighbouring clusters at a time, so that the walk
    // fetches ahead across them. One scratch per worker, its dense bitset
    // allocated on first use only.
    std::vector<std::unique_ptr<NodeMarks>> scratch(runtime::worker_count());
    runtime::ReportedPass pass(progress, loaded.size());
    runtime::parallel_for_ranges(loaded.size(), [&](std::size_t begin, std::size_t end,
                                                    std::size_t worker) {
        pass.advance(end - begin);
        auto& marks = scratch[worker];
        if (!marks) marks = std::make_unique<NodeMarks>(node_count);
        std::vector<ClusterCounts> counts(end - begin);
        const std::span<const std::uint64_t> bounds(store->start.data() + begin, end - begin + 1);
        RichCluster::count_run(enriched,
                               std::span<const utils::NodeId>(store->ids)
                                   .subspan(bounds.front(), bounds.back() - bounds.front()),
                               bounds, *marks, counts);
        for (std::size_t i = begin; i < end; ++i) {
            static_cast<ClusterCounts&>(packed.clusters[i].second) = counts[i - begin];
        }
    });
    packed.member_store = std::move(store);
    return packed;
}

// Runs of clusters are built side by side: each run's bitmaps are made,
// then serialised into one slab of exactly their size and read from there.
void RichClustering::build_members() const {
    MemberStore* store = member_store.get();
    if (!store) return;
    std::call_once(store->built, [&] {
        const std::size_t runs = (clusters.size() + kRunClusters - 1) / kRunClusters;
        store->slabs.resize(runs);
        runtime::parallel_for(runs, [&](std::size_t run) {
            const std::size_t first = run * kRunClusters;
            const std::size_t last = std::min(clusters.size(), first + kRunClusters);
            std::vector<Roaring> bitmaps(last - first);
            for (std::size_t i = first; i < last; ++i) {
                const std::span<const utils::NodeId> ids(store->ids.data() + store->start[i],
                                                         store->start[i + 1] - store->start[i]);
                Roaring& bitmap = bitmaps[i - first];
                bitmap.addMany(ids.size(), ids.data());
                bitmap.runOptimize();
            }
            std::vector<MemberBitmap> views = MemberSlab::freeze(bitmaps, store->slabs[run]);
            for (std::size_t i = first; i < last; ++i) {
                clusters[i].second.members = std::move(views[i - first]);
            }
        });
    });
}

std::span<const utils::NodeId> RichClustering::member_ids(std::size_t i) const noexcept {
    const MemberStore* store = member_store.get();
    if (!store) return {};
    return std::span<const utils::NodeId>(store->ids)
        .subspan(store->start[i], store->start[i + 1] - store->start[i]);
}

const RichCluster* RichClustering::find(base::ClusterId id) const noexcept {
    auto it = std::lower_bound(clusters.begin(), clusters.end(), id, id_less);
    if (it == clusters.end() || it->first != id) return nullptr;
    return &it->second;
}

}  // namespace quelmar
