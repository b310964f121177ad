#pragma once
// The contingency of two selections of clusters A and B over one graph: the
// size of every nonempty intersection of a cluster of A with a cluster of B,
// over a universe of nodes fixed by the uncovered-node policy. Every
// agreement measure (agreement.h) and the match tables are computed from it.
//
// Uncovered nodes (covered by one side only, or by neither):
//   * kSingletons (default): the universe is every node of the graph, and a
//     node that a side leaves uncovered is a cluster of its own on that side.
//     A clustering file cannot hold one-member clusters (the loader drops
//     them), so these are exactly the singletons of the clustering that was
//     written out; NMI and ARI then equal scikit-learn's on the label arrays
//     that give every graph node its cluster, each uncovered node a label of
//     its own.
//   * kDrop: the universe is the nodes both sides cover; clusters are cut
//     down to it, and clusters left empty take no part in the measures.
//
// Clusters are counted by "effective" index: 0 .. real - 1 are the given
// clusters in the given order (ascending id), then one singleton per
// universe node the side leaves uncovered, in node order (kSingletons only).
//
// Built through the members, never over all pairs of clusters: an index node
// -> clusters of B, then per cluster of A a walk over its members counting
// the clusters of B met. Runs on the worker pool; the result does not depend
// on the number of workers. The contingency refers to the clusters it was
// built from (for the omega index): built from handles, it keeps their
// clusterings alive; built from spans, the caller keeps the clusters alive.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string_view>
#include <vector>

#include <roaring/roaring.hh>

#include "runtime/progress.h"
#include "runtime/result.h"
#include "src/base/clustering.h"
#include "src/quelmar/clustering_handle.h"
#include "src/quelmar/enriched_graph.h"
#include "src/quelmar/rich_cluster.h"
#include "src/utils/name_set.h"

namespace quelmar::agreement {

namespace internal {
struct MemberIndex;
}

inline constexpr std::string_view kDifferentGraphs =
    "the two clusterings belong to different graphs";

enum class Uncovered { kSingletons, kDrop };

// The policy named "singletons" or "drop"; any other name fails with
// "uncovered: expected 'singletons' or 'drop', got '<name>'".
runtime::Result<Uncovered> uncovered_from_name(std::string_view name);

// One side: clusters ascending by id, ids[i] the id of clusters[i].
struct ComparedSide {
    std::span<const RichCluster* const> clusters;
    std::span<const base::ClusterId> ids;
};

// A node of the universe that one side puts in two clusters: the smallest
// such node, and the two smallest ids among its clusters.
struct OverlapWitness {
    utils::NodeName node = 0;
    base::ClusterId first = 0;
    base::ClusterId second = 0;
};

struct ContingencyCell {
    std::uint64_t a = 0;  // effective index on side A
    std::uint64_t b = 0;  // effective index on side B
    std::uint64_t count = 0;
};

struct Contingency {
    struct Side {
        std::vector<base::ClusterId> ids;  // of the real clusters
        // Members in the universe, per effective cluster (singletons: 1).
        std::vector<std::uint64_t> sizes;
        // Cell indices of effective cluster k: row[k] .. row[k + 1] (into
        // `cells` for A, into `cells_by_b` for B).
        std::vector<std::uint64_t> row;
        // Empty when the side is a partition of the universe.
        std::optional<OverlapWitness> overlap;
        // The clusters built from (for walks that need their members), and
        // when built from a handle, their clustering, kept alive here.
        std::vector<const RichCluster*> sources;
        SharedClustering owner;

        std::size_t real() const noexcept { return ids.size(); }
        std::size_t effective() const noexcept { return sizes.size(); }
    };

    Contingency() = default;
    // Large (cells of every intersection): moved, never copied.
    Contingency(const Contingency&) = delete;
    Contingency& operator=(const Contingency&) = delete;
    Contingency(Contingency&&) noexcept = default;
    Contingency& operator=(Contingency&&) noexcept = default;

    Uncovered uncovered = Uncovered::kSingletons;
    std::uint64_t node_count = 0;  // of the graph
    std::uint64_t universe = 0;    // nodes compared
    // Universe nodes (kDrop only; with kSingletons every node).
    Roaring universe_nodes;
    Side a;
    Side b;
    std::vector<ContingencyCell> cells;     // ascending by (a, b)
    std::vector<std::uint64_t> cells_by_b;  // indices into cells, ascending by (b, a)
    // Node -> effective clusters of B over the universe, kept for the omega
    // index, which needs it again.
    std::shared_ptr<const internal::MemberIndex> b_index;

    std::span<const ContingencyCell> row_a(std::size_t k) const noexcept {
        return {cells.data() + a.row[k], cells.data() + a.row[k + 1]};
    }
    std::span<const std::uint64_t> row_b(std::size_t k) const noexcept {
        return {cells_by_b.data() + b.row[k], cells_by_b.data() + b.row[k + 1]};
    }

    // Reports one pass over the clusters of A to `progress`; fails with
    // TaskMonitor::kInterrupted soon after `stop` is requested.
    static runtime::Result<Contingency> build(
        const EnrichedGraph& graph, ComparedSide a, ComparedSide b,
        Uncovered uncovered = Uncovered::kSingletons, std::stop_token stop = {},
        runtime::PassProgress& progress = runtime::PassProgress::unwatched());

    // A contingency counted elsewhere (a join of two membership tables on
    // node, say): `universe` nodes; per side the real clusters' ids and the
    // effective sizes (real clusters first, then any singletons) and the
    // overlap witness if the side overlaps; the nonzero cells ascending by
    // (a, b). Every measure but omega, which walks members, works on it;
    // `uncovered` reads kDrop, as the universe is the caller's.
    // Fails with "invalid contingency: <why>" on cells out of range, empty
    // or out of order.
    static runtime::Result<Contingency> from_cells(std::uint64_t universe, Side a, Side b,
                                                   std::vector<ContingencyCell> cells);

    // The selected clusters of two handles; fails with kDifferentGraphs unless
    // both select from clusterings of the same graph object.
    static runtime::Result<Contingency> build(
        const ClusteringHandle& a, const ClusteringHandle& b,
        Uncovered uncovered = Uncovered::kSingletons, std::stop_token stop = {},
        runtime::PassProgress& progress = runtime::PassProgress::unwatched());
};

}  // namespace quelmar::agreement
