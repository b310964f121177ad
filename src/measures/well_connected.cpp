#include "src/measures/well_connected.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>
#include <numeric>
#include <tuple>

#include "runtime/parallel.h"
#include "runtime/worker_pool.h"
#include "src/measures/internal/bridges.h"
#include "src/measures/internal/local_graph.h"
#include "src/measures/internal/member_ranks.h"
#include "src/measures/internal/min_cut.h"

namespace quelmar::measures {
namespace {

using internal::Bridge;
using internal::LocalGraph;

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
// Members laid out between two looks at the stop token.
constexpr std::size_t kMembersPerStopCheck = std::size_t{1} << 14;

// A piece waiting on a worker's stack: nodes[start, start + size) of the
// input's induced subgraph, ascending.
struct Waiting {
    std::uint64_t start = 0;
    std::uint32_t size = 0;
    bool bridgeless = false;  // a block of the tree of blocks: λ >= 2
};

// One worker's output: its pieces and each one's smallest member name.
struct Found {
    PieceSets sets;
    std::vector<utils::NodeName> first_names;
};

// A subtree of the tree of blocks waiting to be cut: blocks[start, +count).
struct WaitingTree {
    std::uint64_t start = 0;
    std::uint32_t count = 0;
};

class Refiner {
public:
    Refiner(const EnrichedGraph& graph, const ConnectivityRule& rule, SideHandling handling)
        : graph_(graph.graph()),
          names_(graph.graph().name_set().id_to_name()),
          rule_(rule),
          hand_over_(handling == SideHandling::kHandOver),
          use_ranks_(internal::MemberRanks::pays_off(graph.graph().node_count())),
          ranks_(graph.graph().node_count()) {}

    Found kept;
    Found sides;

    // Refines input `index` with these members; its cuts go to *cuts. False
    // when stopped.
    bool refine(std::uint64_t index, std::span<const utils::NodeId> members, std::uint64_t* cuts,
                const std::stop_token& stop);

private:
    bool lay_out(std::span<const utils::NodeId> members, const std::stop_token& stop);
    const LocalGraph& piece_graph();
    std::uint32_t label_components(const LocalGraph& g);
    void push(std::span<const std::uint32_t> nodes, bool bridgeless);
    void emit(Found& found, std::span<const std::uint32_t> nodes);
    void split(std::span<const std::uint8_t> first_side, bool bridgeless);
    void cut_tree();
    void cut_hanging(std::uint64_t weight);
    bool peel(const LocalGraph& g, std::uint64_t connectivity, const std::stop_token& stop);
    std::uint64_t capped_flow(const LocalGraph& g, std::uint32_t source, std::uint32_t sink,
                              std::uint64_t cap);
    void alive_nodes(std::vector<std::uint32_t>& nodes) const;
    void tree_nodes(std::span<const std::uint32_t> blocks, std::vector<std::uint32_t>& nodes);

    const base::Graph& graph_;
    const std::vector<utils::NodeName>& names_;
    const ConnectivityRule& rule_;
    const bool hand_over_;
    const bool use_ranks_;
    internal::MemberRanks ranks_;

