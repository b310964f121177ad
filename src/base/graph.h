#pragma once
// A finished undirected graph over dense node ids, in compact adjacency form:
// one array of running degree sums (offsets, n + 1 entries, offsets[0] == 0)
// and one array of neighbour ids, where node u's neighbours are
// neighbours[offsets[u] .. offsets[u + 1]). Position p of that array is the
// edge end's adjacency slot: slots run 0 .. S - 1 by node id, then by position.
//
// Invariants of a graph built from an edge list (and checked on snapshots):
//   * every neighbour id is below node_count(); node_count() <= 2^32;
//   * each neighbour list is strictly ascending, and v is a neighbour of u
//     exactly when u is a neighbour of v;
//   * a self-loop is stored once, as the node's own id in its own list;
//   * m_cache() == S / 2 rounded down (a lone self-loop counts for nothing).
// Immutable once built; shared read-only by every worker thread. The
// neighbour array lives in mapped memory (src/utils/mapped_vector.h).

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "runtime/prefetch.h"
#include "src/utils/graph_parts.h"
#include "src/utils/name_set.h"
#include "src/utils/node_id.h"

namespace quelmar::base {

class Graph {
public:
    // The graph with no nodes.
    Graph() : offsets_{0} {}
    // Adopts the pieces made by a loader, which has checked them.
    explicit Graph(utils::GraphParts parts)
        : name_set_(std::move(parts.name_set)),
          offsets_(std::move(parts.offsets)),
          neighbours_(std::move(parts.neighbours)),
          m_cache_(parts.m_cache) {}
    // From parts that satisfy the invariants above (the neighbours are copied).
    Graph(utils::NameSet name_set, std::vector<std::uint64_t> offsets,
          const std::vector<utils::NodeId>& neighbours, std::uint64_t m_cache)
        : name_set_(std::move(name_set)),
          offsets_(std::move(offsets)),
          neighbours_(std::span<const utils::NodeId>(neighbours)),
          m_cache_(m_cache) {}

    // Large: moved into its EnrichedGraph, never copied.
    Graph(const Graph&) = delete;
    Graph& operator=(const Graph&) = delete;
    Graph(Graph&&) noexcept = default;
    Graph& operator=(Graph&&) noexcept = default;

    const utils::NameSet& name_set() const noexcept { return name_set_; }
    std::uint64_t node_count() const noexcept { return offsets_.size() - 1; }
    // Number of undirected edges.
    std::uint64_t m_cache() const noexcept { return m_cache_; }

    std::span<const utils::NodeId> neighbours(utils::NodeId u) const noexcept {
        return {neighbours_.data() + offsets_[u], neighbours_.data() + offsets_[u + 1]};
    }
    std::uint64_t degree(utils::NodeId u) const noexcept { return offsets_[u + 1] - offsets_[u]; }

    // Hints that u's neighbour list will be read soon: its first line and
    // its last, since a list of more than a few ids often spans two (that
    // made packing 7-10% and the statistics 12% faster at 20M lines than
    // the first line alone). Its offsets should be in cache already.
    void prefetch_neighbours(utils::NodeId u) const noexcept {
        const std::uint64_t first = offsets_[u];
        const std::uint64_t end = offsets_[u + 1];
        runtime::prefetch(neighbours_.data() + first);
        if (end - first > 1) runtime::prefetch(neighbours_.data() + end - 1);
    }

    // Running degree sums (n + 1 entries) and the flat neighbour array.
    std::span<const std::uint64_t> offsets() const noexcept { return offsets_; }
    std::span<const utils::NodeId> all_neighbours() const noexcept { return neighbours_; }

private:
    utils::NameSet name_set_;
    std::vector<std::uint64_t> offsets_;
    utils::NeighbourArray neighbours_;
    std::uint64_t m_cache_ = 0;
};

}  // namespace quelmar::base
