#include "src/quelmar/internal/member_index.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "runtime/parallel.h"

namespace quelmar::internal {
namespace {

// Calls visit(v) for every member of `cluster` in the universe, ascending.
template <class Visit>
void for_universe_members(const RichCluster& cluster, const NodeBits* universe,
                          std::vector<std::uint32_t>& scratch, Visit&& visit) {
    scratch.resize(cluster.members.cardinality());
    cluster.members.toUint32Array(scratch.data());
    if (universe) {
        for (std::uint32_t v : scratch) {
            if (universe->contains(v)) visit(v);
        }
    } else {
        for (std::uint32_t v : scratch) visit(v);
    }
}

}  // namespace

bool MemberIndex::build(MemberIndex& index, std::uint64_t node_count,
                        std::span<const RichCluster* const> clusters, const NodeBits* universe,
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
    // Counts per node first, then every cluster writes its index at a cursor.
    std::unique_ptr<std::atomic<std::uint64_t>[]> cursor(
        new std::atomic<std::uint64_t>[node_count + 1]());
    runtime::parallel_for_worker(clusters.size(), [&](std::size_t i, std::size_t worker) {
        if (stop.stop_requested()) return;
        std::uint64_t size = 0;
        for_universe_members(*clusters[i], universe, scratch[worker], [&](std::uint32_t v) {
            cursor[v + 1].fetch_add(1, std::memory_order_relaxed);
            ++size;
        });
        index.sizes[i] = size;
    });
    if (stop.stop_requested()) return false;
    if (lone) {
        for (std::uint32_t v : *lone) cursor[v + 1].fetch_add(1, std::memory_order_relaxed);
    }
    index.offsets.assign(node_count + 1, 0);
    for (std::uint64_t v = 0; v < node_count; ++v) {
        index.offsets[v + 1] = index.offsets[v] + cursor[v + 1].load(std::memory_order_relaxed);
        cursor[v].store(index.offsets[v], std::memory_order_relaxed);
    }
    index.entries.assign(index.offsets[node_count], 0);
    runtime::parallel_for_worker(clusters.size(), [&](std::size_t i, std::size_t worker) {
        if (stop.stop_requested()) return;
        for_universe_members(*clusters[i], universe, scratch[worker], [&](std::uint32_t v) {
            index.entries[cursor[v].fetch_add(1, std::memory_order_relaxed)] = i;
        });
    });
    if (stop.stop_requested()) return false;
    if (lone) {
        std::uint64_t rank = 0;
        for (std::uint32_t v : *lone) index.entries[index.offsets[v]] = first_lone + rank++;
    }
    // Only nodes in several clusters have lists to put in order.
    constexpr std::uint64_t kBlock = std::uint64_t{1} << 16;
    runtime::parallel_for((node_count + kBlock - 1) / kBlock, [&](std::size_t block) {
        const std::uint64_t end = std::min(node_count, (block + 1) * kBlock);
        for (std::uint64_t v = block * kBlock; v < end; ++v) {
            const std::uint64_t from = index.offsets[v], to = index.offsets[v + 1];
            if (to - from > 1) std::sort(index.entries.begin() + from, index.entries.begin() + to);
        }
    });
    return !stop.stop_requested();
}

}  // namespace quelmar::internal
