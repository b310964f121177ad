#include "src/base/graph_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "runtime/worker_pool.h"
#include "src/base/tests/graph_test_util.h"

namespace quelmar::base {
namespace {

using testing::adjacency;
using Lists = std::vector<std::vector<utils::NodeId>>;

Graph build(const std::vector<std::pair<utils::NodeName, utils::NodeName>>& edges,
            GraphBuilder::Limits limits = {}) {
    GraphBuilder builder(limits);
    for (const auto& [from, to] : edges) EXPECT_TRUE(builder.add_edge(from, to));
    return std::move(builder).into_permanent();
}

TEST(GraphBuilder, EmptyGraph) {
    Graph graph = GraphBuilder().into_permanent();
    EXPECT_EQ(graph.node_count(), 0u);
    EXPECT_EQ(graph.m_cache(), 0u);
    EXPECT_EQ(std::vector<std::uint64_t>(graph.offsets().begin(), graph.offsets().end()),
              std::vector<std::uint64_t>{0});
}

TEST(GraphBuilder, RepeatedAndReversedEdgesCollapse) {
    Graph graph = build({{1, 2}, {2, 1}, {1, 2}});
    EXPECT_EQ(graph.name_set().id_to_name(), (std::vector<utils::NodeName>{1, 2}));
    EXPECT_EQ(adjacency(graph), (Lists{{1}, {0}}));
    EXPECT_EQ(graph.m_cache(), 1u);
}

TEST(GraphBuilder, SelfLoopIsStoredOnceAndCountsHalf) {
    Graph graph = build({{5, 5}, {5, 5}});
    EXPECT_EQ(adjacency(graph), (Lists{{0}}));
    EXPECT_EQ(graph.m_cache(), 0u);
    Graph two = build({{5, 5}, {5, 6}, {6, 6}});
    EXPECT_EQ(adjacency(two), (Lists{{0, 1}, {0, 1}}));
    EXPECT_EQ(two.m_cache(), 2u);
}

TEST(GraphBuilder, ListsAreSortedAndOffsetsAreRunningDegrees) {
    // Names 9, 7, 5, 2 get ids 0..3; node 0's neighbours arrive as 1, 3, 2.
    Graph graph = build({{9, 7}, {9, 2}, {9, 5}, {7, 2}, {9, 7}});
    EXPECT_EQ(adjacency(graph), (Lists{{1, 2, 3}, {0, 2}, {0, 1}, {0}}));
    EXPECT_EQ(std::vector<std::uint64_t>(graph.offsets().begin(), graph.offsets().end()),
              (std::vector<std::uint64_t>{0, 3, 5, 7, 8}));
    EXPECT_EQ(graph.all_neighbours().size(), 8u);
    EXPECT_EQ(graph.m_cache(), 4u);
}

TEST(GraphBuilder, ManyEdgesAcrossChunks) {
    // A star plus a path, each edge given three times: more pairs than one chunk.
    std::vector<std::pair<utils::NodeName, utils::NodeName>> edges;
    const utils::NodeName n = 5000;
    for (int copy = 0; copy < 3; ++copy) {
        for (utils::NodeName i = 1; i < n; ++i) {
            edges.emplace_back(0, i);
            edges.emplace_back(i + 1 < n ? i + 1 : 1, i);
        }
    }
    Graph graph = build(edges);
    ASSERT_EQ(graph.node_count(), n);
    EXPECT_EQ(graph.degree(0), n - 1);
    EXPECT_EQ(graph.m_cache(), 2 * (n - 1));  // a star and a cycle over 1 .. n-1
    for (utils::NodeId u = 1; u < n; ++u) {
        const auto list = graph.neighbours(u);
        EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
        EXPECT_EQ(list.front(), 0u);
    }
}

// Large enough for the ends to be laid out in many buckets and for the name
// table to grow several times; on a pool, in rounds of many parts that meet
// names of earlier rounds.
TEST(GraphBuilder, LargeRandomGraphMatchesAModel) {
    std::mt19937_64 random(99);
    std::vector<utils::NodeName> pool(100000);  // ids past 16 bits
    for (auto& name : pool) name = random();
    std::map<utils::NodeName, utils::NodeId> ids;
    std::vector<std::set<utils::NodeId>> lists;
    auto model_id = [&](utils::NodeName name) {
        auto [it, inserted] = ids.emplace(name, static_cast<utils::NodeId>(lists.size()));
        if (inserted) lists.emplace_back();
        return it->second;
    };
    std::vector<utils::NodeName> lines;
    for (int i = 0; i < 300000; ++i) {
        // Skewed ends: low pool indices are hubs.
        const utils::NodeName from = pool[random() % (1 + random() % pool.size())];
        const utils::NodeName to = pool[random() % pool.size()];
        lines.insert(lines.end(), {from, to});
        const utils::NodeId u = model_id(from);
        const utils::NodeId v = model_id(to);
        lists[u].insert(v);
        lists[v].insert(u);
    }
    const auto three = runtime::WorkerPool::start(3).value();
    // Packed, narrow and wide laid-out ends alike; rounds given whole, and
    // rounds given in marked parts of uneven sizes, as the text loader reads
    // them.
    struct Setup {
        runtime::WorkerPool* workers;
        int narrow;
        int packed;
        bool marked;
    };
    for (const auto& [workers, narrow, packed, marked] :
         {Setup{nullptr, 16, 24, false}, Setup{three.get(), 16, 24, false},
          Setup{three.get(), 16, 0, false}, Setup{three.get(), -1, 24, false},
          Setup{three.get(), 16, 24, true}, Setup{nullptr, 16, 24, true}}) {
        GraphBuilder builder(
            GraphBuilder::Limits{.max_narrow_shift = narrow, .max_packed_id_bits = packed},
            workers);
        const std::size_t round = workers ? 150002 : 2;
        for (std::size_t first = 0; first < lines.size(); first += round) {
            const std::size_t last = std::min(lines.size(), first + round);
            if (!marked) {
                std::vector<utils::NodeName> names(lines.begin() + first, lines.begin() + last);
                ASSERT_TRUE(builder.add_lines(names));
                continue;
            }
            std::vector<MarkedNames> marks;
            for (std::size_t at = first, size = 2; at < last;
                 at += size, size = 2 + size * 7 % 9000) {
                size = std::min(size, last - at);
                marks.emplace_back();
                for (std::size_t k = at; k < at + size; k += 2) {
                    marks.back().add_line(lines[k], lines[k + 1]);
                }
            }
            std::vector<NamePart> parts;
            for (const MarkedNames& part : marks) parts.push_back(part.part());
            ASSERT_TRUE(builder.add_lines(parts));
        }
        const Graph graph = std::move(builder).into_permanent();
        ASSERT_EQ(graph.node_count(), lists.size());
        std::uint64_t entries = 0;
        for (utils::NodeId u = 0; u < lists.size(); ++u) {
            const auto list = graph.neighbours(u);
            ASSERT_EQ(std::vector<utils::NodeId>(list.begin(), list.end()),
                      std::vector<utils::NodeId>(lists[u].begin(), lists[u].end()));
            entries += lists[u].size();
        }
        EXPECT_EQ(graph.m_cache(), entries / 2);
        for (const auto& [name, id] : ids) EXPECT_EQ(graph.name_set().retrieve(name), id);
    }
}

TEST(GraphBuilder, RefusesNodesBeyondTheLimit) {
    GraphBuilder builder(GraphBuilder::Limits{.max_nodes = 3});
    EXPECT_TRUE(builder.add_edge(10, 20));
    EXPECT_TRUE(builder.add_edge(20, 30));
    EXPECT_TRUE(builder.add_edge(30, 10));
    EXPECT_EQ(builder.node_count(), 3u);
    EXPECT_FALSE(builder.add_edge(10, 40));
}

TEST(GraphBuilder, DegreesAreRecountedWhenATallyOverflows) {
    // A hub with repeated edges and a self-loop, first within the tally
    // limit, then past it: the same graph either way.
    std::vector<std::pair<utils::NodeName, utils::NodeName>> edges;
    for (int copy = 0; copy < 3; ++copy) {
        for (utils::NodeName leaf = 1; leaf <= 6; ++leaf) {
            edges.emplace_back(copy % 2 ? leaf : 0, copy % 2 ? 0 : leaf);
        }
        edges.emplace_back(0, 0);
    }
    const Graph tallied = build(edges);
    const Graph recounted = build(edges, GraphBuilder::Limits{.max_tally = 2});
    EXPECT_EQ(adjacency(recounted), adjacency(tallied));
    EXPECT_EQ(adjacency(tallied)[0], (std::vector<utils::NodeId>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(recounted.m_cache(), 6u);
    EXPECT_EQ(std::vector<std::uint64_t>(recounted.offsets().begin(), recounted.offsets().end()),
              (std::vector<std::uint64_t>{0, 7, 8, 9, 10, 11, 12, 13}));
}

}  // namespace
}  // namespace quelmar::base
