#pragma once
// A graph under construction from edges between named nodes. Names get dense
// ids in order of first request. Edges are kept as (from, to) id pairs in
// chunks (no doubling copies of one huge array) and turned into the compact
// finished form once, by into_permanent: count degrees, prefix-sum them into
// offsets, scatter both ends of every pair, then sort and deduplicate each
// node's list and compact the array in place. Repeated and reversed edges
// collapse to one; a self-loop is kept once, in its node's own list.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "base/graph.h"

namespace quelmar {

class GraphBuilder {
public:
    static constexpr std::string_view kTooManyNodes =
        "graph has more than 4294967296 nodes (node ids are 32-bit)";

    // `max_nodes` is lowered only by tests.
    explicit GraphBuilder(std::uint64_t max_nodes = kMaxNodes) : max_nodes_(max_nodes) {}

    // Hint that `name` will be requested soon: its hash slot is loaded meanwhile.
    void prefetch(NodeName name) const { names_.prefetch(name); }

    // The id of `name`, registering it the first time. Empty when the graph
    // would exceed max_nodes; the builder must then be dropped.
    std::optional<NodeId> request(NodeName name) {
        const std::uint64_t id = names_.request(name);
        if (id >= max_nodes_) [[unlikely]]
            return std::nullopt;
        return static_cast<NodeId>(id);
    }

    // Records the undirected edge between two requested ids.
    void record_edge(NodeId from, NodeId to) {
        if (next_ == limit_) [[unlikely]]
            add_chunk();
        *next_++ = {from, to};
    }

    std::uint64_t node_count() const noexcept { return names_.next_id(); }

    Graph into_permanent() &&;

private:
    struct EdgePair {
        NodeId from;
        NodeId to;
    };
    struct Chunk {
        std::unique_ptr<EdgePair[]> pairs;
        std::size_t capacity;
        std::size_t size;  // up to date once sealed
    };

    void add_chunk();
    void seal_last_chunk();
    // Calls visit(pair) for every recorded pair in order, releasing each
    // chunk once visited.
    template <class Visit>
    void consume_pairs(Visit&& visit);

    NameSet names_;
    std::vector<Chunk> chunks_;
    EdgePair* next_ = nullptr;
    EdgePair* limit_ = nullptr;
    std::uint64_t max_nodes_;
};

}  // namespace quelmar
