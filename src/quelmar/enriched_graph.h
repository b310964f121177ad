#pragma once
// The form in which the analysis holds a loaded graph: the finished graph plus
// edge_offsets, the running sums of the node degrees (n + 1 entries, entry 0 is
// 0, entry i + 1 is entry i plus the degree of node i). Entry j of node u's
// neighbour list has the global adjacency slot edge_offsets[u] + j; slots run
// 0 .. S - 1 without gaps. An edge between two distinct nodes has two slots, a
// self-loop one. The graph's compact layout already holds exactly these sums,
// so edge_offsets is a view of them, not a copy.
//
// Built once per loaded graph and shared read-only (std::shared_ptr<const>)
// by the Python Graph object, every packed clustering and every subset.

#include <cstdint>
#include <memory>
#include <span>

#include "src/base/graph.h"

namespace quelmar {

class EnrichedGraph {
public:
    static EnrichedGraph from_graph(base::Graph graph) { return EnrichedGraph(std::move(graph)); }

    EnrichedGraph(const EnrichedGraph&) = delete;
    EnrichedGraph& operator=(const EnrichedGraph&) = delete;
    EnrichedGraph(EnrichedGraph&&) noexcept = default;

    const base::Graph& graph() const noexcept { return graph_; }
    std::span<const std::uint64_t> edge_offsets() const noexcept { return graph_.offsets(); }

private:
    explicit EnrichedGraph(base::Graph graph) : graph_(std::move(graph)) {}
    base::Graph graph_;
};

using SharedGraph = std::shared_ptr<const EnrichedGraph>;

}  // namespace quelmar
