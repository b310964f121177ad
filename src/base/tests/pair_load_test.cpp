// Graphs from name pairs in memory, against the edge-list loader reading the
// same pairs as lines.

#include "src/base/pair_load.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "src/base/graph_builder.h"
#include "src/base/graph_loader.h"
#include "src/base/tests/graph_test_util.h"
#include "src/base/tests/test_pools.h"

namespace quelmar::base {
namespace {

using Names = std::vector<utils::NodeName>;

Graph text_graph(const Names& pairs) {
    std::string text;
    for (std::size_t k = 0; k < pairs.size(); k += 2) {
        text += std::to_string(pairs[k]) + " " + std::to_string(pairs[k + 1]) + "\n";
    }
    utils::MemorySource source(text);
    return std::move(parse_edgelist_from_reader(source)).value();
}

// Pools of one and three workers in turn, rounds of a few ends.
PairLoadOptions cut(int round, std::size_t round_names) {
    return {.pool = testing::cut_load(round, 1, 1).pool, .round_names = round_names};
}

std::string error_of(const runtime::Result<Graph>& result) {
    return result.ok() ? "<built>" : result.error().message();
}

void expect_same(const Graph& got, const Graph& want) {
    EXPECT_EQ(got.name_set().id_to_name(), want.name_set().id_to_name());
    EXPECT_EQ(testing::adjacency(got), testing::adjacency(want));
    EXPECT_EQ(got.m_cache(), want.m_cache());
    for (std::uint64_t id = 0; id < got.node_count(); ++id) {
        EXPECT_EQ(got.name_set().retrieve(got.name_set().id_to_name()[id]), id);
    }
}

// Repeats, reversed pairs and self-loops from a small name range; rounds of
// 1 to 40 ends cut pairs and repeats across rounds.
TEST(PairLoad, RandomPairsMatchTheEdgeList) {
    std::mt19937_64 random(11);
    for (int round = 0; round < 200; ++round) {
        const std::uint64_t range = 2 + random() % 60;
        Names pairs(2 * (random() % 120));
        for (auto& name : pairs) name = (random() % range) * 0x9E3779B97F4A7C15ULL;
        auto built = graph_from_pairs(pairs, {}, utils::TaskMonitor::unwatched(),
                                      cut(round, 1 + random() % 40));
        ASSERT_TRUE(built.ok()) << built.error().message();
        expect_same(built.value(), text_graph(pairs));
    }
}

TEST(PairLoad, LoneNamesFollowAsNodesWithoutEdges) {
    const Names pairs = {5, 6, 7, 5, 6, 6};
    struct Case {
        Names lone;
        Names names;  // by id
    };
    const Case cases[] = {
        {{}, {5, 6, 7}},
        {{6, 5}, {5, 6, 7}},
        {{9, 5, 8, 9, 0}, {5, 6, 7, 9, 8, 0}},
    };
    for (const Case& c : cases) {
        for (int round = 0; round < 2; ++round) {
            auto built =
                graph_from_pairs(pairs, c.lone, utils::TaskMonitor::unwatched(), cut(round, 2));
            ASSERT_TRUE(built.ok());
            const Graph& graph = built.value();
            EXPECT_EQ(graph.name_set().id_to_name(), c.names);
            std::vector<std::vector<utils::NodeId>> want = {{1, 2}, {0, 1}, {0}};
            want.resize(c.names.size());
            EXPECT_EQ(testing::adjacency(graph), want);
            EXPECT_EQ(graph.m_cache(), 2u);
            EXPECT_EQ(graph.name_set().retrieve(c.names.back()), c.names.size() - 1);
        }
    }
    auto lone_only = graph_from_pairs({}, Names{4, 4, 2}, utils::TaskMonitor::unwatched());
    ASSERT_TRUE(lone_only.ok());
    EXPECT_EQ(lone_only.value().name_set().id_to_name(), (Names{4, 2}));
    EXPECT_EQ(lone_only.value().offsets().size(), 3u);
    EXPECT_EQ(lone_only.value().m_cache(), 0u);
}

TEST(PairLoad, TooManyNodesFromPairsOrLoneNames) {
    const PairLoadOptions three_nodes = {.round_names = 2, .max_nodes = 3};
    auto& unwatched = utils::TaskMonitor::unwatched();
    EXPECT_EQ(error_of(graph_from_pairs(Names{1, 2, 3, 1}, Names{2, 3}, unwatched, three_nodes)),
              "<built>");
    EXPECT_EQ(error_of(graph_from_pairs(Names{1, 2, 3, 4}, {}, unwatched, three_nodes)),
              GraphBuilder::kTooManyNodes);
    EXPECT_EQ(error_of(graph_from_pairs(Names{1, 2, 3, 1}, Names{2, 4}, unwatched, three_nodes)),
              GraphBuilder::kTooManyNodes);
}

// Stopped at each checkpoint in turn, the build fails and asks nothing more;
// every checkpoint is asked on the caller's thread.
TEST(PairLoad, StopsAtAnyCheckpoint) {
    Names pairs;
    for (std::uint64_t i = 0; i < 1'000'000; ++i) pairs.push_back(i * 0x9E3779B97F4A7C15ULL >> 3);
    const auto caller = std::this_thread::get_id();
    for (std::size_t stop_at = 1;; ++stop_at) {
        std::size_t asked = 0;
        bool elsewhere = false;
        std::set<utils::TaskProgress::Stage> stages;
        utils::TaskMonitor monitor([&](const utils::TaskProgress& progress) {
            elsewhere |= std::this_thread::get_id() != caller;
            stages.insert(progress.stage);
            return ++asked < stop_at;
        });
        auto built = graph_from_pairs(pairs, Names{1}, monitor, cut(1, 1 << 18));
        EXPECT_FALSE(elsewhere);
        if (built.ok()) {
            EXPECT_EQ(stages.size(), 2u) << "reading and building";
            EXPECT_GE(stop_at, 4u);
            EXPECT_EQ(built.value().node_count(), 1'000'001u);
            break;
        }
        EXPECT_EQ(built.error().message(), utils::TaskMonitor::kInterrupted);
        EXPECT_EQ(asked, stop_at);
    }
}

}  // namespace
}  // namespace quelmar::base