    // The input at hand.
    std::uint64_t index_ = 0;
    std::span<const utils::NodeId> members_;
    std::uint64_t cuts_ = 0;
    LocalGraph root_;
    // The piece at hand (its nodes of root_, ascending) and, unless it is the
    // whole input, its induced subgraph.
    std::vector<std::uint32_t> current_;
    LocalGraph piece_;
    std::vector<std::uint32_t> rank_in_piece_;  // root node -> rank + 1
    std::vector<std::uint32_t> waiting_nodes_;
    std::vector<Waiting> waiting_;
    std::vector<std::uint32_t> label_, queue_, counts_, scratch_nodes_;
    std::vector<std::uint8_t> on_side_;
    internal::BridgeFinder bridges_;
    internal::MinCutSolver min_cut_;
    std::vector<std::uint32_t> cut_side_;
    // The tree of blocks.
    std::vector<std::uint64_t> tree_offsets_;
    std::vector<std::uint32_t> tree_targets_, tree_bridges_;
    std::vector<std::uint32_t> waiting_blocks_;
    std::vector<WaitingTree> waiting_trees_;
    std::vector<std::uint32_t> tree_blocks_, block_stamp_, block_weight_, block_enter_;
    std::vector<std::uint32_t> subtree_weight_, subtree_blocks_, tree_parent_, tree_path_;
    std::vector<std::uint64_t> tree_next_;
    std::uint32_t stamp_ = 0;
    // A subtree hanging off the centroid: its weight, the bridge to it and
    // its blocks, tree_blocks_[begin, end) (or all but that, for the side
    // of the search's root).
    struct Hanging {
        std::uint64_t weight;
        Bridge bridge;
        std::uint32_t begin, end;
        bool outside;
    };
    std::vector<Hanging> hanging_;
    std::vector<std::uint32_t> side_nodes_, rest_nodes_;
    // Peeling (peel()): what is left of the piece, and unit flows on it.
    std::vector<std::uint8_t> alive_;
    std::vector<std::uint64_t> alive_degree_;
    std::vector<std::uint64_t> reverse_;  // entry e = (x, y) -> the entry (y, x)
    std::vector<std::int8_t> flow_;
    std::vector<std::uint32_t> reached_, via_node_;
    std::vector<std::uint64_t> via_entry_, touched_;
    std::uint32_t reach_stamp_ = 0;
};

bool Refiner::lay_out(std::span<const utils::NodeId> members, const std::stop_token& stop) {
    root_.clear();
    root_.offsets.reserve(members.size() + 1);
    if (use_ranks_) ranks_.assign(members);
    bool stopped = false;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i % kMembersPerStopCheck == kMembersPerStopCheck - 1 && stop.stop_requested()) {
            stopped = true;
            break;
        }
        const utils::NodeId u = members[i];
        if (use_ranks_) {
            for (utils::NodeId v : graph_.neighbours(u)) {
                const std::uint32_t rank = ranks_.rank_plus_one(v);
                if (rank != 0 && v != u) root_.targets.push_back(rank - 1);
            }
        } else {
            // Member neighbours come in ascending order: each search starts
            // at the previous find.
            auto cursor = members.begin();
            for (utils::NodeId v : graph_.neighbours(u)) {
                cursor = std::lower_bound(cursor, members.end(), v);
                if (cursor == members.end()) break;
                if (*cursor == v && v != u) {
                    root_.targets.push_back(static_cast<std::uint32_t>(cursor - members.begin()));
                }
            }
        }
        root_.close_node();
    }
    if (use_ranks_) ranks_.clear(members);
    return !stopped;
}

const LocalGraph& Refiner::piece_graph() {
    if (current_.size() == root_.node_count()) return root_;
    rank_in_piece_.resize(root_.node_count(), 0);
    for (std::size_t i = 0; i < current_.size(); ++i) {
        rank_in_piece_[current_[i]] = static_cast<std::uint32_t>(i + 1);
    }
    piece_.clear();
    for (std::uint32_t u : current_) {
        for (std::uint32_t v : root_.neighbours(u)) {
            const std::uint32_t rank = rank_in_piece_[v];
            if (rank != 0) piece_.targets.push_back(rank - 1);
        }
        piece_.close_node();
    }
    for (std::uint32_t u : current_) rank_in_piece_[u] = 0;
    return piece_;
}

std::uint32_t Refiner::label_components(const LocalGraph& g) {
    const std::uint32_t n = g.node_count();
    label_.assign(n, kNone);
    queue_.resize(n);
    std::uint32_t count = 0;
    for (std::uint32_t start = 0; start < n; ++start) {
        if (label_[start] != kNone) continue;
        label_[start] = count;
        std::uint32_t head = 0, tail = 0;
        queue_[tail++] = start;
        while (head < tail) {
            for (std::uint32_t v : g.neighbours(queue_[head++])) {
                if (label_[v] == kNone) {
                    label_[v] = count;
                    queue_[tail++] = v;
                }
            }
        }
        ++count;
    }
    return count;
}

