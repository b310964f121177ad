// Times the exact minimum cut alone on synthetic shapes that stress one part
// of it or another: a long cycle (no triangles, every node of degree 2), a
// ladder (no triangles, degree 3 everywhere: the scans join few pairs), a
// grid, a sparse random graph with a ring through it, a random graph where
// every node picks 8 others (smallest degree about 8), and two dense halves
// joined by a few edges.
//
//   min_cut_shapes_bench [NODES=100000]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "src/measures/internal/min_cut.h"

namespace {

using quelmar::measures::internal::LocalGraph;
using Edges = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

LocalGraph local_graph(std::uint32_t n, const Edges& edges) {
    std::vector<std::vector<std::uint32_t>> adjacency(n);
    for (auto [u, v] : edges) {
        if (u == v) continue;
        adjacency[u].push_back(v);
        adjacency[v].push_back(u);
    }
    LocalGraph graph;
    for (auto& list : adjacency) {
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
        graph.targets.insert(graph.targets.end(), list.begin(), list.end());
        graph.close_node();
    }
    return graph;
}

void time_shape(const char* name, std::uint32_t n, const Edges& edges) {
    LocalGraph graph = local_graph(n, edges);
    quelmar::measures::internal::MinCutSolver solver;
    auto start = std::chrono::steady_clock::now();
    auto cut = solver.solve(graph, std::stop_token());
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-28s %8u nodes %9zu edges: mincut %llu, side %llu, %.3f s\n", name, n,
                graph.targets.size() / 2, static_cast<unsigned long long>(cut->value),
                static_cast<unsigned long long>(cut->smaller_side), seconds);
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint32_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    std::mt19937_64 rng(1);
    Edges cycle, ladder, grid, sparse, out8, halves;
    for (std::uint32_t u = 0; u < n; ++u) cycle.push_back({u, (u + 1) % n});
    // The ladder costs O(n m) (see the report below), so it stays small.
    const std::uint32_t rungs = std::min<std::uint32_t>(n, 10000) / 2;
    for (std::uint32_t i = 0; i < rungs; ++i) {
        ladder.push_back({i, i + rungs});
        ladder.push_back({i, (i + 1) % rungs});
        ladder.push_back({i + rungs, (i + 1) % rungs + rungs});
    }
    std::uint32_t side = 1;
    while ((side + 1) * (side + 1) <= n) ++side;
    for (std::uint32_t r = 0; r < side; ++r) {
        for (std::uint32_t c = 0; c < side; ++c) {
            if (c + 1 < side) grid.push_back({r * side + c, r * side + c + 1});
            if (r + 1 < side) grid.push_back({r * side + c, (r + 1) * side + c});
        }
    }
    std::uniform_int_distribution<std::uint32_t> pick(0, n - 1);
    sparse = cycle;
    for (std::uint32_t i = 0; i < 4 * n; ++i) sparse.push_back({pick(rng), pick(rng)});
    // Every node picks 8 others: degree at least 8, 16 on average.
    for (std::uint32_t u = 0; u < n; ++u) {
        for (int k = 0; k < 8; ++k) out8.push_back({u, pick(rng)});
    }
    const std::uint32_t half = std::min<std::uint32_t>(n / 2, 2000);
    std::uniform_int_distribution<std::uint32_t> in_half(0, half - 1);
    for (std::uint32_t i = 0; i < 40 * half; ++i) {
        halves.push_back({in_half(rng), in_half(rng)});
        halves.push_back({half + in_half(rng), half + in_half(rng)});
    }
    for (std::uint32_t i = 0; i < 7; ++i) halves.push_back({in_half(rng), half + in_half(rng)});
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    time_shape("cycle", n, cycle);
    time_shape("ladder (ring of squares)", 2 * rungs, ladder);
    time_shape("grid", side * side, grid);
    time_shape("random, 5 per node, ring", n, sparse);
    time_shape("random, 8 picked per node", n, out8);
    time_shape("two dense halves, 7 across", 2 * half, halves);
    return 0;
}
