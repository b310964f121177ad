#include "src/quelmar/rich_clustering.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <numeric>
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

namespace {

// Whether the clusters are as the loaders hand them over: ascending by id,
// each with ascending distinct members.
bool is_in_loaded_form(const base::Clustering& clustering) {
    if (!std::is_sorted(clustering.ids.begin(), clustering.ids.end())) return false;
    std::atomic<bool> ascending{true};
    runtime::parallel_for_ranges(
        clustering.size(), [&](std::size_t begin, std::size_t end, std::size_t) {
            for (std::size_t k = begin; k < end && ascending.load(std::memory_order_relaxed); ++k) {
                if (!RichCluster::ascending_distinct(clustering.members_of(k))) {
                    ascending.store(false, std::memory_order_relaxed);
                }
            }
        });
    return ascending.load();
}

// Brings a clustering built by hand to the loaders' form: clusters in
// ascending order of id (clusters of one id in the order given), members
// ascending and distinct.
base::Clustering to_loaded_form(base::Clustering given) {
    std::vector<std::size_t> order(given.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return given.ids[a] < given.ids[b]; });
    base::Clustering result;
    result.unknown_memberships = given.unknown_memberships;
    result.dropped_singletons = given.dropped_singletons;
    result.unassigned_nodes = given.unassigned_nodes;
    for (const std::size_t k : order) {
        std::vector<utils::NodeId> members(given.members_of(k).begin(), given.members_of(k).end());
        RichCluster::make_ascending_distinct(members);
        result.add(given.ids[k], members);
    }
    return result;
}

}  // namespace

RichClustering RichClustering::pack_from_clustering(SharedGraph graph, base::Clustering clustering,
                                                    runtime::PassProgress& progress) {
    // The lookup by id relies on ascending ids, and the counts on distinct
    // members.
    if (!is_in_loaded_form(clustering)) clustering = to_loaded_form(std::move(clustering));

    RichClustering packed;
    packed.graph = graph;
    packed.unknown_memberships = clustering.unknown_memberships;
    packed.dropped_singletons = clustering.dropped_singletons;
    packed.unassigned_nodes = clustering.unassigned_nodes;
    const std::size_t cluster_count = clustering.size();
    packed.clusters.resize(cluster_count);
    for (std::size_t i = 0; i < cluster_count; ++i) packed.clusters[i].first = clustering.ids[i];

    const EnrichedGraph& enriched = *graph;
    const std::uint64_t node_count = enriched.graph().node_count();
    // The members are taken over as they lie.
    auto store = std::make_shared<MemberStore>();
    store->start = std::move(clustering.starts);
    store->ids = std::move(clustering.members);

    // Counted a run of neighbouring clusters at a time, so that the walk
    // fetches ahead across them. One scratch per worker, its dense bitset
    // allocated on first use only.
    std::vector<std::unique_ptr<NodeMarks>> scratch(runtime::worker_count());
    runtime::ReportedPass pass(progress, cluster_count);
    runtime::parallel_for_ranges(cluster_count, [&](std::size_t begin, std::size_t end,
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

std::uint64_t RichClustering::member_count() const noexcept {
    if (const MemberStore* store = member_store.get()) return store->ids.size();
    std::uint64_t members = 0;
    for (const auto& entry : clusters) members += entry.second.n;
    return members;
}

const RichCluster* RichClustering::find(base::ClusterId id) const noexcept {
    auto it = std::lower_bound(clusters.begin(), clusters.end(), id, id_less);
    if (it == clusters.end() || it->first != id) return nullptr;
    return &it->second;
}

}  // namespace quelmar