void Refiner::push(std::span<const std::uint32_t> nodes, bool bridgeless) {
    waiting_.push_back(
        {waiting_nodes_.size(), static_cast<std::uint32_t>(nodes.size()), bridgeless});
    waiting_nodes_.insert(waiting_nodes_.end(), nodes.begin(), nodes.end());
}

void Refiner::emit(Found& found, std::span<const std::uint32_t> nodes) {
    PieceSets& sets = found.sets;
    utils::NodeName first = std::numeric_limits<utils::NodeName>::max();
    for (std::uint32_t u : nodes) {
        const utils::NodeId id = members_[u];
        sets.members.push_back(id);
        first = std::min(first, names_[id]);
    }
    sets.inputs.push_back(index_);
    sets.starts.push_back(sets.members.size());
    found.first_names.push_back(first);
}

// Splits the piece at hand into the nodes flagged in first_side and the rest.
void Refiner::split(std::span<const std::uint8_t> first_side, bool bridgeless) {
    side_nodes_.clear();
    rest_nodes_.clear();
    for (std::size_t i = 0; i < current_.size(); ++i) {
        (first_side[i] ? side_nodes_ : rest_nodes_).push_back(current_[i]);
    }
    ++cuts_;
    if (hand_over_) {
        emit(sides, side_nodes_);
        emit(sides, rest_nodes_);
    } else {
        push(side_nodes_, bridgeless);
        push(rest_nodes_, bridgeless);
    }
}

// The nodes of `blocks` (of the tree of the piece at hand) as nodes of
// root_, ascending.
void Refiner::tree_nodes(std::span<const std::uint32_t> blocks, std::vector<std::uint32_t>& nodes) {
    nodes.clear();
    for (std::uint32_t b : blocks) {
        for (std::uint32_t u : bridges_.block_nodes(b)) nodes.push_back(current_[u]);
    }
    std::sort(nodes.begin(), nodes.end());
}

