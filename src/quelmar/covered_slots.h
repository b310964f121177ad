#pragma once
// Counts the distinct adjacency slots (see enriched_graph.h) that lie inside
// some cluster of a selection: slot edge_offsets[u] + j is covered when u and
// its j-th neighbour are both members of one selected cluster. Slots shared by
// several clusters count once.
//
// When the clusters are pairwise disjoint (their sizes add up to the number of
// distinct nodes they cover) a slot of node u can only be covered by the one
// cluster holding u, so the count is the sum of their inside entries (vol - c)
// and nothing is walked. Otherwise two walking routes give the same count:
//   * Dense: one bitset over all S slots of the graph, set atomically by the
//     workers, then counted. Fast; costs S / 8 bytes (lazily zeroed pages).
//   * Compressed: per cluster, its covered slots (strictly ascending) loaded
//     into 32-bit Roaring bitmaps keyed by the slot's high 32 bits, then one
//     multi-way union per key. Memory follows the covered slots, not S.
// Automatic takes the shortcut for disjoint clusters, else the dense route
// when S is modest or when the selection covers a sizable share of the
// slots, and the compressed one for a small selection of a huge graph.

#include <cstdint>
#include <span>

#include "runtime/progress.h"
#include "src/quelmar/enriched_graph.h"
#include "src/quelmar/rich_cluster.h"

namespace quelmar {

enum class CoverageRoute { Automatic, Dense, Compressed };

// The route Automatic takes for a graph of `slot_count` slots when the
// selected clusters hold `inside_entries` member-to-member entries in total.
CoverageRoute choose_coverage_route(std::uint64_t slot_count,
                                    std::uint64_t inside_entries) noexcept;

// `members[i]` are the ids of clusters[i], ascending and distinct;
// `covered_nodes` is the number of distinct nodes in the clusters. Runs on the
// worker pool, advancing `progress` once per cluster. Every cluster must have
// been packed against `graph`. Dense and Compressed always walk (for tests
// and benchmarks); Automatic may not.
std::uint64_t count_covered_slots(const EnrichedGraph& graph,
                                  std::span<const RichCluster* const> clusters,
                                  std::span<const std::span<const utils::NodeId>> members,
                                  std::uint64_t covered_nodes, CoverageRoute route,
                                  runtime::PassProgress& progress);

}  // namespace quelmar
