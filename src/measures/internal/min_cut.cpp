#include "src/measures/internal/min_cut.h"

#include <algorithm>
#include <limits>

namespace quelmar::measures::internal {
namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
// Edge visits between two looks at the stop token.
constexpr std::uint64_t kStopCheckWork = std::uint64_t{1} << 18;

}  // namespace

void MinCutSolver::offer(std::uint64_t value, std::uint64_t side) noexcept {
    if (value < best_.value) best_ = {value, std::min(side, total_nodes_ - side)};
}

void MinCutSolver::note_balanced(std::uint64_t value, std::uint64_t side, bool prefix,
                                 std::uint32_t index) noexcept {
    const std::uint64_t smaller = std::min(side, total_nodes_ - side);
    if (value < balanced_.value || (value == balanced_.value && smaller > balanced_.smaller_side)) {
        balanced_ = {value, smaller, prefix, index};
        balanced_fresh_ = true;
    }
}

void MinCutSolver::offer_group(std::uint64_t value, std::uint64_t side,
                               std::uint32_t group) noexcept {
    offer(value, side);
    if (tracking_) note_balanced(value, side, false, group);
}

void MinCutSolver::offer_prefix(std::uint64_t value, std::uint64_t side,
                                std::uint32_t length) noexcept {
    offer(value, side);
    if (tracking_) note_balanced(value, side, true, length);
}

void MinCutSolver::settle_round_side() {
    if (!tracking_ || !balanced_fresh_) return;
    balanced_fresh_ = false;
    side_round_ = round_;
    side_groups_.clear();
    if (balanced_.prefix) {
        side_groups_.assign(scan_order_.begin(), scan_order_.begin() + balanced_.index);
    } else {
        side_groups_.push_back(balanced_.index);
    }
}

void MinCutSolver::expand_side(std::vector<std::uint32_t>& side) {
    auto nodes_of_round = [this](std::uint32_t round) -> std::uint64_t {
        // Round 0 is the graph itself, also when the solve ended before
        // loading it.
        if (round == 0) return total_nodes_;
        if (round == round_) return current_.node_count();
        return map_offsets_[round + 1] - map_offsets_[round];
    };
    in_side_.assign(nodes_of_round(side_round_), 0);
    for (std::uint32_t group : side_groups_) in_side_[group] = 1;
    // Down the rounds: a node is on the side when its group next round is.
    for (std::uint32_t round = side_round_; round-- > 0;) {
        const std::uint32_t* map = maps_.data() + map_offsets_[round];
        const std::uint64_t k = nodes_of_round(round);
        in_side_next_.resize(k);
        for (std::uint64_t u = 0; u < k; ++u) in_side_next_[u] = in_side_[map[u]];
        std::swap(in_side_, in_side_next_);
    }
    side.clear();
    for (std::uint32_t u = 0; u < in_side_.size(); ++u) {
        if (in_side_[u]) side.push_back(u);
    }
}

std::uint32_t MinCutSolver::find(std::uint32_t u) noexcept {
    while (parent_[u] != u) {
        parent_[u] = parent_[parent_[u]];
        u = parent_[u];
    }
    return u;
}

void MinCutSolver::join(std::uint32_t a, std::uint32_t b) noexcept {
    a = find(a);
    b = find(b);
    if (a == b) return;
    // The smaller root wins, so the groups do not depend on the join order.
    if (a < b) parent_[b] = a;
    else parent_[a] = b;
}

void MinCutSolver::reset_groups(std::uint32_t n) {
    parent_.resize(n);
    for (std::uint32_t u = 0; u < n; ++u) parent_[u] = u;
}

bool MinCutSolver::contract_triangle_edges(const LocalGraph& graph, const std::stop_token& stop) {
    triangles_.orient(graph);
    support_.assign(triangles_.edge_count(), 0);
    const bool finished =
        triangles_.for_each(stop, [this](std::uint32_t, std::uint32_t, std::uint32_t,
                                         std::uint64_t uv, std::uint64_t vx, std::uint64_t ux) {
            ++support_[uv];
            ++support_[vx];
            ++support_[ux];
        });
    if (!finished) return false;
    for (std::uint64_t e = 0; e < support_.size(); ++e) {
        if (std::uint64_t{1} + support_[e] >= best_.value) {
            join(triangles_.tail(e), triangles_.head(e));
        }
    }
    return true;
}