// The piece at hand has bridges: cuts its tree of blocks (bridges_ holds the
// search of its induced subgraph).
void Refiner::cut_tree() {
    const std::uint32_t blocks = bridges_.block_count();
    const std::span<const Bridge> bridges = bridges_.bridges();
    tree_offsets_.assign(blocks + 1, 0);
    for (const Bridge& bridge : bridges) {
        ++tree_offsets_[bridges_.block_of(bridge.parent) + 1];
        ++tree_offsets_[bridges_.block_of(bridge.child) + 1];
    }
    for (std::uint32_t b = 0; b < blocks; ++b) tree_offsets_[b + 1] += tree_offsets_[b];
    tree_targets_.resize(2 * bridges.size());
    tree_bridges_.resize(2 * bridges.size());
    tree_next_.assign(tree_offsets_.begin(), tree_offsets_.end() - 1);
    for (std::uint32_t e = 0; e < bridges.size(); ++e) {
        const std::uint32_t a = bridges_.block_of(bridges[e].parent);
        const std::uint32_t b = bridges_.block_of(bridges[e].child);
        tree_targets_[tree_next_[a]] = b;
        tree_bridges_[tree_next_[a]++] = e;
        tree_targets_[tree_next_[b]] = a;
        tree_bridges_[tree_next_[b]++] = e;
    }
    block_weight_.resize(blocks);
    for (std::uint32_t b = 0; b < blocks; ++b) {
        block_weight_[b] = static_cast<std::uint32_t>(bridges_.block_nodes(b).size());
    }
    block_stamp_.assign(blocks, 0);
    stamp_ = 0;
    block_enter_.resize(blocks);
    subtree_weight_.resize(blocks);
    subtree_blocks_.resize(blocks);
    tree_parent_.resize(blocks);
    tree_next_.resize(blocks);

    waiting_blocks_.resize(blocks);
    std::iota(waiting_blocks_.begin(), waiting_blocks_.end(), 0u);
    waiting_trees_.assign(1, {0, blocks});
    while (!waiting_trees_.empty()) {
        const WaitingTree tree = waiting_trees_.back();
        waiting_trees_.pop_back();
        tree_blocks_.assign(waiting_blocks_.begin() + tree.start,
                            waiting_blocks_.begin() + tree.start + tree.count);
        waiting_blocks_.resize(tree.start);
        std::uint64_t weight = 0;
        for (std::uint32_t b : tree_blocks_) weight += block_weight_[b];
        if (weight < rule_.min_size) continue;
        if (tree_blocks_.size() == 1) {
            tree_nodes(tree_blocks_, side_nodes_);
            push(side_nodes_, true);
            continue;
        }
        if (rule_.least_for(weight) <= 1) {
            tree_nodes(tree_blocks_, side_nodes_);
            emit(kept, side_nodes_);
            continue;
        }
        // Subtree weights by a search from the subtree's first block; the
        // blocks come out in entry order, so a subtree is a stretch of it.
        ++stamp_;
        for (std::uint32_t b : tree_blocks_) block_stamp_[b] = stamp_;
        std::uint32_t order = 0;
        const std::uint32_t root = tree_blocks_[0];
        tree_path_.assign(1, root);
        tree_parent_[root] = kNone;
        tree_next_[root] = tree_offsets_[root];
        block_enter_[root] = order;
        tree_blocks_[order++] = root;
        subtree_weight_[root] = block_weight_[root];
        subtree_blocks_[root] = 1;
        Bridge best{};
        std::uint32_t best_block = kNone;
        while (!tree_path_.empty()) {
            const std::uint32_t a = tree_path_.back();
            if (tree_next_[a] < tree_offsets_[a + 1]) {
                const std::uint64_t e = tree_next_[a]++;
                const std::uint32_t b = tree_targets_[e];
                if (block_stamp_[b] != stamp_ || b == tree_parent_[a]) continue;
                tree_parent_[b] = a;
                tree_next_[b] = tree_offsets_[b];
                block_enter_[b] = order;
                tree_blocks_[order++] = b;
                subtree_weight_[b] = block_weight_[b];
                subtree_blocks_[b] = 1;
                tree_path_.push_back(b);
                continue;
            }
            tree_path_.pop_back();
            const std::uint32_t parent = tree_parent_[a];
            if (parent == kNone) continue;
            subtree_weight_[parent] += subtree_weight_[a];
            subtree_blocks_[parent] += subtree_blocks_[a];
            // The bridge between a and its parent.
            std::uint32_t e = kNone;
            for (std::uint64_t i = tree_offsets_[a]; i < tree_offsets_[a + 1]; ++i) {
                if (tree_targets_[i] == parent) {
                    e = tree_bridges_[i];
                    break;
                }
            }
            Bridge candidate = bridges[e];
            candidate.below = subtree_weight_[a];
            if (best_block == kNone || internal::more_balanced(candidate, best, weight)) {
                best = candidate;
                best_block = a;
            }
        }
        const std::uint64_t best_side = std::min<std::uint64_t>(best.below, weight - best.below);
        if (!hand_over_ && best_side < rule_.min_size && weight >= 2 * rule_.min_size) {
            cut_hanging(weight);
            continue;
        }
        const std::uint32_t begin = block_enter_[best_block];
        const std::uint32_t end = begin + subtree_blocks_[best_block];
        const std::span<const std::uint32_t> all(tree_blocks_);
        const std::span<const std::uint32_t> below = all.subspan(begin, end - begin);
        ++cuts_;
        if (hand_over_) {
            tree_nodes(below, side_nodes_);
            emit(sides, side_nodes_);
            scratch_nodes_.assign(all.begin(), all.begin() + begin);
            scratch_nodes_.insert(scratch_nodes_.end(), all.begin() + end, all.end());
            tree_nodes(scratch_nodes_, side_nodes_);
            emit(sides, side_nodes_);
        } else {
            waiting_trees_.push_back({waiting_blocks_.size(), end - begin});
            waiting_blocks_.insert(waiting_blocks_.end(), below.begin(), below.end());
            waiting_trees_.push_back(
                {waiting_blocks_.size(), static_cast<std::uint32_t>(all.size() - (end - begin))});
            waiting_blocks_.insert(waiting_blocks_.end(), all.begin(), all.begin() + begin);
            waiting_blocks_.insert(waiting_blocks_.end(), all.begin() + end, all.end());
        }
    }
}

