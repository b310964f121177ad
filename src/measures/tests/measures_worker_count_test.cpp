// The measures with a given number of pool workers must reproduce, bit for
// bit, each cluster computed alone on the calling thread. CTest runs every
// case in its own process, so each case builds the pool with its own size.

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/worker_pool.h"
#include "src/measures/cluster_measures.h"
#include "src/quelmar/tests/test_graphs.h"

namespace quelmar::measures {
namespace {

void check_against_one_at_a_time(std::size_t workers) {
    if (!runtime::build_global_pool(workers).ok()) {
        GTEST_SKIP() << "the pool of this process was already built";
    }
    ASSERT_EQ(runtime::global_pool()->size(), workers);

    std::mt19937_64 rng(191919);
    const std::uint64_t nodes = 4000;
    auto graph = testing::shared_graph(nodes, testing::random_edges(rng, nodes, 30000));
    std::vector<RichCluster> clusters;
    for (const auto& [id, members] : testing::random_clusters(rng, nodes, 1200, 300)) {
        clusters.push_back(RichCluster::load_from_slice(*graph, members));
    }
    std::vector<const RichCluster*> pointers;
    for (const RichCluster& cluster : clusters) pointers.push_back(&cluster);
    const std::vector<ClusterMeasure> measures = all_measures();

    auto together = compute_cluster_measures(*graph, pointers, measures);
    ASSERT_TRUE(together.ok());
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        // A single cluster runs on the calling thread.
        auto alone = compute_cluster_measures(*graph, {&pointers[i], 1}, measures);
        ASSERT_TRUE(alone.ok());
        for (std::size_t j = 0; j < measures.size(); ++j) {
            const double a = (*together)[j][i], b = (*alone)[j][0];
            EXPECT_TRUE(std::isnan(a) ? std::isnan(b) : std::memcmp(&a, &b, sizeof a) == 0)
                << measure_definition(measures[j]).name << " of cluster " << i;
        }
    }
}

TEST(MeasuresWorkerCount, OneWorker) { check_against_one_at_a_time(1); }
TEST(MeasuresWorkerCount, TwoWorkers) { check_against_one_at_a_time(2); }
TEST(MeasuresWorkerCount, FiveWorkers) { check_against_one_at_a_time(5); }

}  // namespace
}  // namespace quelmar::measures
