// The well-connected refinement and the two cuts it is made of, against plain
// twins: the side of the minimum cut against every bipartition, bridges and
// blocks against removing each edge in turn, and the pass against its own
// steps taken one cut at a time through the hand-over route.

#include "src/measures/well_connected.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <stop_token>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "src/measures/internal/bridges.h"
#include "src/measures/internal/min_cut.h"
#include "src/quelmar/tests/test_graphs.h"

namespace quelmar::measures {
namespace {

using internal::LocalGraph;
using Edges = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

LocalGraph local_graph(std::uint32_t n, const Edges& edges) {
    std::vector<std::set<std::uint32_t>> adjacency(n);
    for (auto [u, v] : edges) {
        if (u == v) continue;
        adjacency[u].insert(v);
        adjacency[v].insert(u);
    }
    LocalGraph graph;
    for (const auto& list : adjacency) {
        graph.targets.insert(graph.targets.end(), list.begin(), list.end());
        graph.close_node();
    }
    return graph;
}

// Nodes reached from `start` without crossing edge `skip` (none: {n, n}).
std::vector<bool> reached(const LocalGraph& graph, std::uint32_t start,
                          std::pair<std::uint32_t, std::uint32_t> skip) {
    std::vector<bool> seen(graph.node_count(), false);
    std::vector<std::uint32_t> stack{start};
    seen[start] = true;
    while (!stack.empty()) {
        const std::uint32_t u = stack.back();
        stack.pop_back();
        for (std::uint32_t v : graph.neighbours(u)) {
            if (std::minmax(u, v) == std::minmax(skip.first, skip.second) || seen[v]) continue;
            seen[v] = true;
            stack.push_back(v);
        }
    }
    return seen;
}

std::uint64_t crossing(const LocalGraph& graph, const std::vector<bool>& side) {
    std::uint64_t count = 0;
    for (std::uint32_t u = 0; u < graph.node_count(); ++u) {
        for (std::uint32_t v : graph.neighbours(u)) count += u < v && side[u] != side[v];
    }
    return count;
}

Edges random_edges(std::mt19937_64& rng, std::uint32_t n, std::size_t count) {
    Edges edges;
    std::uniform_int_distribution<std::uint32_t> pick(0, n - 1);
    for (std::size_t i = 0; i < count; ++i) edges.push_back({pick(rng), pick(rng)});
    return edges;
}

// `count` cliques of `size` nodes in a row, block b on nodes b * size ...,
// each joined to the next by `links` edges.
Edges chain_of_cliques(std::uint32_t count, std::uint32_t size, std::uint32_t links) {
    Edges edges;
    for (std::uint32_t b = 0; b < count; ++b) {
        const std::uint32_t base = b * size;
        for (std::uint32_t i = 0; i < size; ++i) {
            for (std::uint32_t j = i + 1; j < size; ++j) edges.push_back({base + i, base + j});
        }
        for (std::uint32_t l = 0; b + 1 < count && l < links; ++l) {
            edges.push_back({base + l, base + size + l});
        }
    }
    return edges;
}

TEST(MinCutSide, IsAMinimumCutAndLeavesTheMeasureAlone) {
    std::mt19937_64 rng(23);
    internal::MinCutSolver plain, sided;
    std::vector<std::uint32_t> side;
    int checked = 0;
    for (int round = 0; round < 2000; ++round) {
        const std::uint32_t n = 2 + static_cast<std::uint32_t>(rng() % 40);
        const LocalGraph graph = local_graph(n, random_edges(rng, n, n + rng() % (4 * n)));
        const std::vector<bool> whole = reached(graph, 0, {n, n});
        if (std::count(whole.begin(), whole.end(), true) != n) continue;
        ++checked;
        const auto expected = plain.solve(graph, std::stop_token());
        const auto cut = sided.solve(graph, std::stop_token(), side);
        ASSERT_TRUE(expected && cut);
        EXPECT_EQ(cut->value, expected->value);
        EXPECT_EQ(cut->smaller_side, expected->smaller_side);
        ASSERT_FALSE(side.empty());
        ASSERT_LT(side.size(), n);
        ASSERT_TRUE(std::is_sorted(side.begin(), side.end()));
        std::vector<bool> on_side(n, false);
        for (std::uint32_t u : side) on_side[u] = true;
        EXPECT_EQ(crossing(graph, on_side), cut->value) << "round " << round;
        // Never less balanced than the cut the measure reports.
        EXPECT_GE(std::min<std::size_t>(side.size(), n - side.size()), cut->smaller_side);
    }
    EXPECT_GT(checked, 500);
}

TEST(MinCutSide, PrefersTheMiddleOfAChain) {
    // Nine K6 in a row, each joined to the next by two edges: every boundary
    // is a minimum cut of 2; the middle one leaves 24 and 30 nodes.
    internal::MinCutSolver solver;
    std::vector<std::uint32_t> side;
    const auto cut = solver.solve(local_graph(54, chain_of_cliques(9, 6, 2)), {}, side);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->value, 2u);
    EXPECT_EQ(std::min<std::size_t>(side.size(), 54 - side.size()), 24u);
}

TEST(Bridges, AgainstRemovingEachEdge) {
    std::mt19937_64 rng(29);
    internal::BridgeFinder finder;
    for (int round = 0; round < 1500; ++round) {
        const std::uint32_t n = 1 + static_cast<std::uint32_t>(rng() % 30);
        const LocalGraph graph = local_graph(n, random_edges(rng, n, n + rng() % (2 * n)));
        const std::vector<bool> whole = reached(graph, 0, {n, n});
        if (std::count(whole.begin(), whole.end(), true) != n) continue;
        ASSERT_TRUE(finder.search(graph, std::stop_token()));
        std::set<std::pair<std::uint32_t, std::uint32_t>> found;
        for (const internal::Bridge& bridge : finder.bridges()) {
            found.insert({bridge.lo(), bridge.hi()});
            // The child's side, counted.
            const std::vector<bool> side = reached(graph, bridge.child, {bridge.lo(), bridge.hi()});
            EXPECT_EQ(std::count(side.begin(), side.end(), true), bridge.below);
            EXPECT_FALSE(side[bridge.parent]);
        }
        std::set<std::pair<std::uint32_t, std::uint32_t>> truth;
        for (std::uint32_t u = 0; u < n; ++u) {
            for (std::uint32_t v : graph.neighbours(u)) {
                if (u < v && !reached(graph, u, {u, v})[v]) truth.insert({u, v});
            }
        }
        EXPECT_EQ(found, truth) << "round " << round;
        // Two nodes share a block exactly when no bridge separates them.
        for (std::uint32_t u = 0; u < n; ++u) {
            for (std::uint32_t v : graph.neighbours(u)) {
                EXPECT_EQ(finder.block_of(u) == finder.block_of(v),
                          !truth.count(std::minmax(u, v)));
            }
        }
    }
}

using Kept = std::vector<std::vector<utils::NodeId>>;

ConnectivityRule rule_of(std::uint64_t min_size, std::uint64_t largest, double (*t)(double)) {
    ConnectivityRule rule;
    rule.min_size = min_size;
    for (std::uint64_t n = min_size; n <= largest; ++n) {
        rule.least.push_back(static_cast<std::uint64_t>(std::floor(t(static_cast<double>(n)))) + 1);
    }
    return rule;
}

double log10_rule(double n) { return std::log10(n); }
double twice_log10_rule(double n) { return 2 * std::log10(n); }
double three_rule(double) { return 3; }

TEST(WellConnected, AChainOfBlocksComesApartIntoItsBlocks) {
    // Eighty K12 joined in a row by single edges, and the same with a tail:
    // a path of 5 hanging off the last block (fewer than min_size: dropped).
    Edges edges = chain_of_cliques(80, 12, 1);
    const std::uint32_t n = 80 * 12;
    for (std::uint32_t u = n - 1; u < n + 4; ++u) edges.push_back({u, u + 1});
    auto graph = testing::shared_graph(n + 5, edges);
    std::vector<utils::NodeId> chain(n), tailed(n + 5);
    std::iota(chain.begin(), chain.end(), 0u);
    std::iota(tailed.begin(), tailed.end(), 0u);
    const std::vector<std::span<const utils::NodeId>> inputs{chain, tailed};
    const auto result = refine_well_connected(*graph, inputs, rule_of(11, n + 5, log10_rule),
                                              SideHandling::kRefine);
    ASSERT_TRUE(result.ok());
    ASSERT_EQ(result->kept.size(), 160u);
    for (std::size_t k = 0; k < 160; ++k) {
        const auto members = result->kept.members_of(k);
        EXPECT_EQ(result->kept.inputs[k], k / 80);
        ASSERT_EQ(members.size(), 12u);
        EXPECT_EQ(members[0], 12 * (k % 80)) << "ascending by smallest member";
    }
    EXPECT_EQ(result->cuts, (std::vector<std::uint64_t>{79, 80}));
}

TEST(WellConnected, AStarLosesEveryLeafOneCutEach) {
    // A K12 hub with 3,000 leaves, four on each of its nodes but one hub
    // node with far more: each leaf is a cut of one, and the hub remains.
    Edges edges = chain_of_cliques(1, 12, 0);
    for (std::uint32_t leaf = 12; leaf < 3012; ++leaf)
        edges.push_back({leaf < 56 ? leaf % 11 : 11, leaf});
    auto graph = testing::shared_graph(3012, edges);
    std::vector<utils::NodeId> star(3012);
    std::iota(star.begin(), star.end(), 0u);
    const std::vector<std::span<const utils::NodeId>> inputs{star};
    for (std::uint64_t min_size : {2, 5, 11}) {
        const auto result = refine_well_connected(
            *graph, inputs, rule_of(min_size, 3012, log10_rule), SideHandling::kRefine);
        ASSERT_TRUE(result.ok());
        ASSERT_EQ(result->kept.size(), 1u);
        EXPECT_EQ(result->kept.members_of(0).size(), 12u);
        EXPECT_EQ(result->cuts[0], 3000u);
    }
}

// The pass against its steps taken one cut at a time: every side handed
// back as a new input must end where refining the whole ends, cuts counted
// alike. Refining in place takes shortcuts (the tree of blocks, nodes peeled
// without a minimum-cut computation); handing back takes none.
TEST(WellConnected, HandingSidesBackChangesNothing) {
    std::mt19937_64 rng(31);
    for (int round = 0; round < 40; ++round) {
        const std::uint32_t n = 300;
        // Planted blocks of uneven density, sparse links, a few self-loops.
        Edges edges;
        std::uint32_t start = 0;
        while (start < n) {
            const std::uint32_t size = std::min<std::uint32_t>(n - start, 5 + rng() % 40);
            const double p = 0.15 + 0.6 * static_cast<double>(rng() % 100) / 100.0;
            for (std::uint32_t i = 0; i < size; ++i) {
                for (std::uint32_t j = i + 1; j < size; ++j) {
                    if (static_cast<double>(rng() % 1000) < 1000 * p) {
                        edges.push_back({start + i, start + j});
                    }
                }
            }
            start += size;
        }
        for (const auto& edge : random_edges(rng, n, 60 + rng() % 200)) edges.push_back(edge);
        // Leaves and short paths hanging off random nodes, as around hubs.
        for (std::uint32_t k = 0; k < 40; ++k) {
            const std::uint32_t at = rng() % n, hanging = n - 1 - rng() % 60;
            edges.push_back({at, hanging});
            if (k % 4 == 0) edges.push_back({hanging, n - 1 - rng() % 60});
        }
        for (std::uint32_t k = 0; k < 5; ++k) edges.push_back({k * 7, k * 7});
        auto graph = testing::shared_graph(n, edges);
        std::vector<std::vector<utils::NodeId>> clusters(4);
        for (std::uint32_t u = 0; u < n; ++u) {
            for (auto& cluster : clusters) {
                if (rng() % 3 != 0) cluster.push_back(u);
            }
        }
        std::vector<std::span<const utils::NodeId>> inputs(clusters.begin(), clusters.end());
        // Stricter rules peel nodes of smallest degree one after another.
        double (*const rules[])(double) = {log10_rule, twice_log10_rule, three_rule};
        const ConnectivityRule rule = rule_of(2 + rng() % 12, n, rules[round % 3]);

        const auto whole = refine_well_connected(*graph, inputs, rule, SideHandling::kRefine);
        ASSERT_TRUE(whole.ok());
        std::map<std::uint64_t, Kept> expected;
        for (std::size_t k = 0; k < whole->kept.size(); ++k) {
            const auto members = whole->kept.members_of(k);
            expected[whole->kept.inputs[k]].emplace_back(members.begin(), members.end());
        }
        std::map<std::uint64_t, Kept> stepped;
        std::vector<std::uint64_t> cuts(inputs.size(), 0);
        std::vector<std::uint64_t> origin(inputs.size());
        std::iota(origin.begin(), origin.end(), 0);
        PieceSets sides;
        for (int step = 0; !inputs.empty(); ++step) {
            ASSERT_LT(step, 1000);
            const auto once = refine_well_connected(*graph, inputs, rule, SideHandling::kHandOver);
            ASSERT_TRUE(once.ok());
            for (std::size_t k = 0; k < once->kept.size(); ++k) {
                const auto members = once->kept.members_of(k);
                stepped[origin[once->kept.inputs[k]]].emplace_back(members.begin(), members.end());
            }
            for (std::size_t i = 0; i < inputs.size(); ++i) cuts[origin[i]] += once->cuts[i];
            sides = once->sides;
            std::vector<std::uint64_t> next_origin;
            inputs.clear();
            for (std::size_t k = 0; k < sides.size(); ++k) {
                inputs.push_back(sides.members_of(k));
                next_origin.push_back(origin[sides.inputs[k]]);
            }
            origin = next_origin;
        }
        for (auto& [input, pieces] : expected) std::sort(pieces.begin(), pieces.end());
        for (auto& [input, pieces] : stepped) std::sort(pieces.begin(), pieces.end());
        EXPECT_EQ(stepped, expected) << "round " << round;
        EXPECT_EQ(cuts, whole->cuts) << "round " << round;
    }
}

}  // namespace
}  // namespace quelmar::measures
