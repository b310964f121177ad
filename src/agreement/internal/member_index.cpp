#include "src/agreement/internal/member_index.h"

#include <algorithm>

#include "runtime/parallel.h"

namespace quelmar::agreement::internal {
namespace {

// Clusters walked on the calling thread between two looks at the stop token.
constexpr std::size_t kStopCheck = 4096;

// Calls visit(v) for every member of `cluster` in the universe, ascending.
template <class Visit>
void for_universe_members(const RichCluster& cluster, const NodeMarks* universe,
                          std::vector<std::uint32_t>& scratch, Visit&& visit) {
    scratch.resize(cluster.members.cardinality());
    cluster.members.toUint32Array(scratch.data());
    if (universe) {
        for (std::uint32_t v : scratch) {
            if (universe->marked(v)) visit(v);
        }
    } else {
        for (std::uint32_t v : scratch) visit(v);
    }
}

}  // namespace

bool MemberIndex::build(MemberIndex& index, std::uint64_t node_count,
                        std::span<const RichCluster* const> clusters, const NodeMarks* universe,
                        const Roaring* lone, std::uint64_t first_lone, bool disjoint,
                        std::stop_token stop) {
    const std::size_t workers = runtime::worker_count();
    std::vector<std::vector<std::uint32_t>> scratch(workers);
    index.disjoint = disjoint;
    index.sizes.assign(clusters.size(), 0);
    if (disjoint) {
        // Each node is written by its one cluster: no two workers meet.
        index.labels.assign(node_count, kNone);
        runtime::parallel_for_worker(clusters.size(), [&](std::size_t i, std::size_t worker) {
            if (stop.stop_requested()) return;
            std::uint64_t size = 0;
            for_universe_members(*clusters[i], universe, scratch[worker], [&](std::uint32_t v) {
                index.labels[v] = i;
                ++size;
            });
            index.sizes[i] = size;
        });
        if (lone) {
            std::uint64_t rank = 0;
            for (std::uint32_t v : *lone) index.labels[v] = first_lone + rank++;
        }
        return !stop.stop_requested();
    }
    // Sizes on the pool; the lists on the calling thread, cluster by cluster,
    // so that each list comes out ascending and no write needs an atomic:
    // with the lookups waiting on memory either way, this beat counting and
    // filling on the pool with atomic cursors and sorting afterwards.
    runtime::parallel_for_worker(clusters.size(), [&](std::size_t i, std::size_t worker) {
        if (stop.stop_requested()) return;
        std::uint64_t size = 0;
        for_universe_members(*clusters[i], universe, scratch[worker],
                             [&](std::uint32_t) { ++size; });
        index.sizes[i] = size;
    });
    if (stop.stop_requested()) return false;
    index.offsets.assign(node_count + 1, 0);
    std::vector<std::uint32_t>& members = scratch[0];
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        if (i % kStopCheck == 0 && stop.stop_requested()) return false;
        for_universe_members(*clusters[i], universe, members,
                             [&](std::uint32_t v) { ++index.offsets[v + 1]; });
    }
    if (lone) {
        for (std::uint32_t v : *lone) ++index.offsets[v + 1];
    }
    for (std::uint64_t v = 0; v < node_count; ++v) index.offsets[v + 1] += index.offsets[v];
    if (stop.stop_requested()) return false;
    std::vector<std::uint64_t> cursor(index.offsets.begin(), index.offsets.end() - 1);
    index.entries.assign(index.offsets[node_count], 0);
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        if (i % kStopCheck == 0 && stop.stop_requested()) return false;
        for_universe_members(*clusters[i], universe, members,
                             [&](std::uint32_t v) { index.entries[cursor[v]++] = i; });
    }
    if (lone) {
        std::uint64_t rank = 0;
        for (std::uint32_t v : *lone) index.entries[cursor[v]++] = first_lone + rank++;
    }
    return !stop.stop_requested();
}

}  // namespace quelmar::agreement::internal
