#include <algorithm>
#include <random>
#include <span>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "src/quelmar/enriched_graph.h"
#include "src/quelmar/node_marks.h"
#include "src/quelmar/rich_cluster.h"
#include "src/quelmar/rich_clustering.h"
#include "src/quelmar/tests/test_graphs.h"

namespace quelmar {
namespace {

using testing::EdgeList;

std::vector<std::uint64_t> offsets_of(const EnrichedGraph& graph) {
    auto offsets = graph.edge_offsets();
    return {offsets.begin(), offsets.end()};
}

void expect_counts(const RichCluster& cluster, std::uint64_t n, std::uint64_t m, std::uint64_t c,
                   std::uint64_t mcd, std::uint64_t vol) {
    EXPECT_EQ(cluster.n, n);
    EXPECT_EQ(cluster.m, m);
    EXPECT_EQ(cluster.c, c);
    EXPECT_EQ(cluster.mcd, mcd);
    EXPECT_EQ(cluster.vol, vol);
    EXPECT_EQ(cluster.members.cardinality(), n);
}

// Packs through both membership tests: the cluster's own bitmap and the
// per-worker marks. They must agree.
RichCluster pack_both_ways(const EnrichedGraph& graph, const std::vector<utils::NodeId>& ids) {
    RichCluster plain = RichCluster::load_from_slice(graph, ids);
    NodeMarks marks(graph.graph().node_count());
    RichCluster marked = RichCluster::load_from_slice(graph, ids, marks);
    EXPECT_EQ(plain.members, marked.members);
    EXPECT_EQ(plain.n, marked.n);
    EXPECT_EQ(plain.m, marked.m);
    EXPECT_EQ(plain.c, marked.c);
    EXPECT_EQ(plain.mcd, marked.mcd);
    EXPECT_EQ(plain.vol, marked.vol);
    return marked;
}

TEST(EnrichedGraph, OffsetsAreRunningDegreeSums) {
    auto empty = EnrichedGraph::from_graph(base::Graph());
    EXPECT_EQ(offsets_of(empty), (std::vector<std::uint64_t>{0}));

    auto path = EnrichedGraph::from_graph(testing::graph_from_edges(3, {{0, 1}, {1, 2}}));
    EXPECT_EQ(offsets_of(path), (std::vector<std::uint64_t>{0, 1, 3, 4}));
    EXPECT_EQ(path.graph().m_cache(), 2u);

    auto loop = EnrichedGraph::from_graph(testing::graph_from_edges(1, {{0, 0}}));
    EXPECT_EQ(offsets_of(loop), (std::vector<std::uint64_t>{0, 1}));
    EXPECT_EQ(loop.graph().m_cache(), 0u);
}

TEST(LoadFromSlice, HandComputedClusters) {
    auto path = testing::shared_graph(4, {{0, 1}, {1, 2}, {2, 3}});
    expect_counts(pack_both_ways(*path, {0, 1, 2}), 3, 2, 1, 1, 5);

    EdgeList clique;
    for (utils::NodeId u = 0; u < 6; ++u)
        for (utils::NodeId v = u + 1; v < 6; ++v) clique.push_back({u, v});
    auto k6 = testing::shared_graph(6, clique);
    expect_counts(pack_both_ways(*k6, {0, 1, 2, 3, 4, 5}), 6, 15, 0, 5, 30);

    // Members 0 and 1 joined, each with three edges to outsiders.
    auto star = testing::shared_graph(8, {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 5}, {1, 6}, {1, 7}});
    expect_counts(pack_both_ways(*star, {0, 1}), 2, 1, 6, 4, 8);

    // A self-loop adds one inside entry: inside 3, so m = 1.
    auto loop = testing::shared_graph(2, {{0, 1}, {0, 0}});
    expect_counts(pack_both_ways(*loop, {0, 1}), 2, 1, 0, 1, 3);