// The nodes of root_ still alive in the piece at hand, ascending.
void Refiner::alive_nodes(std::vector<std::uint32_t>& nodes) const {
    nodes.clear();
    for (std::size_t i = 0; i < current_.size(); ++i) {
        if (alive_[i]) nodes.push_back(current_[i]);
    }
}

// min(cap, the most edge-disjoint paths between source and sink among the
// nodes alive), by shortest augmenting paths on unit capacities.
std::uint64_t Refiner::capped_flow(const LocalGraph& g, std::uint32_t source, std::uint32_t sink,
                                   std::uint64_t cap) {
    std::uint64_t flow = 0;
    touched_.clear();
    while (flow < cap) {
        if (++reach_stamp_ == 0) {
            std::fill(reached_.begin(), reached_.end(), 0);
            reach_stamp_ = 1;
        }
        queue_.clear();
        queue_.push_back(source);
        reached_[source] = reach_stamp_;
        bool found = false;
        for (std::size_t head = 0; head < queue_.size() && !found; ++head) {
            const std::uint32_t x = queue_[head];
            for (std::uint64_t e = g.offsets[x]; e < g.offsets[x + 1]; ++e) {
                const std::uint32_t y = g.targets[e];
                // An edge carries one unit each way: room while its flow is below 1.
                if (!alive_[y] || reached_[y] == reach_stamp_ || flow_[e] >= 1) continue;
                reached_[y] = reach_stamp_;
                via_node_[y] = x;
                via_entry_[y] = e;
                if (y == sink) {
                    found = true;
                    break;
                }
                queue_.push_back(y);
            }
        }
        if (!found) break;
        for (std::uint32_t y = sink; y != source; y = via_node_[y]) {
            const std::uint64_t e = via_entry_[y];
            ++flow_[e];
            --flow_[reverse_[e]];
            touched_.push_back(e);
        }
        ++flow;
    }
    for (std::uint64_t e : touched_) flow_[e] = flow_[reverse_[e]] = 0;
    return flow;
}

// The piece at hand (induced subgraph g) has edge connectivity equal to its
// smallest degree, below what it needs: its first node of smallest degree is
// a minimum cut, and is cut off (one node: dropped). The rest is treated in
// place while the same holds, without a minimum-cut computation: removing a
// node u from a piece of connectivity λ leaves every cut that keeps u's
// neighbours on one side at λ or more, and the cuts that part them are
// measured by unit flows from one neighbour to each other, capped at λ. So
// the rest's connectivity is known exactly when those flows fall below λ, or
// when its smallest degree is λ; otherwise, or once it is known to pass, to
// have a bridge or to need a cut other than a node, the rest goes back on
// the stack as a piece. False when stopped.
bool Refiner::peel(const LocalGraph& g, std::uint64_t connectivity, const std::stop_token& stop) {
    const std::uint32_t n = g.node_count();
    alive_.assign(n, 1);
    alive_degree_.resize(n);
    for (std::uint32_t u = 0; u < n; ++u) alive_degree_[u] = g.degree(u);
    reverse_.resize(g.targets.size());
    for (std::uint32_t x = 0; x < n; ++x) {
        for (std::uint64_t e = g.offsets[x]; e < g.offsets[x + 1]; ++e) {
            const auto list = g.neighbours(g.targets[e]);
            reverse_[e] = g.offsets[g.targets[e]] +
                          static_cast<std::uint64_t>(std::lower_bound(list.begin(), list.end(), x) -
                                                     list.begin());
        }
    }
    flow_.assign(g.targets.size(), 0);
    reached_.assign(n, 0);
    reach_stamp_ = 0;
    via_node_.resize(n);
    via_entry_.resize(n);
    auto first_of_degree = [&](std::uint64_t degree) {
        std::uint32_t u = 0;
        while (!alive_[u] || alive_degree_[u] != degree) ++u;
        return u;
    };
    std::uint32_t u = first_of_degree(connectivity);
    std::uint64_t left = n;
    for (;;) {
        if (stop.stop_requested()) return false;
        alive_[u] = 0;
        --left;
        ++cuts_;
        for (std::uint32_t v : g.neighbours(u)) alive_degree_[v] -= alive_[v];
        if (left < rule_.min_size) return true;
        const std::uint64_t least = rule_.least_for(left);
        std::uint64_t bound = connectivity;
        std::uint32_t source = kNone;
        for (std::uint32_t v : g.neighbours(u)) {
            if (!alive_[v]) continue;
            if (source == kNone) {
                source = v;
            } else {
                bound = std::min(bound, capped_flow(g, source, v, bound));
            }
        }
        std::uint64_t smallest = std::numeric_limits<std::uint64_t>::max();
        for (std::uint32_t v = 0; v < n; ++v) {
            if (alive_[v]) smallest = std::min(smallest, alive_degree_[v]);
        }
        const bool known = bound < connectivity || smallest == connectivity;
        if (known && bound >= least) {
            alive_nodes(side_nodes_);
            emit(kept, side_nodes_);
            return true;
        }
        if (!known || bound != smallest || bound < 2) {
            alive_nodes(side_nodes_);
            push(side_nodes_, bound >= 2);
            return true;
        }
        connectivity = bound;
        u = first_of_degree(connectivity);
    }
}

