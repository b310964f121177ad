#pragma once
// The bridges of a connected LocalGraph (edges whose removal disconnects it)
// and its two-edge-connected blocks (what is left connected once every bridge
// is gone), by one depth-first search from node 0 in Tarjan's manner: a node
// u whose subtree reaches no node entered before u, through edges other than
// the one from its parent, hangs on its parent by a bridge. The search keeps
// its own stack, so a path of a million nodes needs no deep recursion.
//
// What it reports is fixed by the graph alone. The most balanced bridge is
// the one with the largest smaller side, ties going to the smallest pair of
// ends (lesser end first): a rule on the cut itself, not on the search, so a
// side searched again later picks what a search of the whole would have.
//
// Scratch of one worker: reuse one finder across pieces.

#include <cstdint>
#include <span>
#include <stop_token>
#include <vector>

#include "src/measures/internal/local_graph.h"

namespace quelmar::measures::internal {

struct Bridge {
    std::uint32_t parent = 0;  // the end nearer node 0
    std::uint32_t child = 0;
    std::uint32_t below = 0;  // the nodes on the child's side
    std::uint32_t lo() const noexcept { return parent < child ? parent : child; }
    std::uint32_t hi() const noexcept { return parent < child ? child : parent; }
};

// Whether bridge a splits `nodes` nodes more evenly than b, or as evenly
// with the lesser pair of ends.
bool more_balanced(const Bridge& a, const Bridge& b, std::uint64_t nodes) noexcept;

class BridgeFinder {
public:
    // Searches `graph`, which must be connected with at least one node.
    // False when `stop` was requested on the way.
    bool search(const LocalGraph& graph, const std::stop_token& stop);

    std::span<const Bridge> bridges() const noexcept { return bridges_; }
    // The blocks, numbered 0, 1, ... as the search closes them: block_of(u),
    // and the nodes of block b as block_nodes(b) (in no particular order).
    std::uint32_t block_count() const noexcept {
        return static_cast<std::uint32_t>(block_starts_.size() - 1);
    }
    std::uint32_t block_of(std::uint32_t u) const noexcept { return block_of_[u]; }
    std::span<const std::uint32_t> block_nodes(std::uint32_t b) const noexcept {
        return {block_members_.data() + block_starts_[b],
                block_members_.data() + block_starts_[b + 1]};
    }

private:
    std::vector<std::uint32_t> enter_;
    std::vector<std::uint32_t> low_;
    std::vector<std::uint32_t> parent_;
    std::vector<std::uint32_t> below_;
    std::vector<std::uint64_t> next_edge_;
    std::vector<std::uint32_t> path_;
    std::vector<std::uint32_t> open_;  // entered, not yet in a block
    std::vector<Bridge> bridges_;
    std::vector<std::uint32_t> block_of_;
    std::vector<std::uint32_t> block_members_;
    std::vector<std::uint32_t> block_starts_;
};

}  // namespace quelmar::measures::internal
