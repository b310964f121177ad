#include "src/measures/internal/bridges.h"

#include <algorithm>
#include <limits>

namespace quelmar::measures::internal {
namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
// Edge visits between two looks at the stop token.
constexpr std::uint64_t kStopCheckWork = std::uint64_t{1} << 18;

}  // namespace

bool more_balanced(const Bridge& a, const Bridge& b, std::uint64_t nodes) noexcept {
    const std::uint64_t a_side = std::min<std::uint64_t>(a.below, nodes - a.below);
    const std::uint64_t b_side = std::min<std::uint64_t>(b.below, nodes - b.below);
    if (a_side != b_side) return a_side > b_side;
    if (a.lo() != b.lo()) return a.lo() < b.lo();
    return a.hi() < b.hi();
}

bool BridgeFinder::search(const LocalGraph& graph, const std::stop_token& stop) {
    const std::uint32_t n = graph.node_count();
    enter_.assign(n, kNone);
    low_.resize(n);
    parent_.resize(n);
    below_.resize(n);
    next_edge_.resize(n);
    path_.clear();
    open_.clear();
    bridges_.clear();
    block_of_.resize(n);
    block_members_.clear();
    block_starts_.assign(1, 0);
    if (n == 0) return true;

    std::uint32_t time = 0;
    auto enter = [&](std::uint32_t u, std::uint32_t parent) {
        enter_[u] = low_[u] = time++;
        parent_[u] = parent;
        below_[u] = 1;
        next_edge_[u] = graph.offsets[u];
        path_.push_back(u);
        open_.push_back(u);
    };
    enter(0, kNone);
    std::uint64_t work = 0;
    while (!path_.empty()) {
        const std::uint32_t u = path_.back();
        if (next_edge_[u] < graph.offsets[u + 1]) {
            const std::uint32_t w = graph.targets[next_edge_[u]++];
            if (++work == kStopCheckWork) {
                work = 0;
                if (stop.stop_requested()) return false;
            }
            // Lists hold no repeats, so this is the one edge to the parent.
            if (w == parent_[u]) continue;
            if (enter_[w] == kNone) {
                enter(w, u);
            } else {
                low_[u] = std::min(low_[u], enter_[w]);
            }
            continue;
        }
        path_.pop_back();
        const std::uint32_t parent = parent_[u];
        if (low_[u] == enter_[u]) {
            // u and what is still open above it on the stack form a block.
            const std::uint32_t block = block_count();
            std::uint32_t v;
            do {
                v = open_.back();
                open_.pop_back();
                block_of_[v] = block;
                block_members_.push_back(v);
            } while (v != u);
            block_starts_.push_back(block_members_.size());
            if (parent != kNone) bridges_.push_back({parent, u, below_[u]});
        }
        if (parent != kNone) {
            low_[parent] = std::min(low_[parent], low_[u]);
            below_[parent] += below_[u];
        }
    }
    return true;
}

}  // namespace quelmar::measures::internal
