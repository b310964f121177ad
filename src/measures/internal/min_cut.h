#pragma once
// Exact global minimum cut of a connected LocalGraph with at least two nodes:
// the edge connectivity (fewest edges whose removal disconnects it) and the
// size of the smaller side of one cut of that many edges.
//
// The algorithm contracts edges that provably lie inside some minimum cut's
// side and keeps an upper bound B on the answer with a cut that reaches it:
//   * B starts at the smallest degree (the cut around one node); a connected
//     graph has at least one cut edge, so B = 1 ends the search at once.
//   * First round, on the plain graph: an edge uv lies on 1 + t(uv)
//     edge-disjoint u-v paths, where t(uv) counts the triangles through it
//     (the edge itself and one path of length two per common neighbour). When
//     1 + t(uv) >= B, no cut below B separates u from v, so uv is contracted
//     (Padberg and Rinaldi's third test). Dense clusters, where the next step
//     alone would contract one edge per round, collapse here.
//   * Every round, on the contracted graph with summed edge weights: each
//     node's weighted degree is a cut (its group of original nodes against the
//     rest) and may lower B. An edge uv with 2 w(uv) >= d(u) can be kept
//     inside: moving u across any cut that separates u from v does not raise
//     it, unless u stood alone, and that cut is d(u), already offered
//     (Padberg and Rinaldi's second test). Moves for disjoint edges do not
//     interfere, so such edges are joined along a greedy matching; chains of
//     degree-2 nodes halve every round. Then one capacity-forest scan of Nagamochi and
//     Ibaraki: nodes are visited in maximum-adjacency order, r(y) being the
//     weight from visited nodes to y, kept in a bucket queue whose keys are
//     capped at B (the cap changes no decision below, and keeps the queue
//     B + 1 buckets long). When visiting x raises r(y) to at least B, x and y
//     are at least B-connected and are joined in a union-find. The visited
//     prefix at every step is a cut too (its value updated as d(x) - 2 r(x)),
//     which lowers B early, before contraction has to find it. The last node
//     visited always has r = its degree >= B, so every round contracts.
//   * Joined groups become one node (parallel edges summed, self-loops
//     dropped), and the rounds repeat until two nodes remain.
// Contracting only pairs whose connectivity is at least B can lose a cut only
// if it is not smaller than B, and B is always the value of a cut that was
// seen, so B ends as the exact minimum. On sparse clusters whose smallest
// degree is small the first scan contracts nearly everything: the rounds
// shrink the graph geometrically and the whole costs a few linear passes.
//
// The side size: every contracted node carries the number of original nodes
// in its group, so each cut that lowers B records min(side, n - side). Which
// minimum cut is reported is fixed by the graph alone (the scans start at
// node 0 and break ties the same way every time), so it never depends on the
// worker that runs it.
//
// One side of a cut, on request: among the cuts of the minimum value that
// the solve offers (the ones above: single groups and scan prefixes), the
// one whose smaller side is largest, the first offered among equals, so the
// most balanced cut seen. Offers are only recorded (the round, a group or a
// prefix length); a prefix is written down as its groups when its scan ends,
// and every contraction keeps the map from its nodes to the next round's, so
// the side is expanded back to original nodes once, at the end, in time
// proportional to the rounds' sizes. Asking for a side changes neither the
// value nor smaller_side, which stay those of the first minimum cut seen.
//
// Scratch of one worker: reuse one solver across clusters.

#include <cstdint>
#include <optional>
#include <stop_token>
#include <vector>

#include "src/measures/internal/local_graph.h"
#include "src/measures/internal/triangles.h"

namespace quelmar::measures::internal {

struct MinCut {
    std::uint64_t value = 0;
    std::uint64_t smaller_side = 0;
};

class MinCutSolver {
public:
    // The minimum cut of `graph`, which must be connected with at least two
    // nodes. Nullopt when `stop` was requested on the way (checked every few
    // hundred thousand edge visits).
    std::optional<MinCut> solve(const LocalGraph& graph, const std::stop_token& stop);

    // The same, and `side` set to the nodes of one side of the most balanced
    // minimum cut seen (ascending), the other side being the rest.
    std::optional<MinCut> solve(const LocalGraph& graph, const std::stop_token& stop,
                                std::vector<std::uint32_t>& side);

private:
    struct Weighted {
        std::vector<std::uint64_t> offsets;
        std::vector<std::uint32_t> targets;
        std::vector<std::uint64_t> weights;
        std::vector<std::uint64_t> sizes;
        std::uint32_t node_count() const noexcept {
            return static_cast<std::uint32_t>(offsets.size() - 1);
        }
    };

    // Where an offered cut lies: group `index` of the round it was offered
    // in, or the first `index` nodes of that round's scan.
    struct Offered {
        std::uint64_t value = 0;
        std::uint64_t smaller_side = 0;
        bool prefix = false;
        std::uint32_t index = 0;
    };

    std::optional<MinCut> run(const LocalGraph& graph, const std::stop_token& stop);
    void offer(std::uint64_t value, std::uint64_t side) noexcept;
    void offer_group(std::uint64_t value, std::uint64_t side, std::uint32_t group) noexcept;
    void offer_prefix(std::uint64_t value, std::uint64_t side, std::uint32_t length) noexcept;
    void note_balanced(std::uint64_t value, std::uint64_t side, bool prefix,
                       std::uint32_t index) noexcept;
    // Writes the balanced cut of this round down as its groups.
    void settle_round_side();
    void expand_side(std::vector<std::uint32_t>& side);
    std::uint32_t find(std::uint32_t u) noexcept;
    void join(std::uint32_t a, std::uint32_t b) noexcept;
    void reset_groups(std::uint32_t n);
    bool contract_triangle_edges(const LocalGraph& graph, const std::stop_token& stop);
    // Padberg and Rinaldi's second test on a greedy matching.
    void join_heavy_matching();
    bool scan(const std::stop_token& stop);
    // Rebuilds current_ with one node per group; false when no pair was
    // joined.
    bool contract();
    void load(const LocalGraph& graph);

    std::uint64_t total_nodes_ = 0;
    MinCut best_;
    // Side tracking (tracking_ only when a side was asked for).
    bool tracking_ = false;
    std::uint32_t round_ = 0;
    Offered balanced_;
    bool balanced_fresh_ = false;  // offered since the last settle_round_side()
    std::vector<std::uint32_t> scan_order_;
    std::uint32_t side_round_ = 0;
    std::vector<std::uint32_t> side_groups_;
    // Round r's map to round r + 1: maps_[map_offsets_[r] ...).
    std::vector<std::uint32_t> maps_;
    std::vector<std::uint64_t> map_offsets_;
    std::vector<std::uint8_t> in_side_, in_side_next_;
    Weighted current_, next_;
    std::vector<std::uint32_t> parent_;
    std::vector<std::uint32_t> label_;
    std::vector<std::uint32_t> order_;
    std::vector<std::uint64_t> group_offsets_;
    std::vector<std::uint32_t> owner_;
    std::vector<std::uint64_t> position_;
    std::vector<std::uint64_t> degree_;
    std::vector<std::uint64_t> reach_;
    std::vector<std::uint64_t> key_;
    std::vector<std::uint8_t> visited_;
    std::vector<std::vector<std::uint32_t>> buckets_;
    std::vector<std::uint32_t> support_;
    TriangleLister triangles_;
};

}  // namespace quelmar::measures::internal
