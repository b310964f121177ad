#include "src/base/clustering.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "src/base/graph_loader.h"
#include "src/base/tests/test_pools.h"

namespace quelmar::base {
namespace {

// Names 5, 6, 7, 8, 9 get ids 0..4.
Graph small_graph() {
    utils::MemorySource source("5 6\n7 8\n9 5\n");
    return std::move(parse_edgelist_from_reader(source)).value();
}

runtime::Result<Clustering> load(const Graph& graph, const std::string& text,
                                 const TextLoadOptions& options = {}) {
    utils::MemorySource source(text);
    return Clustering::parse_from_reader(graph, source, options);
}

using Members = std::map<ClusterId, std::vector<utils::NodeId>>;

Members members(const runtime::Result<Clustering>& result) {
    EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().message());
    Members out;
    if (!result.ok()) return out;
    ClusterId previous = 0;
    const Clustering& clustering = result.value();
    EXPECT_EQ(clustering.starts.size(), clustering.size() + 1);
    EXPECT_EQ(clustering.starts.back(), clustering.members.size());
    for (std::size_t k = 0; k < clustering.size(); ++k) {
        const ClusterId id = clustering.ids[k];
        EXPECT_TRUE(out.empty() || id > previous) << "clusters out of order";
        previous = id;
        const auto cluster = clustering.members_of(k);
        out[id] = std::vector<utils::NodeId>(cluster.begin(), cluster.end());
    }
    return out;
}

std::string error_of(const runtime::Result<Clustering>& result) {
    return result.ok() ? "<loaded>" : result.error().message();
}

TEST(ClusteringLoader, EmptyAndSingletonOnlyFilesGiveNoClusters) {
    const Graph graph = small_graph();
    EXPECT_TRUE(members(load(graph, "")).empty());
    EXPECT_TRUE(members(load(graph, "5 1\n6 2\n5 3\n")).empty());
    EXPECT_TRUE(members(load(graph, "5 1\n5 1\n")).empty());
}

TEST(ClusteringLoader, ClustersAreOrderedWithDistinctAscendingMembers) {
    const Graph graph = small_graph();
    const auto loaded = members(load(graph, "9 30\n6 1\n5 1\n6 1\n9 2\n5 2\r\n7 30\n8 30\n"));
    EXPECT_EQ(loaded, (Members{{1, {0, 1}}, {2, {0, 4}}, {30, {2, 3, 4}}}));
}

TEST(ClusteringLoader, ClustersMayOverlap) {
    const Graph graph = small_graph();
    EXPECT_EQ(members(load(graph, "5 1\n6 1\n5 2\n6 2\n")), (Members{{1, {0, 1}}, {2, {0, 1}}}));
}

TEST(ClusteringLoader, TokensLikeTheEdgeList) {
    const Graph graph = small_graph();
    EXPECT_EQ(members(load(graph, "7 3 two more\n+8\t003\n")), (Members{{3, {2, 3}}}));
    EXPECT_EQ(members(load(graph, "\xC2\xA0"
                                  "5\xE3\x80\x80"
                                  "4\n6 4 \xC3\xA9\n")),
              (Members{{4, {0, 1}}}));
}

TEST(ClusteringLoader, LineFaults) {
    const Graph graph = small_graph();
    EXPECT_EQ(error_of(load(graph, "5 1\n\n")), "missing node_name");
    EXPECT_EQ(error_of(load(graph, "5 1\n \t\n")), "missing node_name");
    EXPECT_EQ(error_of(load(graph, "5\n")), "missing cluster_id");
    EXPECT_EQ(error_of(load(graph, "node cluster\n")), "invalid cluster_id");
    EXPECT_EQ(error_of(load(graph, "# comment here\n")), "invalid cluster_id");
    EXPECT_EQ(error_of(load(graph, "5 -1\n")), "invalid cluster_id");
    EXPECT_EQ(error_of(load(graph, "5 18446744073709551616\n")), "invalid cluster_id");
    EXPECT_EQ(error_of(load(graph, "-5 1\n")), "invalid digit found in string");
    EXPECT_EQ(error_of(load(graph, "+ 1\n")), "invalid digit found in string");
    EXPECT_EQ(error_of(load(graph, "18446744073709551616 1\n")),
              "number too large to fit in target type");
    EXPECT_EQ(error_of(load(graph, "5 1\n6 1 \xFF\n")), "stream did not contain valid UTF-8");
}

TEST(ClusteringLoader, FailuresTellTheirLineAndToken) {
    const Graph graph = small_graph();
    auto position_of = [&](const std::string& text, const TextLoadOptions& options = {}) {
        const auto result = load(graph, text, options);
        if (result.ok() || !result.error().position()) return std::string("<none>");
        const runtime::TextPosition& at = *result.error().position();
        return std::to_string(at.line) + " [" + at.token + "]";
    };
    EXPECT_EQ(position_of("5 1\n6 12a\n"), "2 [12a]");
    EXPECT_EQ(position_of("5 1\n6x 12\n"), "2 [6x]");
    EXPECT_EQ(position_of("5 1\n6\n"), "2 []");
    // The second unknown node of a cluster, after lines of other clusters.
    EXPECT_EQ(position_of("5 1\n99 1\n6 2\n7 2\n0098 1\n"), "5 [0098]");
    std::string text;
    for (int i = 0; i < 30000; ++i)
        text += std::to_string(5 + i % 5) + " " + std::to_string(i) + "\n";
    const TextLoadOptions small{.buffer_bytes = 1 << 16, .block_bytes = 4096};
    EXPECT_EQ(position_of(text + "5 -1\n", small), "30001 [-1]");
}

TEST(ClusteringLoader, OneUnknownNodePerCluster) {
    const Graph graph = small_graph();
    EXPECT_EQ(members(load(graph, "5 1\n99 1\n6 1\n")), (Members{{1, {0, 1}}}));
    EXPECT_EQ(error_of(load(graph, "99 1\n98 1\n")),
              "node 98 requested in cluster 1 not found in graph, and is not singleton");
    // Lines are counted, not names.
    EXPECT_EQ(error_of(load(graph, "99 2\n99 2\n")),
              "node 99 requested in cluster 2 not found in graph, and is not singleton");
    // The token as written; the cluster id as its value.
    EXPECT_EQ(error_of(load(graph, "99 0007\n+0098 7\n")),
              "node +0098 requested in cluster 7 not found in graph, and is not singleton");
    // A cluster whose only known member stays is a singleton and is dropped.
    EXPECT_TRUE(members(load(graph, "99 1\n5 1\n")).empty());
    // Unknown nodes in different clusters are fine.
    EXPECT_EQ(members(load(graph, "99 1\n99 2\n5 2\n6 2\n")), (Members{{2, {0, 1}}}));
}

TEST(ClusteringLoader, EarlierLineFailsFirst) {
    const Graph graph = small_graph();
    // The unresolved node comes before the malformed line in the same batch.
    EXPECT_EQ(error_of(load(graph, "99 1\n98 1\nx\n")),
              "node 98 requested in cluster 1 not found in graph, and is not singleton");
    EXPECT_EQ(error_of(load(graph, "99 1\nx\n98 1\n")), "missing cluster_id");
}

TEST(ClusteringLoader, FileErrorsAndGoldenFile) {
    const Graph graph = small_graph();
    EXPECT_EQ(error_of(Clustering::parse_from_file(graph, "/nonexistent/c.txt")),
              "No such file or directory (os error 2)");
    EXPECT_EQ(error_of(Clustering::parse_from_file(graph, ::testing::TempDir())),
              "Is a directory (os error 21)");
    const std::string path = std::string(QUELMAR_TEST_DATA_DIR) + "/small_clustering.txt";
    const auto loaded = members(Clustering::parse_from_file(graph, path));
    EXPECT_EQ(loaded, (Members{{2, {0, 1, 2}}, {18446744073709551615ULL, {3, 4}}}));
}

// Random files against a model built with ordered maps and sets.
TEST(ClusteringLoader, RandomFilesMatchTheModel) {
    const Graph graph = small_graph();
    std::mt19937_64 random(7);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        std::map<ClusterId, std::set<utils::NodeId>> expected;
        std::set<ClusterId> unresolved;
        std::string expected_error;
        const int lines = static_cast<int>(random() % 80);
        for (int i = 0; i < lines; ++i) {
            const utils::NodeName name = 3 + random() % 8;  // 5..9 known, 3, 4 and 10 not
            const ClusterId cluster = random() % 6;
            text += std::to_string(name) + " " + std::to_string(cluster) + "\n";
            if (!expected_error.empty()) continue;
            if (const auto id = graph.name_set().retrieve(name)) {
                expected[cluster].insert(static_cast<utils::NodeId>(*id));
            } else if (!unresolved.insert(cluster).second) {
                expected_error = "node " + std::to_string(name) + " requested in cluster " +
                                 std::to_string(cluster) +
                                 " not found in graph, and is not singleton";
            }
        }
        auto result =
            load(graph, text, testing::cut_load(round, 8 + random() % 64, 1 + random() % 32));
        if (!expected_error.empty()) {
            EXPECT_EQ(error_of(result), expected_error);
            continue;
        }
        Members want;
        for (const auto& [id, set] : expected) {
            if (set.size() >= 2) want[id] = std::vector<utils::NodeId>(set.begin(), set.end());
        }
        EXPECT_EQ(members(result), want) << text;
    }
}

}  // namespace
}  // namespace quelmar::base
