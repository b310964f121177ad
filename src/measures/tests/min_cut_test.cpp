// The exact minimum cut against plain twins: every bipartition on small
// graphs (value and the possible smaller sides), Stoer and Wagner's algorithm
// on larger ones, and shapes that defeat one shortcut or another.

#include "src/measures/internal/min_cut.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <stop_token>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace quelmar::measures::internal {
namespace {

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

bool connected(const LocalGraph& graph) {
    const std::uint32_t n = graph.node_count();
    std::vector<bool> seen(n, false);
    std::vector<std::uint32_t> stack{0};
    seen[0] = true;
    std::uint32_t reached = 1;
    while (!stack.empty()) {
        std::uint32_t u = stack.back();
        stack.pop_back();
        for (std::uint32_t v : graph.neighbours(u)) {
            if (!seen[v]) {
                seen[v] = true;
                ++reached;
                stack.push_back(v);
            }
        }
    }
    return reached == n;
}

struct AllCuts {
    std::uint64_t value = std::numeric_limits<std::uint64_t>::max();
    std::set<std::uint64_t> smaller_sides;  // over every minimum cut
};

// Every bipartition with node 0 on the first side.
AllCuts every_bipartition(const LocalGraph& graph) {
    const std::uint32_t n = graph.node_count();
    AllCuts cuts;
    for (std::uint64_t mask = 1; mask < (std::uint64_t{1} << (n - 1)); ++mask) {
        const std::uint64_t side = mask << 1;  // node 0 stays out of `side`
        std::uint64_t crossing = 0;
        for (std::uint32_t u = 0; u < n; ++u) {
            for (std::uint32_t v : graph.neighbours(u)) {
                if (u < v && ((side >> u) & 1) != ((side >> v) & 1)) ++crossing;
            }
        }
        const std::uint64_t size = __builtin_popcountll(side);
        const std::uint64_t smaller = std::min(size, n - size);
        if (crossing < cuts.value) {
            cuts.value = crossing;
            cuts.smaller_sides.clear();
        }
        if (crossing == cuts.value) cuts.smaller_sides.insert(smaller);
    }
    return cuts;
}

// Stoer and Wagner on a dense weight matrix: O(n^3), plainly right.
std::uint64_t stoer_wagner(const LocalGraph& graph) {
    const std::uint32_t n = graph.node_count();
    std::vector<std::vector<std::uint64_t>> w(n, std::vector<std::uint64_t>(n, 0));
    for (std::uint32_t u = 0; u < n; ++u) {
        for (std::uint32_t v : graph.neighbours(u)) w[u][v] = 1;
    }
    std::vector<std::uint32_t> alive(n);
    for (std::uint32_t u = 0; u < n; ++u) alive[u] = u;
    std::uint64_t best = std::numeric_limits<std::uint64_t>::max();
    while (alive.size() > 1) {
        std::vector<std::uint64_t> reach(n, 0);
        std::vector<bool> added(n, false);
        std::uint32_t previous = alive[0], last = alive[0];
        for (std::size_t step = 0; step < alive.size(); ++step) {
            std::uint32_t pick = n;
            for (std::uint32_t u : alive) {
                if (!added[u] && (pick == n || reach[u] > reach[pick])) pick = u;
            }
            added[pick] = true;
            previous = last;
            last = pick;
            if (step + 1 == alive.size()) best = std::min(best, reach[pick]);
            for (std::uint32_t u : alive) reach[u] += w[pick][u];
        }
        for (std::uint32_t u : alive) {
            w[previous][u] += w[last][u];
            w[u][previous] = w[previous][u];
        }
        w[previous][previous] = 0;
        alive.erase(std::find(alive.begin(), alive.end(), last));
    }
    return best;
}

Edges random_edges(std::mt19937_64& rng, std::uint32_t n, std::size_t count) {
    Edges edges;
    std::uniform_int_distribution<std::uint32_t> pick(0, n - 1);
    for (std::size_t i = 0; i < count; ++i) edges.push_back({pick(rng), pick(rng)});
    return edges;
}

MinCut solve(const LocalGraph& graph) {
    MinCutSolver solver;
    std::optional<MinCut> cut = solver.solve(graph, std::stop_token());
    EXPECT_TRUE(cut.has_value());
    return cut.value_or(MinCut{});
}

TEST(MinCut, DrawnGraphs) {
    // Two triangles joined by one edge: 0-1-2-0, 3-4-5-3, 2-3. The bridge is
    // the only cut of one edge, three nodes on each side.
    MinCut bridge = solve(local_graph(6, {{0, 1}, {1, 2}, {2, 0}, {3, 4}, {4, 5}, {5, 3}, {2, 3}}));
    EXPECT_EQ(bridge.value, 1u);
    EXPECT_EQ(bridge.smaller_side, 3u);
    // Two K4 joined by two disjoint edges: 0..3 and 4..7, 0-4, 1-5. Smallest
    // degree 3, connectivity 2, sides of 4.
    Edges two_k4{{0, 4}, {1, 5}};
    for (std::uint32_t a = 0; a < 4; ++a) {
        for (std::uint32_t b = a + 1; b < 4; ++b) {
            two_k4.push_back({a, b});
            two_k4.push_back({a + 4, b + 4});
        }
    }
    MinCut k4 = solve(local_graph(8, two_k4));
    EXPECT_EQ(k4.value, 2u);
    EXPECT_EQ(k4.smaller_side, 4u);
    // A single edge, a path and a cycle.
    MinCut edge = solve(local_graph(2, {{0, 1}}));
    EXPECT_EQ(edge.value, 1u);
    EXPECT_EQ(edge.smaller_side, 1u);
    EXPECT_EQ(solve(local_graph(5, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 0}})).value, 2u);
}