// The subtree at hand (searched: tree_blocks_ in entry order) weighs at
// least twice min_size, and no bridge of it leaves a side of min_size: then
// every subtree hanging off its centroid c (the block where no hanging
// subtree outweighs half) weighs less than min_size, each bridge's smaller
// side is away from c, and the most balanced bridge is always the one to the
// heaviest subtree still hanging. So the cuts take those off in that order,
// each dropped, until what is left passes with its bridges, weighs under
// twice min_size (then it is cut as any subtree) or is c alone.
void Refiner::cut_hanging(std::uint64_t weight) {
    std::uint32_t c = tree_blocks_[0];
    for (bool moved = true; moved;) {
        moved = false;
        for (std::uint64_t i = tree_offsets_[c]; i < tree_offsets_[c + 1]; ++i) {
            const std::uint32_t b = tree_targets_[i];
            if (block_stamp_[b] == stamp_ && tree_parent_[b] == c &&
                2 * std::uint64_t{subtree_weight_[b]} > weight) {
                c = b;
                moved = true;
                break;
            }
        }
    }
    const std::span<const Bridge> bridges = bridges_.bridges();
    hanging_.clear();
    for (std::uint64_t i = tree_offsets_[c]; i < tree_offsets_[c + 1]; ++i) {
        const std::uint32_t b = tree_targets_[i];
        if (block_stamp_[b] != stamp_) continue;
        if (tree_parent_[b] == c) {
            hanging_.push_back({subtree_weight_[b], bridges[tree_bridges_[i]], block_enter_[b],
                                block_enter_[b] + subtree_blocks_[b], false});
        } else if (b == tree_parent_[c]) {
            hanging_.push_back({weight - subtree_weight_[c], bridges[tree_bridges_[i]],
                                block_enter_[c], block_enter_[c] + subtree_blocks_[c], true});
        }
    }
    std::sort(hanging_.begin(), hanging_.end(), [](const Hanging& a, const Hanging& b) {
        if (a.weight != b.weight) return a.weight > b.weight;
        if (a.bridge.lo() != b.bridge.lo()) return a.bridge.lo() < b.bridge.lo();
        return a.bridge.hi() < b.bridge.hi();
    });
    std::size_t taken = 0;
    while (taken < hanging_.size() && weight >= 2 * rule_.min_size) {
        weight -= hanging_[taken++].weight;
        ++cuts_;
        if (taken < hanging_.size() && rule_.least_for(weight) <= 1) break;
    }
    // c and the subtrees still hanging.
    scratch_nodes_.assign(1, c);
    for (std::size_t k = taken; k < hanging_.size(); ++k) {
        const Hanging& h = hanging_[k];
        const auto first = tree_blocks_.begin();
        if (h.outside) {
            scratch_nodes_.insert(scratch_nodes_.end(), first, first + h.begin);
            scratch_nodes_.insert(scratch_nodes_.end(), first + h.end, tree_blocks_.end());
        } else {
            scratch_nodes_.insert(scratch_nodes_.end(), first + h.begin, first + h.end);
        }
    }
    // Back on the stack as a subtree: its checks (alone, passing, too
    // light to stay here) are those of any subtree.
    waiting_trees_.push_back(
        {waiting_blocks_.size(), static_cast<std::uint32_t>(scratch_nodes_.size())});
    waiting_blocks_.insert(waiting_blocks_.end(), scratch_nodes_.begin(), scratch_nodes_.end());
}

