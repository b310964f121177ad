#include "src/quelmar/covered_slots.h"

#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "src/quelmar/tests/test_graphs.h"

namespace quelmar {
namespace {

std::vector<const RichCluster*> all_clusters(const RichClustering& clustering) {
    std::vector<const RichCluster*> clusters;
    for (const auto& entry : clustering.clusters) clusters.push_back(&entry.second);
    return clusters;
}

std::uint64_t covered(const RichClustering& clustering, CoverageRoute route) {
    std::vector<const RichCluster*> clusters = all_clusters(clustering);
    Roaring nodes;
    for (const RichCluster* cluster : clusters) {
        cluster->members.for_each([&](std::uint32_t v) { nodes.add(v); });
    }
    std::vector<std::span<const utils::NodeId>> members;
    for (std::size_t i = 0; i < clusters.size(); ++i) members.push_back(clustering.member_ids(i));
    return count_covered_slots(*clustering.graph, clusters, members, nodes.cardinality(), route,
                               runtime::PassProgress::unwatched());
}

void expect_both_routes(const RichClustering& clustering, std::uint64_t slots) {
    EXPECT_EQ(covered(clustering, CoverageRoute::Dense), slots);
    EXPECT_EQ(covered(clustering, CoverageRoute::Compressed), slots);
    EXPECT_EQ(covered(clustering, CoverageRoute::Automatic), slots);
}

TEST(CoveredSlots, OverlappingClustersCountSharedEdgesOnce) {
    // Two triangles sharing the edge 1-2; one more edge 3-4 leaves both.
    auto graph = testing::shared_graph(5, {{0, 1}, {0, 2}, {1, 2}, {1, 3}, {2, 3}, {3, 4}});
    auto clustering = testing::packed(graph, {{1, {0, 1, 2}}, {2, {1, 2, 3}}});
    expect_both_routes(*clustering, 10);  // five distinct edges, two slots each
}

TEST(CoveredSlots, EdgeBetweenTwoClustersIsNotCovered) {
    auto graph = testing::shared_graph(4, {{0, 1}, {1, 2}, {2, 3}});
    auto clustering = testing::packed(graph, {{1, {0, 1}}, {2, {2, 3}}});
    expect_both_routes(*clustering, 4);
}

TEST(CoveredSlots, SelfLoopOccupiesOneSlot) {
    auto graph = testing::shared_graph(3, {{0, 1}, {0, 0}, {1, 2}});
    auto clustering = testing::packed(graph, {{1, {0, 1}}});
    expect_both_routes(*clustering, 3);
}

TEST(CoveredSlots, NoClustersCoverNothing) {
    auto graph = testing::shared_graph(3, {{0, 1}});
    auto clustering = testing::packed(graph, {});
    expect_both_routes(*clustering, 0);
}

TEST(CoveredSlots, RoutesAgreeWithNaiveCountOnRandomGraphs) {
    std::mt19937_64 rng(99);
    for (int round = 0; round < 25; ++round) {
        std::uint64_t nodes = 2 + rng() % 400;
        auto graph = testing::shared_graph(nodes, testing::random_edges(rng, nodes, rng() % 3000));
        auto clusters = testing::random_clusters(rng, nodes, 1 + rng() % 50, 2 + rng() % 60);
        std::vector<std::vector<utils::NodeId>> members;
        for (const auto& cluster : clusters) members.push_back(cluster.second);
        auto clustering = testing::packed(graph, clusters);
        expect_both_routes(*clustering, testing::naive_covered_slots(graph->graph(), members));
    }
}

TEST(CoveredSlots, DisjointClustersAddTheirInsideEntries) {
    std::mt19937_64 rng(17);
    for (int round = 0; round < 10; ++round) {
        std::uint64_t nodes = 10 + rng() % 300;
        auto graph = testing::shared_graph(nodes, testing::random_edges(rng, nodes, rng() % 2000));
        // A partition of a random prefix of the nodes into runs.
        testing::ClusterList clusters;
        std::vector<std::vector<utils::NodeId>> members;
        for (utils::NodeId next = 0; next + 2 <= nodes && rng() % 8 != 0;) {
            utils::NodeId size = std::min<utils::NodeId>(2 + rng() % 12, nodes - next);
            std::vector<utils::NodeId> run;
            for (utils::NodeId k = 0; k < size; ++k) run.push_back(next + k);
            next += size;
            members.push_back(run);
            clusters.push_back({clusters.size(), run});
        }
        auto clustering = testing::packed(graph, clusters);
        expect_both_routes(*clustering, testing::naive_covered_slots(graph->graph(), members));
    }
}

TEST(CoveredSlots, RouteFollowsGraphSizeAndSelectionShare) {
    const std::uint64_t modest = std::uint64_t{1} << 30;
    EXPECT_EQ(choose_coverage_route(0, 0), CoverageRoute::Dense);
    EXPECT_EQ(choose_coverage_route(modest, 0), CoverageRoute::Dense);
    const std::uint64_t huge = std::uint64_t{10'000'000'000};
    EXPECT_EQ(choose_coverage_route(huge, 1000), CoverageRoute::Compressed);
    EXPECT_EQ(choose_coverage_route(huge, huge / 16), CoverageRoute::Dense);
}

}  // namespace
}  // namespace quelmar
