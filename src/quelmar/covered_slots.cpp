#include "src/quelmar/covered_slots.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <memory>
#include <vector>

#include <roaring/roaring.hh>

#include "runtime/parallel.h"
#include "src/quelmar/member_walk.h"
#include "src/quelmar/node_marks.h"
#include "src/utils/page_memory.h"

namespace quelmar {
namespace {

// Per-worker state for walking the adjacency of a run of clusters.
struct WalkScratch {
    explicit WalkScratch(std::uint64_t node_count) : marks(node_count) {}
    NodeMarks marks;
    // The run's members laid end to end, and where each cluster's begin.
    std::vector<utils::NodeId> members;
    std::vector<std::uint64_t> bounds;
    std::vector<std::uint32_t> low_slots;  // compressed route only
};

// Calls body(i, walk_slots, scratch) for every cluster i, where
// walk_slots(emit) calls emit(slot) for every covered slot of cluster i,
// strictly ascending. Clusters are walked a run of neighbours at a time, so
// that the walk fetches ahead across them.
template <class Body>
void for_each_cluster(const EnrichedGraph& enriched,
                      std::span<const std::span<const utils::NodeId>> clusters,
                      runtime::PassProgress& progress, Body&& body) {
    std::vector<std::unique_ptr<WalkScratch>> scratch(runtime::worker_count());
    const base::Graph& graph = enriched.graph();
    const std::span<const std::uint64_t> offsets = enriched.edge_offsets();
    runtime::parallel_for_ranges(clusters.size(), [&](std::size_t begin, std::size_t end,
                                                      std::size_t worker) {
        auto& mine = scratch[worker];
        if (!mine) mine = std::make_unique<WalkScratch>(graph.node_count());
        std::vector<std::uint64_t>& bounds = mine->bounds;
        bounds.assign(1, 0);
        for (std::size_t i = begin; i < end; ++i)
            bounds.push_back(bounds.back() + clusters[i].size());
        mine->members.resize(bounds.back());
        for (std::size_t i = begin; i < end; ++i) {
            std::copy(clusters[i].begin(), clusters[i].end(),
                      mine->members.begin() + bounds[i - begin]);
        }
        walk_clusters(graph, mine->members, bounds, &mine->marks,
                      [&](std::size_t k, std::span<const utils::NodeId>, auto&& walk) {
                          progress.advance(1);
                          auto walk_slots = [&](auto&& emit) {
                              walk([&](utils::NodeId u, std::span<const utils::NodeId> neighbours,
                                       auto is_member) {
                                  const std::uint64_t base = offsets[u];
                                  for (std::size_t j = 0; j < neighbours.size(); ++j) {
                                      if (is_member(neighbours[j])) emit(base + j);
                                  }
                              });
                          };
                          body(begin + k, walk_slots, *mine);
                      });
    });
}

std::uint64_t count_dense(const EnrichedGraph& graph,
                          std::span<const std::span<const utils::NodeId>> clusters,
                          runtime::PassProgress& progress) {
    const std::uint64_t slot_count = graph.edge_offsets().back();
    const std::uint64_t words = (slot_count + 63) / 64;
    utils::PageArray<std::uint64_t> bits(words);  // zero pages, touched only where covered
    std::uint64_t* const slots = bits.data();

    for_each_cluster(graph, clusters, progress, [&](std::size_t, auto&& walk_slots, WalkScratch&) {
        // A node's covered slots are consecutive-ish, so gather them per word
        // and pay one atomic OR per touched word instead of one per slot.
        std::uint64_t word = 0;
        std::uint64_t pending = 0;
        auto flush = [&] {
            if (pending)
                std::atomic_ref<std::uint64_t>(slots[word])
                    .fetch_or(pending, std::memory_order_relaxed);
        };
        walk_slots([&](std::uint64_t slot) {
            if ((slot >> 6) != word) {
                flush();
                word = slot >> 6;
                pending = 0;
            }
            pending |= std::uint64_t{1} << (slot & 63);
        });
        flush();
    });

    // The pool's join orders every worker's writes before these reads.
    constexpr std::uint64_t kBlockWords = std::uint64_t{1} << 16;
    const std::uint64_t blocks = (words + kBlockWords - 1) / kBlockWords;
    std::vector<std::uint64_t> counts = runtime::parallel_map(blocks, [&](std::size_t block) {
        std::uint64_t begin = block * kBlockWords;
        std::uint64_t end = std::min(words, begin + kBlockWords);
        std::uint64_t count = 0;
        for (std::uint64_t w = begin; w < end; ++w) count += std::popcount(slots[w]);
        return count;
    });
    std::uint64_t total = 0;
    for (std::uint64_t count : counts) total += count;
    return total;
}

// A cluster's covered slots sharing one value of the high 32 bits.
struct SlotChunk {
    std::uint32_t high = 0;
    Roaring low;
};

std::uint64_t count_compressed(const EnrichedGraph& graph,
                               std::span<const std::span<const utils::NodeId>> clusters,
                               runtime::PassProgress& progress) {
    std::vector<std::vector<SlotChunk>> per_cluster(clusters.size());
    for_each_cluster(graph, clusters, progress,
                     [&](std::size_t i, auto&& walk_slots, WalkScratch& scratch) {
                         std::vector<SlotChunk>& chunks = per_cluster[i];
                         std::vector<std::uint32_t>& lows = scratch.low_slots;
                         lows.clear();
                         std::uint32_t high = 0;
                         auto flush = [&] {
                             if (lows.empty()) return;
                             chunks.push_back({high, Roaring(lows.size(), lows.data())});
                             lows.clear();
                         };
                         walk_slots([&](std::uint64_t slot) {
                             auto slot_high = static_cast<std::uint32_t>(slot >> 32);
                             if (slot_high != high) {
                                 flush();
                                 high = slot_high;
                             }
                             lows.push_back(static_cast<std::uint32_t>(slot));
                         });
                         flush();
                     });

    std::vector<const SlotChunk*> chunks;
    for (const auto& cluster_chunks : per_cluster) {
        for (const SlotChunk& chunk : cluster_chunks) chunks.push_back(&chunk);
    }
    std::stable_sort(chunks.begin(), chunks.end(),
                     [](const SlotChunk* a, const SlotChunk* b) { return a->high < b->high; });

    std::uint64_t total = 0;
    std::vector<const Roaring*> group;
    for (std::size_t begin = 0; begin < chunks.size();) {
        std::size_t end = begin;
        group.clear();
        while (end < chunks.size() && chunks[end]->high == chunks[begin]->high) {
            group.push_back(&chunks[end]->low);
            ++end;
        }
        total += group.size() == 1 ? group[0]->cardinality()
                                   : Roaring::fastunion(group.size(), group.data()).cardinality();
        begin = end;
    }
    return total;
}

}  // namespace

CoverageRoute choose_coverage_route(std::uint64_t slot_count,
                                    std::uint64_t inside_entries) noexcept {
    // Up to 2^30 slots the dense bitset is at most 128 MiB of lazily zeroed
    // pages and always the faster route. Beyond, the compressed sets take at
    // most about 2 bytes per covered slot against S / 8 for the bitset, so
    // the bitset also wins on memory once a sixteenth of the slots is covered.
    constexpr std::uint64_t kModestSlots = std::uint64_t{1} << 30;
    if (slot_count <= kModestSlots || inside_entries >= slot_count / 16) {
        return CoverageRoute::Dense;
    }
    return CoverageRoute::Compressed;
}

std::uint64_t count_covered_slots(const EnrichedGraph& graph,
                                  std::span<const RichCluster* const> clusters,
                                  std::span<const std::span<const utils::NodeId>> members,
                                  std::uint64_t covered_nodes, CoverageRoute route,
                                  runtime::PassProgress& progress) {
    if (clusters.empty()) return 0;
    if (route == CoverageRoute::Automatic) {
        std::uint64_t member_total = 0;
        std::uint64_t inside_entries = 0;
        for (const RichCluster* cluster : clusters) {
            member_total += cluster->n;
            inside_entries += cluster->vol - cluster->c;
        }
        if (member_total == covered_nodes) {
            progress.advance(clusters.size());
            return inside_entries;
        }
        route = choose_coverage_route(graph.edge_offsets().back(), inside_entries);
    }
    return route == CoverageRoute::Dense ? count_dense(graph, members, progress)
                                         : count_compressed(graph, members, progress);
}

}  // namespace quelmar