    auto graph = testing::shared_graph(3, {{0, 1}});
    expect_counts(pack_both_ways(*graph, {}), 0, 0, 0, 0, 0);
}

TEST(LoadFromSlice, MemberOfDegreeZeroMakesMcdZero) {
    // Node 0 and node 2 are isolated (possible in snapshots). mcd is the true
    // minimum wherever the isolated member sits in id order.
    auto graph = testing::shared_graph(5, {{1, 3}, {3, 4}, {1, 4}, {3, 3}});
    expect_counts(pack_both_ways(*graph, {0, 1, 3}), 3, 1, 2, 0, 5);
    expect_counts(pack_both_ways(*graph, {1, 2, 3}), 3, 1, 2, 0, 5);
    expect_counts(pack_both_ways(*graph, {1, 3, 4}), 3, 3, 0, 2, 7);
}

TEST(LoadFromSlice, OrderAndRepeatsOfIdsDoNotMatter) {
    std::mt19937_64 rng(7);
    auto graph = testing::shared_graph(50, testing::random_edges(rng, 50, 200));
    RichCluster sorted = pack_both_ways(*graph, {3, 8, 9, 20, 41});
    RichCluster shuffled = pack_both_ways(*graph, {41, 9, 3, 20, 8, 9, 41});
    EXPECT_EQ(sorted.members, shuffled.members);
    expect_counts(shuffled, sorted.n, sorted.m, sorted.c, sorted.mcd, sorted.vol);
}

TEST(NodeMarks, DenseMarksOnlyWhereTheyPayOff) {
    EXPECT_TRUE(NodeMarks::marks_pay_off(1000, 2));
    EXPECT_TRUE(NodeMarks::marks_pay_off(std::uint64_t{1} << 28, 2));
    EXPECT_FALSE(NodeMarks::marks_pay_off(utils::kMaxNodes, 1000));
    EXPECT_TRUE(NodeMarks::marks_pay_off(utils::kMaxNodes, 65536));
}

TEST(NodeMarks, UnmarkLeavesNoMarkBehind) {
    NodeMarks marks(200);
    std::vector<utils::NodeId> first{1, 2, 63, 64, 130};
    marks.mark(first);
    for (utils::NodeId v : first) EXPECT_TRUE(marks.marked(v));
    EXPECT_FALSE(marks.marked(0));
    EXPECT_FALSE(marks.marked(65));
    marks.unmark(first);
    for (utils::NodeId v = 0; v < 200; ++v) EXPECT_FALSE(marks.marked(v)) << v;
}

TEST(PackFromClustering, EmptyClusteringGivesEmptyMap) {
    auto graph = testing::shared_graph(3, {{0, 1}});
    RichClustering packed = RichClustering::pack_from_clustering(graph, base::Clustering{});
    EXPECT_TRUE(packed.clusters.empty());
    EXPECT_FALSE(packed.cpm_resolution.has_value());
    EXPECT_EQ(packed.graph, graph);
    EXPECT_EQ(packed.find(0), nullptr);
}

TEST(PackFromClustering, MatchesNaiveCountsOnRandomGraphs) {
    std::mt19937_64 rng(2024);
    for (int round = 0; round < 20; ++round) {
        std::uint64_t nodes = 2 + rng() % 300;
        auto graph = testing::shared_graph(nodes, testing::random_edges(rng, nodes, rng() % 1500));
        auto clusters = testing::random_clusters(rng, nodes, 1 + rng() % 60, 2 + rng() % 40);
        RichClustering packed =
            RichClustering::pack_from_clustering(graph, testing::clustering_of(clusters));
        ASSERT_EQ(packed.clusters.size(), clusters.size());
        // Counts come with packing; bitmaps on demand, from any thread.
        for (std::size_t i = 0; i < clusters.size(); ++i) {
            const auto& [id, members] = clusters[i];
            ASSERT_EQ(packed.clusters[i].first, id);
            ASSERT_EQ(packed.find(id), &packed.clusters[i].second);
            EXPECT_EQ(packed.find(id + 1000000), nullptr);
            const ClusterCounts& counts = packed.clusters[i].second;
            auto naive = testing::naive_counts(graph->graph(), members);
            EXPECT_EQ(counts.n, naive.n);
            EXPECT_EQ(counts.m, naive.m);
            EXPECT_EQ(counts.c, naive.c);
            EXPECT_EQ(counts.mcd, naive.mcd);
            EXPECT_EQ(counts.vol, naive.vol);
        }
        std::thread other([&] { packed.build_members(); });
        packed.build_members();
        other.join();
        // The flat ids outlive the build and hold the same members.
        for (std::size_t i = 0; i < clusters.size(); ++i) {
            const auto& members = clusters[i].second;
            const Roaring expected(members.size(), members.data());
            EXPECT_EQ(packed.clusters[i].second.members, expected);
            const std::span<const utils::NodeId> ids = packed.member_ids(i);
            ASSERT_EQ(ids.size(), expected.cardinality());
            EXPECT_TRUE(std::equal(ids.begin(), ids.end(), expected.begin()));
        }
    }
}

// Clusters out of order, or members out of order and repeated (with the
// clusters in order), are brought to the loaders' form; repeats count once.
TEST(PackFromClustering, HandBuiltClustersComeOutInLoadedForm) {
    auto graph = testing::shared_graph(4, {{0, 1}, {2, 3}});
    for (const bool ids_in_order : {false, true}) {
        base::Clustering clustering;
        if (!ids_in_order) clustering.add(9, std::vector<utils::NodeId>{3, 2, 3});
        clustering.add(4, std::vector<utils::NodeId>{0, 1});
        if (ids_in_order) clustering.add(9, std::vector<utils::NodeId>{3, 2, 3});
        RichClustering packed = RichClustering::pack_from_clustering(graph, std::move(clustering));
        packed.build_members();
        ASSERT_EQ(packed.clusters.size(), 2u);
        EXPECT_EQ(packed.clusters[0].first, 4u);
        EXPECT_EQ(packed.clusters[1].first, 9u);
        ASSERT_NE(packed.find(9), nullptr);
        expect_counts(*packed.find(9), 2, 1, 0, 1, 2);
        const auto members = packed.member_ids(1);
        EXPECT_EQ(std::vector<utils::NodeId>(members.begin(), members.end()),
                  (std::vector<utils::NodeId>{2, 3}));
        EXPECT_EQ(packed.member_count(), 4u);
    }
}

// Without the packed member ids, the members are counted from the clusters.
TEST(PackFromClustering, MemberCountWithoutMemberIdsSumsTheClusters) {
    RichClustering clustering;
    for (const std::uint64_t n : {3u, 5u}) {
        RichCluster cluster;
        cluster.n = n;
        clustering.clusters.emplace_back(clustering.clusters.size(), std::move(cluster));
    }
    EXPECT_EQ(clustering.member_count(), 8u);
}

}  // namespace
}  // namespace quelmar
