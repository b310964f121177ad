// Packing and statistics with a given number of pool workers must reproduce
// the sequential reference exactly. CTest runs every case in its own process,
// so each case can build the process-wide pool with its own size.

#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/worker_pool.h"
#include "src/quelmar/cluster_statistics.h"
#include "src/quelmar/clustering_handle.h"
#include "src/quelmar/tests/stats_checks.h"
#include "src/quelmar/tests/test_graphs.h"

namespace quelmar {
namespace {

void check_against_sequential_reference(std::size_t workers) {
    if (!runtime::build_global_pool(workers).ok()) {
        GTEST_SKIP() << "the pool of this process was already built";
    }
    ASSERT_EQ(runtime::global_pool()->size(), workers);

    std::mt19937_64 rng(424242);
    const std::uint64_t nodes = 5000;
    auto graph = testing::shared_graph(nodes, testing::random_edges(rng, nodes, 40000));
    auto clusters = testing::random_clusters(rng, nodes, 1500, 120);
    auto clustering = testing::packed(graph, clusters, 0.05);

    std::vector<base::ClusterId> ids;
    std::vector<std::vector<utils::NodeId>> chosen;
    std::vector<RichCluster> sequential;
    for (const auto& [id, members] : clusters) {
        RichCluster reference = RichCluster::load_from_slice(*graph, members);
        const RichCluster* cluster = clustering->find(id);
        ASSERT_NE(cluster, nullptr);
        EXPECT_EQ(cluster->members, reference.members);
        EXPECT_EQ(cluster->n, reference.n);
        EXPECT_EQ(cluster->m, reference.m);
        EXPECT_EQ(cluster->c, reference.c);
        EXPECT_EQ(cluster->mcd, reference.mcd);
        EXPECT_EQ(cluster->vol, reference.vol);
        if (id % 4 != 0) {
            ids.push_back(id);
            chosen.push_back(members);
            sequential.push_back(std::move(reference));
        }
    }

    GraphStats stats = ClusteringHandle::select_ids(clustering, ids).stats();
    EXPECT_EQ(stats.num_clusters, chosen.size());
    EXPECT_EQ(stats.covered_nodes, testing::naive_covered_nodes(chosen));
    EXPECT_EQ(stats.covered_edges, testing::naive_covered_slots(graph->graph(), chosen) / 2);

    StatisticInputs inputs{graph->graph().m_cache(), 0.05};
    for (const auto& [type, summary] : stats.distributions) {
        std::vector<double> values;
        for (const RichCluster& cluster : sequential) {
            values.push_back(statistic_value(type, cluster, inputs));
        }
        EXPECT_TRUE(
            testing::same_entries(summary, quality::DistributionSummary::from_values(values)))
            << display_text(type);
    }
}

TEST(WorkerCount, OneWorkerMatchesSequential) { check_against_sequential_reference(1); }
TEST(WorkerCount, TwoWorkersMatchSequential) { check_against_sequential_reference(2); }
TEST(WorkerCount, FiveWorkersMatchSequential) { check_against_sequential_reference(5); }

}  // namespace
}  // namespace quelmar
