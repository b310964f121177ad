#pragma once
// Well-connected refinement: every input piece (a cluster, or a set of nodes
// handed back by a caller) is cut along minimum cuts until what is left holds
// together. A piece goes through these steps, each piece on its own:
//   1. fewer than rule.min_size members: dropped;
//   2. its induced subgraph (self-loops are no edges) disconnected: replaced
//      by its connected components, each a piece from step 1;
//   3. λ, its edge connectivity, at least rule.least(n) for its n members:
//      kept (the caller's test λ > t(n) is λ >= floor(t(n)) + 1);
//   4. otherwise split along one minimum cut; each side is a piece from step
//      1, or, under SideHandling::kHandOver, is returned as it is.
// Outputs of one input are disjoint and lie inside it; inputs may overlap.
//
// How the cut is found:
//   * λ = 1 is the commonest failure and needs no minimum-cut computation:
//     one depth-first search finds every bridge and the two-edge-connected
//     blocks (internal/bridges.h). The cuts are then made on the tree of
//     blocks, whose nodes weigh their block's size: a subtree is a piece, its
//     weight its size, and each cut takes its most balanced bridge (largest
//     smaller side, ties to the lesser pair of ends). Each step costs the
//     subtree's number of blocks, not the piece's edges, so a chain of 2,000
//     dense blocks is cut in about log2(2,000) levels, and a side handed back
//     and searched afresh is cut as the whole would have cut it.
//   * A piece without bridges has λ >= 2; when the rule asks for more, the
//     exact minimum cut (internal/min_cut.h) gives λ. When λ is the piece's
//     smallest degree, the cut is its first node of that degree; the rest is
//     measured in place (a cut of it below λ parts the node's neighbours, so
//     unit flows between them, capped at λ, settle it) while that holds.
//     Otherwise the cut is the most balanced minimum cut the solver saw.
// Every choice is a function of the piece's induced subgraph with its nodes
// in id order, so the outcome never depends on the worker that runs it.
//
// The pass runs on the process-wide pool, the largest inputs first, one
// input per worker at a time; each worker's memory is a few times the
// induced subgraph of the input at hand.

#include <cstdint>
#include <span>
#include <stop_token>
#include <utility>
#include <vector>

#include "runtime/progress.h"
#include "runtime/result.h"
#include "src/base/graph.h"
#include "src/quelmar/enriched_graph.h"
#include "src/utils/node_id.h"

namespace quelmar::measures {

struct ConnectivityRule {
    // At least 2.
    std::uint64_t min_size = 2;
    // least[n - min_size]: the least edge connectivity that keeps a piece of
    // n members, for n from min_size to the largest input's size (larger
    // pieces read the last entry). An empty table keeps every connected piece.
    std::vector<std::uint64_t> least;

    std::uint64_t least_for(std::uint64_t n) const noexcept {
        if (least.empty()) return 0;
        const std::uint64_t at = n - min_size;
        return at < least.size() ? least[at] : least.back();
    }
};

enum class SideHandling { kRefine, kHandOver };

// Node sets laid end to end: set k came from input inputs[k] and has the
// members members[starts[k] .. starts[k + 1]), ascending.
struct PieceSets {
    std::vector<std::uint64_t> inputs;
    std::vector<std::uint64_t> starts{0};
    std::vector<utils::NodeId> members;

    std::size_t size() const noexcept { return inputs.size(); }
    std::span<const utils::NodeId> members_of(std::size_t k) const noexcept {
        return std::span<const utils::NodeId>(members).subspan(starts[k],
                                                               starts[k + 1] - starts[k]);
    }
};

struct WellConnectedPieces {
    // The pieces kept, ascending by input, then by their smallest member's
    // name.
    PieceSets kept;
    // Under kHandOver, the sides of the cuts, in the same order; else empty.
    PieceSets sides;
    // Per input: the minimum cuts made (a split into components is none).
    std::vector<std::uint64_t> cuts;
};

// Refines every input (node ids of `graph`, ascending and distinct) under
// `rule`. Reports one pass weighing each input by its members. Fails with
// runtime::Error::interrupted() when `stop` is requested before the end
// (looked at between pieces and inside long searches and cuts).
runtime::Result<WellConnectedPieces> refine_well_connected(
    const EnrichedGraph& graph, std::span<const std::span<const utils::NodeId>> inputs,
    const ConnectivityRule& rule, SideHandling sides,
    runtime::PassProgress& progress = runtime::PassProgress::unwatched(),
    std::stop_token stop = {});

// The edges between two distinct members (ascending, distinct ids), each
// once as (lesser id, greater id), ascending.
std::vector<std::pair<utils::NodeId, utils::NodeId>> induced_edges(
    const base::Graph& graph, std::span<const utils::NodeId> members);

}  // namespace quelmar::measures
