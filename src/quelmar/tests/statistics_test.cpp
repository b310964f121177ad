#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/log.h"
#include "src/quelmar/clustering_handle.h"
#include "src/quelmar/tests/stats_checks.h"
#include "src/quelmar/tests/test_graphs.h"

namespace quelmar {
namespace {

using testing::all_entries_are;
using testing::find_summary;

const std::vector<StatisticsType> kWithoutCpm = {
    StatisticsType::Mcd, StatisticsType::Size, StatisticsType::Modularity,
    StatisticsType::DeviationTreeness, StatisticsType::Density};

std::vector<StatisticsType> types_of(const GraphStats& stats) {
    std::vector<StatisticsType> types;
    for (const auto& entry : stats.distributions) types.push_back(entry.first);
    return types;
}

// Two triangles 0-1-2 and 1-2-3 sharing the edge 1-2, a tail 3-4 and an
// isolated pair 5-6.
SharedGraph overlap_graph() {
    return testing::shared_graph(7, {{0, 1}, {0, 2}, {1, 2}, {1, 3}, {2, 3}, {3, 4}, {5, 6}});
}

TEST(ClusteringHandle, SelectIdsSortsDeduplicatesAndShares) {
    auto clustering = testing::packed(overlap_graph(), {{1, {0, 1}}, {3, {2, 3}}, {5, {5, 6}}});
    auto handle = ClusteringHandle::select_ids(clustering, {5, 3, 5, 1, 99});
    EXPECT_EQ(handle.keys, (std::vector<base::ClusterId>{1, 3, 5, 99}));
    EXPECT_EQ(handle.clustering.get(), clustering.get());
    EXPECT_EQ(handle.graph.get(), clustering->graph.get());

    auto empty = ClusteringHandle::select_ids(clustering, {});
    EXPECT_TRUE(empty.keys.empty());
    EXPECT_TRUE(empty.selected().empty());
}

TEST(ClusteringHandle, SelectedSkipsUnknownIdsEitherWay) {
    testing::ClusterList clusters;
    for (base::ClusterId id = 10; id < 400; id += 3) clusters.push_back({id, {0, 1}});
    auto clustering = testing::packed(overlap_graph(), clusters);
    // Few keys (searched one by one) and many keys (one merge walk).
    for (std::vector<base::ClusterId> ids :
         {std::vector<base::ClusterId>{1, 13, 14, 397, 1000}, std::vector<base::ClusterId>{}}) {
        if (ids.empty()) {
            for (base::ClusterId id = 0; id < 500; ++id) ids.push_back(id);
        }
        auto handle = ClusteringHandle::select_ids(clustering, ids);
        std::vector<base::ClusterId> expected;
        for (const auto& [id, members] : clusters) {
            if (std::binary_search(handle.keys.begin(), handle.keys.end(), id)) {
                expected.push_back(id);
            }
        }
        std::vector<base::ClusterId> got;
        for (const auto* entry : handle.selected()) got.push_back(entry->first);
        EXPECT_EQ(got, expected);
    }
}

TEST(Stats, OverlappingClustersCountSharedNodesAndEdgesOnce) {
    auto graph = overlap_graph();
    auto clustering = testing::packed(graph, {{1, {0, 1, 2}}, {2, {1, 2, 3}}, {3, {3, 4}}});
    GraphStats stats = ClusteringHandle::select_ids(clustering, {1, 2}).stats();
    EXPECT_EQ(stats.num_clusters, 2u);
    EXPECT_EQ(stats.covered_nodes, 4u);
    EXPECT_EQ(stats.covered_edges, 5u);
    EXPECT_EQ(stats.total_nodes, 7u);
    EXPECT_EQ(stats.total_edges, 7u);
    EXPECT_EQ(types_of(stats), kWithoutCpm);

    // Edge 2-3 joins clusters 1 and 3 but lies in neither alone.
    auto apart = ClusteringHandle::select_ids(clustering, {1, 3}).stats();
    EXPECT_EQ(apart.covered_nodes, 5u);
    EXPECT_EQ(apart.covered_edges, 4u);
}

TEST(Stats, UnknownIdsChangeNothing) {
    auto clustering = testing::packed(overlap_graph(), {{1, {0, 1, 2}}, {2, {1, 2, 3}}});
    GraphStats with = ClusteringHandle::select_ids(clustering, {0, 1, 77}).stats();
    GraphStats without = ClusteringHandle::select_ids(clustering, {1}).stats();
    EXPECT_EQ(with.num_clusters, 1u);
    testing::expect_same_stats(with, without);
}

TEST(Stats, EmptySelectionGivesZerosAndTheGraphTotals) {
    auto graph = overlap_graph();
    for (auto cpm : {std::optional<double>(), std::optional<double>(0.5)}) {
        auto clustering = testing::packed(graph, {{1, {0, 1, 2}}}, cpm);
        GraphStats stats = ClusteringHandle::select_ids(clustering, {2, 3}).stats();
        EXPECT_EQ(stats.num_clusters, 0u);
        EXPECT_EQ(stats.covered_nodes, 0u);
        EXPECT_EQ(stats.covered_edges, 0u);
        EXPECT_EQ(stats.total_nodes, 7u);
        EXPECT_EQ(stats.total_edges, 7u);
        EXPECT_EQ(stats.distributions.size(), cpm ? 6u : 5u);
        for (const auto& [type, summary] : stats.distributions) {
            EXPECT_TRUE(all_entries_are(summary, 0.0)) << display_text(type);
        }
    }
}

TEST(Stats, CpmOnlyWithAResolution) {
    // A triangle cluster: n 3, m 3, so Cpm is 3 - 3r.
    auto graph = testing::shared_graph(4, {{0, 1}, {1, 2}, {0, 2}, {2, 3}});
    auto with = testing::packed(graph, {{7, {0, 1, 2}}}, 0.25);
    GraphStats stats = ClusteringHandle::select_ids(with, {7}).stats();
    std::vector<StatisticsType> expected = kWithoutCpm;
    expected.push_back(StatisticsType::Cpm);
    EXPECT_EQ(types_of(stats), expected);
    EXPECT_TRUE(all_entries_are(*find_summary(stats, StatisticsType::Cpm), 3.0 - 3.0 * 0.25));
    EXPECT_TRUE(all_entries_are(*find_summary(stats, StatisticsType::Density), 1.0));
    EXPECT_TRUE(
        all_entries_are(*find_summary(stats, StatisticsType::DeviationTreeness), 1.0 / 3.0));
    EXPECT_TRUE(all_entries_are(*find_summary(stats, StatisticsType::Mcd), 2.0));

    auto without = testing::packed(graph, {{7, {0, 1, 2}}});
    EXPECT_EQ(types_of(ClusteringHandle::select_ids(without, {7}).stats()), kWithoutCpm);
}

TEST(Stats, EdgelessGraphHasNoModularityButSizes) {
    auto graph = testing::shared_graph(9, {});
    auto clustering = testing::packed(graph, {{1, {0, 1}}, {2, {2, 3, 4}}, {3, {5, 6, 7, 8}}});
    GraphStats stats = ClusteringHandle::select_ids(clustering, {1, 2, 3}).stats();
    EXPECT_EQ(stats.covered_edges, 0u);
    EXPECT_TRUE(all_entries_are(*find_summary(stats, StatisticsType::Modularity), 0.0));
    const quality::SummarizedDistribution& sizes = *find_summary(stats, StatisticsType::Size);
    EXPECT_EQ(sizes.minimum(), 2.0);
    EXPECT_EQ(sizes.median(), 3.0);
    EXPECT_EQ(sizes.maximum(), 4.0);
    // Two nodes without an edge: (0 + 1 - 2) / 2.
    EXPECT_EQ(find_summary(stats, StatisticsType::DeviationTreeness)->maximum(), -0.5);
}

TEST(Stats, SelfLoopsNeverPushCoveredEdgesPastTotal) {
    // Only self-loops: two slots, one edge in total, both loops covered.
    auto loops = testing::shared_graph(2, {{0, 0}, {1, 1}});
    auto both = testing::packed(loops, {{1, {0, 1}}});
    GraphStats stats = ClusteringHandle::select_ids(both, {1}).stats();
    EXPECT_EQ(stats.total_edges, 1u);
    EXPECT_EQ(stats.covered_edges, 1u);

    // A loop plus one edge: three slots, one edge in total.
    auto mixed = testing::shared_graph(3, {{0, 0}, {1, 2}});
    auto clustering = testing::packed(mixed, {{1, {0, 1}}, {2, {0, 1, 2}}});
    EXPECT_EQ(ClusteringHandle::select_ids(clustering, {1}).stats().covered_edges, 0u);
    GraphStats all = ClusteringHandle::select_ids(clustering, {2}).stats();
    EXPECT_EQ(all.covered_edges, 1u);
    EXPECT_EQ(all.total_edges, 1u);
}

TEST(Stats, CoverageMatchesNaiveCountsOnRandomGraphs) {
    std::mt19937_64 rng(31337);
    for (int round = 0; round < 20; ++round) {
        std::uint64_t nodes = 2 + rng() % 300;
        auto graph = testing::shared_graph(nodes, testing::random_edges(rng, nodes, rng() % 2000));
        auto clusters = testing::random_clusters(rng, nodes, 1 + rng() % 40, 2 + rng() % 50);
        auto clustering = testing::packed(graph, clusters);
        std::vector<base::ClusterId> ids;
        std::vector<std::vector<utils::NodeId>> chosen;
        for (const auto& [id, members] : clusters) {
            if (rng() % 3 != 0) {
                ids.push_back(id);
                chosen.push_back(members);
            }
        }
        ids.push_back(1u << 30);  // names no cluster
        GraphStats stats = ClusteringHandle::select_ids(clustering, ids).stats();
        EXPECT_EQ(stats.num_clusters, chosen.size());
        EXPECT_EQ(stats.covered_nodes, testing::naive_covered_nodes(chosen));
        EXPECT_EQ(stats.covered_edges, testing::naive_covered_slots(graph->graph(), chosen) / 2);
        EXPECT_LE(stats.covered_edges, stats.total_edges);
    }
}

std::vector<std::string>& logged() {
    static std::vector<std::string> lines;
    return lines;
}

void remember(runtime::log::Level, std::string_view target, std::string_view message) {
    logged().push_back(std::string(target) + " | " + std::string(message));
}

TEST(Stats, LogsTheCoveredNodes) {
    auto clustering = testing::packed(overlap_graph(), {{1, {0, 1, 2}}, {2, {1, 2, 3}}});
    runtime::log::set_sink(remember, runtime::log::Level::Debug);
    (void)ClusteringHandle::select_ids(clustering, {1, 2}).stats();
    runtime::log::set_sink(nullptr, runtime::log::Level::Debug);
    EXPECT_EQ(logged(), std::vector<std::string>{"orvanthel::quelmar | covered nodes: 4"});
}

TEST(Stats, ConcurrentCallersGetIdenticalResults) {
    std::mt19937_64 rng(5);
    auto graph = testing::shared_graph(2000, testing::random_edges(rng, 2000, 20000));
    auto clustering = testing::packed(graph, testing::random_clusters(rng, 2000, 300, 80), 0.1);
    std::vector<ClusteringHandle> handles;
    std::vector<base::ClusterId> all, odd;
    for (const auto& entry : clustering->clusters) {
        all.push_back(entry.first);
        if (entry.first % 2) odd.push_back(entry.first);
    }
    handles.push_back(ClusteringHandle::select_ids(clustering, all));
    handles.push_back(ClusteringHandle::select_ids(clustering, odd));
    std::vector<GraphStats> expected = {handles[0].stats(), handles[1].stats()};

    constexpr int kThreads = 6;
    std::vector<std::vector<GraphStats>> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < 3; ++r) results[t].push_back(handles[t % 2].stats());
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        for (const GraphStats& stats : results[t])
            testing::expect_same_stats(stats, expected[t % 2]);
    }
}

TEST(Stats, HandleOutlivesItsClusteringHolder) {
    auto clustering = testing::packed(overlap_graph(), {{1, {0, 1, 2}}, {2, {1, 2, 3}}});
    GraphStats before = ClusteringHandle::select_ids(clustering, {1, 2}).stats();
    auto handle = ClusteringHandle::select_ids(clustering, {1, 2});
    clustering.reset();
    testing::expect_same_stats(handle.stats(), before);
}

}  // namespace
}  // namespace quelmar