bool Refiner::refine(std::uint64_t index, std::span<const utils::NodeId> members,
                     std::uint64_t* cuts, const std::stop_token& stop) {
    index_ = index;
    members_ = members;
    cuts_ = 0;
    if (members.size() < rule_.min_size) {
        *cuts = 0;
        return true;
    }
    if (!lay_out(members, stop)) return false;
    waiting_nodes_.resize(members.size());
    std::iota(waiting_nodes_.begin(), waiting_nodes_.end(), 0u);
    waiting_.assign(1, {0, static_cast<std::uint32_t>(members.size()), false});
    while (!waiting_.empty()) {
        if (stop.stop_requested()) return false;
        const Waiting piece = waiting_.back();
        waiting_.pop_back();
        current_.assign(waiting_nodes_.begin() + piece.start,
                        waiting_nodes_.begin() + piece.start + piece.size);
        waiting_nodes_.resize(piece.start);
        const std::uint64_t n = current_.size();
        if (n < rule_.min_size) continue;
        const LocalGraph& g = piece_graph();
        const std::uint32_t components = label_components(g);
        if (components > 1) {
            // Each component, ascending, by a counting sort on the labels.
            counts_.assign(components + 1, 0);
            for (std::uint32_t label : label_) ++counts_[label + 1];
            for (std::uint32_t c = 0; c < components; ++c) counts_[c + 1] += counts_[c];
            scratch_nodes_.resize(n);
            for (std::uint32_t i = 0; i < n; ++i)
                scratch_nodes_[counts_[label_[i]]++] = current_[i];
            std::uint64_t begin = 0;
            for (std::uint32_t c = 0; c < components; ++c) {
                const std::uint64_t end = counts_[c];
                if (end - begin >= rule_.min_size) {
                    push(std::span<const std::uint32_t>(scratch_nodes_).subspan(begin, end - begin),
                         false);
                }
                begin = end;
            }
            continue;
        }
        const std::uint64_t least = rule_.least_for(n);
        if (least <= 1) {
            emit(kept, current_);
            continue;
        }
        if (!piece.bridgeless) {
            if (!bridges_.search(g, stop)) return false;
            if (!bridges_.bridges().empty()) {
                cut_tree();
                continue;
            }
        }
        if (least <= 2) {
            emit(kept, current_);
            continue;
        }
        const std::optional<internal::MinCut> cut = min_cut_.solve(g, stop, cut_side_);
        if (!cut) return false;
        if (cut->value >= least) {
            emit(kept, current_);
            continue;
        }
        std::uint64_t smallest = std::numeric_limits<std::uint64_t>::max();
        for (std::uint32_t u = 0; u < n; ++u) smallest = std::min(smallest, g.degree(u));
        if (cut->value == smallest) {
            // A node of smallest degree is a minimum cut: the first is cut off.
            if (!hand_over_) {
                if (!peel(g, cut->value, stop)) return false;
                continue;
            }
            on_side_.assign(n, 0);
            std::uint32_t u = 0;
            while (g.degree(u) != smallest) ++u;
            on_side_[u] = 1;
        } else {
            on_side_.assign(n, 0);
            for (std::uint32_t u : cut_side_) on_side_[u] = 1;
        }
        split(on_side_, false);
    }
    *cuts = cuts_;
    return true;
}