TEST(MinCut, CliquesCollapseAndKeepTheirDegree) {
    for (std::uint32_t n : {3u, 4u, 9u, 60u}) {
        Edges edges;
        for (std::uint32_t a = 0; a < n; ++a) {
            for (std::uint32_t b = a + 1; b < n; ++b) edges.push_back({a, b});
        }
        MinCut cut = solve(local_graph(n, edges));
        EXPECT_EQ(cut.value, n - 1) << n;
        EXPECT_EQ(cut.smaller_side, 1u) << n;
    }
}

TEST(MinCut, EveryBipartitionOfSmallRandomGraphs) {
    std::mt19937_64 rng(19);
    int checked = 0;
    for (int round = 0; round < 3000; ++round) {
        const std::uint32_t n = 2 + static_cast<std::uint32_t>(rng() % 11);
        const std::size_t edges = n - 1 + rng() % (2 * n + 4);
        LocalGraph graph = local_graph(n, random_edges(rng, n, edges));
        if (!connected(graph)) continue;
        ++checked;
        AllCuts truth = every_bipartition(graph);
        MinCut cut = solve(graph);
        ASSERT_EQ(cut.value, truth.value) << "round " << round;
        EXPECT_TRUE(truth.smaller_sides.count(cut.smaller_side)) << "round " << round;
    }
    EXPECT_GT(checked, 1000);
}

TEST(MinCut, StoerWagnerOnLargerGraphs) {
    std::mt19937_64 rng(2019);
    for (int round = 0; round < 150; ++round) {
        const std::uint32_t n = 20 + static_cast<std::uint32_t>(rng() % 100);
        Edges edges;
        const int shape = round % 3;
        if (shape == 0) {  // sparse random
            edges = random_edges(rng, n, n + rng() % (3 * n));
        } else if (shape == 1) {  // a ring with chords, as planted clusters are
            for (std::uint32_t u = 0; u < n; ++u) edges.push_back({u, (u + 1) % n});
            Edges chords = random_edges(rng, n, rng() % (2 * n));
            edges.insert(edges.end(), chords.begin(), chords.end());
        } else {  // dense blocks joined by a few edges
            const std::uint32_t blocks = 2 + static_cast<std::uint32_t>(rng() % 3);
            for (std::uint32_t a = 0; a < n; ++a) {
                for (std::uint32_t b = a + 1; b < n; ++b) {
                    const bool same = a % blocks == b % blocks;
                    if ((same && rng() % 10 < 8) || (!same && rng() % 200 == 0)) {
                        edges.push_back({a, b});
                    }
                }
            }
        }
        LocalGraph graph = local_graph(n, edges);
        if (!connected(graph)) continue;
        EXPECT_EQ(solve(graph).value, stoer_wagner(graph)) << "round " << round;
    }
}

TEST(MinCut, ScratchIsReusedAcrossGraphs) {
    std::mt19937_64 rng(7);
    MinCutSolver solver;
    for (int round = 0; round < 300; ++round) {
        const std::uint32_t n = 2 + static_cast<std::uint32_t>(rng() % 40);
        LocalGraph graph = local_graph(n, random_edges(rng, n, 3 * n));
        if (!connected(graph)) continue;
        std::optional<MinCut> cut = solver.solve(graph, std::stop_token());
        ASSERT_TRUE(cut);
        EXPECT_EQ(cut->value, stoer_wagner(graph));
    }
}

TEST(MinCut, StopsWhenAsked) {
    // A ring of 100,000 nodes with chords: well past one checkpoint.
    const std::uint32_t n = 100000;
    Edges edges;
    for (std::uint32_t u = 0; u < n; ++u) edges.push_back({u, (u + 1) % n});
    std::mt19937_64 rng(3);
    Edges chords = random_edges(rng, n, n);
    edges.insert(edges.end(), chords.begin(), chords.end());
    LocalGraph graph = local_graph(n, edges);
    std::stop_source source;
    source.request_stop();
    MinCutSolver solver;
    EXPECT_FALSE(solver.solve(graph, source.get_token()).has_value());
    EXPECT_EQ(solver.solve(graph, std::stop_token())->value, 2u);
}

}  // namespace
}  // namespace quelmar::measures::internal