void MinCutSolver::join_heavy_matching() {
    const std::uint32_t k = current_.node_count();
    visited_.assign(k, 0);  // here: matched
    for (std::uint32_t u = 0; u < k; ++u) {
        if (visited_[u]) continue;
        for (std::uint64_t e = current_.offsets[u]; e < current_.offsets[u + 1]; ++e) {
            const std::uint32_t v = current_.targets[e];
            const std::uint64_t twice = 2 * current_.weights[e];
            if (visited_[v] || (twice < degree_[u] && twice < degree_[v])) continue;
            visited_[u] = visited_[v] = 1;
            join(u, v);
            break;
        }
    }
}

void MinCutSolver::load(const LocalGraph& graph) {
    current_.offsets.assign(graph.offsets.begin(), graph.offsets.end());
    current_.targets.assign(graph.targets.begin(), graph.targets.end());
    current_.weights.assign(graph.targets.size(), 1);
    current_.sizes.assign(graph.node_count(), 1);
}

bool MinCutSolver::contract() {
    const std::uint32_t k = current_.node_count();
    // Groups are numbered in the order of their first node.
    owner_.assign(k, kNone);
    label_.resize(k);
    std::uint32_t groups = 0;
    for (std::uint32_t u = 0; u < k; ++u) {
        const std::uint32_t root = find(u);
        if (owner_[root] == kNone) owner_[root] = groups++;
        label_[u] = owner_[root];
    }
    if (groups == k) return false;
    if (tracking_) {
        settle_round_side();
        map_offsets_.push_back(maps_.size() + k);
        maps_.insert(maps_.end(), label_.begin(), label_.end());
        ++round_;
    }

    group_offsets_.assign(groups + 1, 0);
    for (std::uint32_t u = 0; u < k; ++u) ++group_offsets_[label_[u] + 1];
    for (std::uint32_t a = 0; a < groups; ++a) group_offsets_[a + 1] += group_offsets_[a];
    order_.resize(k);
    {
        std::vector<std::uint64_t>& fill = position_;
        fill.assign(group_offsets_.begin(), group_offsets_.end() - 1);
        for (std::uint32_t u = 0; u < k; ++u) order_[fill[label_[u]]++] = u;
    }

    next_.offsets.assign(1, 0);
    next_.targets.clear();
    next_.weights.clear();
    next_.sizes.assign(groups, 0);
    owner_.assign(groups, kNone);
    position_.resize(groups);
    for (std::uint32_t a = 0; a < groups; ++a) {
        for (std::uint64_t i = group_offsets_[a]; i < group_offsets_[a + 1]; ++i) {
            const std::uint32_t u = order_[i];
            next_.sizes[a] += current_.sizes[u];
            for (std::uint64_t e = current_.offsets[u]; e < current_.offsets[u + 1]; ++e) {
                const std::uint32_t b = label_[current_.targets[e]];
                if (b == a) continue;
                if (owner_[b] != a) {
                    owner_[b] = a;
                    position_[b] = next_.targets.size();
                    next_.targets.push_back(b);
                    next_.weights.push_back(current_.weights[e]);
                } else {
                    next_.weights[position_[b]] += current_.weights[e];
                }
            }
        }
        next_.offsets.push_back(next_.targets.size());
    }
    std::swap(current_, next_);
    return true;
}