// The pieces of every worker in one set, ascending by input, then by first
// name.
PieceSets gather(std::span<const std::unique_ptr<Refiner>> refiners, Found Refiner::*which) {
    std::vector<std::tuple<std::uint64_t, utils::NodeName, std::uint32_t, std::uint64_t>> order;
    std::uint64_t members = 0;
    for (std::uint32_t w = 0; w < refiners.size(); ++w) {
        if (!refiners[w]) continue;
        const Found& found = (*refiners[w]).*which;
        for (std::uint64_t k = 0; k < found.sets.size(); ++k) {
            order.emplace_back(found.sets.inputs[k], found.first_names[k], w, k);
        }
        members += found.sets.members.size();
    }
    std::sort(order.begin(), order.end());
    PieceSets sets;
    sets.inputs.reserve(order.size());
    sets.starts.reserve(order.size() + 1);
    sets.members.reserve(members);
    for (const auto& [input, first, w, k] : order) {
        const auto piece = ((*refiners[w]).*which).sets.members_of(k);
        sets.inputs.push_back(input);
        sets.members.insert(sets.members.end(), piece.begin(), piece.end());
        sets.starts.push_back(sets.members.size());
    }
    return sets;
}

}  // namespace

runtime::Result<WellConnectedPieces> refine_well_connected(
    const EnrichedGraph& graph, std::span<const std::span<const utils::NodeId>> inputs,
    const ConnectivityRule& rule, SideHandling sides, runtime::PassProgress& progress,
    std::stop_token stop) {
    // The largest inputs first, each on its own, so that they do not end
    // the pass on one worker while the others idle.
    std::vector<std::uint64_t> order(inputs.size());
    std::iota(order.begin(), order.end(), std::uint64_t{0});
    std::stable_sort(order.begin(), order.end(), [&inputs](std::uint64_t a, std::uint64_t b) {
        return inputs[a].size() > inputs[b].size();
    });
    std::uint64_t length = 0;
    for (const auto& members : inputs) length += 1 + members.size();

    WellConnectedPieces result;
    result.cuts.assign(inputs.size(), 0);
    runtime::WorkerPool* pool = runtime::global_pool();
    const std::size_t workers = runtime::worker_count(pool);
    std::vector<std::unique_ptr<Refiner>> refiners(workers);
    std::atomic<bool> stopped{false};
    {
        runtime::ReportedPass pass(progress, length);
        auto body = [&](std::size_t i, std::size_t worker) {
            if (stopped.load(std::memory_order_relaxed)) return;
            const std::uint64_t input = order[i];
            auto& refiner = refiners[worker];
            if (!refiner) refiner = std::make_unique<Refiner>(graph, rule, sides);
            if (!refiner->refine(input, inputs[input], &result.cuts[input], stop)) {
                stopped.store(true, std::memory_order_relaxed);
                return;
            }
            pass.advance(1 + inputs[input].size());
        };
        if (pool && pool->size() > 0 && order.size() > 1) {
            auto chunk = [](void* context, std::size_t begin, std::size_t end, std::size_t worker) {
                auto& run = *static_cast<decltype(body)*>(context);
                for (std::size_t i = begin; i < end; ++i) run(i, worker);
            };
            pool->run(order.size(), 1, chunk, &body);
        } else {
            for (std::size_t i = 0; i < order.size(); ++i) body(i, 0);
        }
    }
    if (stopped.load() || stop.stop_requested()) return runtime::Error::interrupted();
    result.kept = gather(refiners, &Refiner::kept);
    result.sides = gather(refiners, &Refiner::sides);
    return result;
}

std::vector<std::pair<utils::NodeId, utils::NodeId>> induced_edges(
    const base::Graph& graph, std::span<const utils::NodeId> members) {
    std::vector<std::pair<utils::NodeId, utils::NodeId>> edges;
    for (utils::NodeId u : members) {
        const auto neighbours = graph.neighbours(u);
        // Neighbours above u, looked up among the members above u.
        auto cursor = std::upper_bound(members.begin(), members.end(), u);
        for (auto v = std::upper_bound(neighbours.begin(), neighbours.end(), u);
             v != neighbours.end() && cursor != members.end(); ++v) {
            cursor = std::lower_bound(cursor, members.end(), *v);
            if (cursor != members.end() && *cursor == *v) edges.emplace_back(u, *v);
        }
    }
    return edges;
}

}  // namespace quelmar::measures
