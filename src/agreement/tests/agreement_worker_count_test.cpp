// The agreement measures with a given number of pool workers must give the
// same bits as with any other: the values below were printed by a run with
// one worker. CTest runs every case in its own process, so each case can
// build the process-wide pool with its own size.

#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/worker_pool.h"
#include "src/agreement/agreement.h"
#include "src/agreement/contingency.h"
#include "src/agreement/match_table.h"
#include "src/quelmar/tests/test_graphs.h"

namespace quelmar::agreement {
namespace {

struct Figures {
    double nmi, ari, vi, f1, onmi, omega, match_f1_sum;
};

// Covers with much overlap, and the partitions of each node's first cluster.
Figures measure() {
    std::mt19937_64 rng(2024);
    const std::uint64_t nodes = 6000;
    auto graph = testing::shared_graph(nodes, {});
    auto first_only = [](testing::ClusterList clusters) {
        std::sort(clusters.begin(), clusters.end());
        std::vector<bool> seen(6000);
        testing::ClusterList out;
        for (auto& [id, members] : clusters) {
            std::vector<utils::NodeId> kept;
            for (auto v : members) {
                if (!seen[v]) kept.push_back(v), seen[v] = true;
            }
            if (kept.size() >= 2) out.push_back({id, kept});
        }
        return out;
    };
    auto covers_a = testing::random_clusters(rng, nodes, 1500, 150);
    auto covers_b = testing::random_clusters(rng, nodes, 1200, 150);
    auto select = [&](const testing::ClusterList& clusters) {
        auto packed = testing::packed(graph, clusters);
        std::vector<base::ClusterId> ids;
        for (const auto& [id, members] : clusters) ids.push_back(id);
        return ClusteringHandle::select_ids(packed, ids);
    };
    auto partitions =
        Contingency::build(select(first_only(covers_a)), select(first_only(covers_b)));
    auto covers = Contingency::build(select(covers_a), select(covers_b), Uncovered::kDrop);
    Figures f{};
    f.nmi = *nmi(*partitions);
    f.ari = *ari(*partitions);
    f.vi = *vi(*partitions);
    f.f1 = f1(*covers);
    f.onmi = *onmi(*covers);
    f.omega = *omega(*covers);
    for (double value : match_table(*covers, MatchDirection::kBToA).f1) f.match_f1_sum += value;
    return f;
}

void check(std::size_t workers) {
    if (!runtime::build_global_pool(workers).ok()) {
        GTEST_SKIP() << "the pool of this process was already built";
    }
    const Figures f = measure();
    EXPECT_EQ(f.nmi, 0x1.0cade3a3e20b5p-1);
    EXPECT_EQ(f.ari, 0x1.61b0243f3df09p-3);
    EXPECT_EQ(f.vi, 0x1.2cf8a0ab7e924p+2);
    EXPECT_EQ(f.f1, 0x1.1fe16d1dcc13cp-1);
    EXPECT_EQ(f.onmi, 0x1.f6e1518085262p-2);
    EXPECT_EQ(f.omega, 0x1.30647bd9df00dp-3);
    EXPECT_EQ(f.match_f1_sum, 0x1.54baf01afa5b5p+9);
}

TEST(AgreementWorkerCount, OneWorker) { check(1); }
TEST(AgreementWorkerCount, TwoWorkers) { check(2); }
TEST(AgreementWorkerCount, FiveWorkers) { check(5); }

}  // namespace
}  // namespace quelmar::agreement