bool MinCutSolver::scan(const std::stop_token& stop) {
    const std::uint32_t k = current_.node_count();
    const std::uint64_t cap = best_.value;
    reach_.assign(k, 0);
    visited_.assign(k, 0);
    if (buckets_.size() < cap + 1) buckets_.resize(cap + 1);
    std::uint64_t top = 0;
    std::uint64_t highest_used = 0;
    buckets_[0].push_back(0);

    std::uint64_t cut = 0;
    std::uint64_t inside = 0;
    std::uint64_t work = 0;
    bool stopped = false;
    if (tracking_) scan_order_.clear();
    for (std::uint32_t visited = 0; visited < k;) {
        std::uint32_t x = kNone;
        for (;;) {
            std::vector<std::uint32_t>& bucket = buckets_[top];
            if (bucket.empty()) {
                if (top == 0) break;
                --top;
                continue;
            }
            const std::uint32_t y = bucket.back();
            bucket.pop_back();
            // Entries left behind when a node moved up, or was visited.
            if (visited_[y] || std::min(reach_[y], cap) != top) continue;
            x = y;
            break;
        }
        if (x == kNone) break;  // unreachable for a connected graph
        visited_[x] = 1;
        ++visited;
        cut = cut - reach_[x] + (degree_[x] - reach_[x]);
        inside += current_.sizes[x];
        if (tracking_) scan_order_.push_back(x);
        if (visited < k) offer_prefix(cut, inside, visited);

        const std::uint64_t end = current_.offsets[x + 1];
        for (std::uint64_t e = current_.offsets[x]; e < end; ++e) {
            const std::uint32_t y = current_.targets[e];
            if (visited_[y]) continue;
            const std::uint64_t old_key = std::min(reach_[y], cap);
            reach_[y] += current_.weights[e];
            if (reach_[y] >= best_.value) join(x, y);
            const std::uint64_t key = std::min(reach_[y], cap);
            if (key != old_key) {
                buckets_[key].push_back(y);
                top = std::max(top, key);
                highest_used = std::max(highest_used, key);
            }
        }
        work += end - current_.offsets[x] + 1;
        if (work >= kStopCheckWork) {
            work = 0;
            if (stop.stop_requested()) {
                stopped = true;
                break;
            }
        }
    }
    for (std::uint64_t key = 0; key <= highest_used; ++key) buckets_[key].clear();
    return !stopped;
}

std::optional<MinCut> MinCutSolver::solve(const LocalGraph& graph, const std::stop_token& stop) {
    tracking_ = false;
    return run(graph, stop);
}

std::optional<MinCut> MinCutSolver::solve(const LocalGraph& graph, const std::stop_token& stop,
                                          std::vector<std::uint32_t>& side) {
    tracking_ = true;
    round_ = 0;
    balanced_ = {std::numeric_limits<std::uint64_t>::max(), 0, false, 0};
    balanced_fresh_ = false;
    maps_.clear();
    map_offsets_.assign(1, 0);
    std::optional<MinCut> cut = run(graph, stop);
    if (!cut) return cut;
    settle_round_side();
    expand_side(side);
    return cut;
}

std::optional<MinCut> MinCutSolver::run(const LocalGraph& graph, const std::stop_token& stop) {
    const std::uint32_t n = graph.node_count();
    total_nodes_ = n;
    best_ = {std::numeric_limits<std::uint64_t>::max(), 0};
    for (std::uint32_t u = 0; u < n; ++u) offer_group(graph.degree(u), 1, u);
    // Connected: at least one edge crosses every cut.
    if (best_.value <= 1) return best_;

    reset_groups(n);
    if (!contract_triangle_edges(graph, stop)) return std::nullopt;
    load(graph);
    contract();
    for (;;) {
        const std::uint32_t k = current_.node_count();
        // One node left: every pair was shown at least B-connected.
        if (k < 2) break;
        degree_.assign(k, 0);
        for (std::uint32_t u = 0; u < k; ++u) {
            for (std::uint64_t e = current_.offsets[u]; e < current_.offsets[u + 1]; ++e) {
                degree_[u] += current_.weights[e];
            }
            offer_group(degree_[u], current_.sizes[u], u);
        }
        if (k <= 2 || best_.value <= 1) break;
        if (stop.stop_requested()) return std::nullopt;
        reset_groups(k);
        join_heavy_matching();
        if (!scan(stop)) return std::nullopt;
        if (!contract()) break;  // unreachable: the last node visited always joins
    }
    return best_;
}

}  // namespace quelmar::measures::internal
