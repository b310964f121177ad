// Clusterings from (node, cluster) arrays (two columns, or rows of one
// array) against the clustering file with
// the same memberships as lines, and the counts and the strict rule on both
// routes.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "src/base/clustering.h"
#include "src/base/graph_loader.h"
#include "src/base/tests/test_pools.h"

namespace quelmar::base {
namespace {

using Names = std::vector<utils::NodeName>;
using Ids = std::vector<ClusterId>;

// Names 5, 6, 7, 8, 9 get ids 0..4.
Graph small_graph() {
    utils::MemorySource source("5 6\n7 8\n9 5\n");
    return std::move(parse_edgelist_from_reader(source)).value();
}

// What a route gave: its error, or its clusters and counts.
struct Outcome {
    std::string error;
    std::map<ClusterId, std::vector<utils::NodeId>> clusters;
    std::uint64_t unknown = 0;
    std::uint64_t dropped = 0;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    out << (o.error.empty() ? "" : o.error + "; ") << o.clusters.size() << " clusters, "
        << o.unknown << " unknown, " << o.dropped << " dropped";
    return out;
}

Outcome outcome(const runtime::Result<Clustering>& result) {
    Outcome o;
    if (!result.ok()) {
        o.error = result.error().message();
        return o;
    }
    const Clustering& clustering = result.value();
    for (std::size_t k = 0; k < clustering.size(); ++k) {
        const auto cluster = clustering.members_of(k);
        o.clusters[clustering.ids[k]] = std::vector<utils::NodeId>(cluster.begin(), cluster.end());
    }
    o.unknown = result.value().unknown_memberships;
    o.dropped = result.value().dropped_singletons;
    return o;
}

Outcome from_file(const Graph& graph, const std::string& text, bool strict,
                  const TextLoadOptions& load = {}) {
    utils::MemorySource source(text);
    return outcome(Clustering::parse_from_reader(graph, source, load, strict));
}

Outcome from_arrays(const Graph& graph, const Names& nodes, const Ids& clusters, bool strict,
                    runtime::WorkerPool* pool = nullptr) {
    return outcome(
        Clustering::from_memberships(graph, nodes, clusters, {.strict = strict, .pool = pool}));
}

// The same memberships as one row-major (n, 2) array.
Outcome from_rows(const Graph& graph, const Names& nodes, const Ids& clusters, bool strict,
                  runtime::WorkerPool* pool = nullptr) {
    std::vector<std::uint64_t> rows;
    for (std::size_t i = 0; i < nodes.size(); ++i) rows.insert(rows.end(), {nodes[i], clusters[i]});
    return outcome(Clustering::from_membership_rows(graph, rows, {.strict = strict, .pool = pool}));
}

std::string as_text(const Names& nodes, const Ids& clusters) {
    std::string text;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        text += std::to_string(nodes[i]) + " " + std::to_string(clusters[i]) + "\n";
    }
    return text;
}

// Random memberships, a few naming unknown nodes, against a model built with
// ordered maps and sets; both routes, both rules, pools of one and three.
// Cluster ids are small, or spread over all 64 bits (some sharing their top
// bits), so that grouping by id meets every digit.
TEST(MembershipArrays, RandomMembershipsMatchTheFileAndTheModel) {
    const Graph graph = small_graph();
    std::mt19937_64 random(5);
    for (int round = 0; round < 400; ++round) {
        const bool strict = round % 4 == 0;
        const std::size_t count = random() % 60;
        Names nodes(count);
        Ids clusters(count);
        ClusterId cluster_ids[8];
        for (ClusterId k = 0; k < 8; ++k) {
            cluster_ids[k] = round % 3 == 0   ? k
                             : round % 3 == 1 ? random()
                                              : (random() >> 60) << 60 | k;
        }
        Outcome want;
        std::map<ClusterId, std::set<utils::NodeId>> model;
        std::set<ClusterId> unresolved;
        for (std::size_t i = 0; i < count; ++i) {
            // 5..9 known; 4 and 10 not, rarely, so that most inputs load.
            const std::uint64_t pick = random() % 40;
            nodes[i] = pick == 0 ? 4 : pick == 1 ? 10 : 5 + pick % 5;
            clusters[i] = cluster_ids[random() % 8];
            if (!want.error.empty()) continue;
            if (const auto id = graph.name_set().retrieve(nodes[i])) {
                model[clusters[i]].insert(static_cast<utils::NodeId>(*id));
            } else if (strict || !unresolved.insert(clusters[i]).second) {
                want.error = "node " + std::to_string(nodes[i]) + " requested in cluster " +
                             std::to_string(clusters[i]) + " not found in graph" +
                             (strict ? "" : ", and is not singleton");
            }
        }
        if (want.error.empty()) {
            for (const auto& [id, set] : model) {
                if (set.size() >= 2) {
                    want.clusters[id] = std::vector<utils::NodeId>(set.begin(), set.end());
                } else {
                    ++want.dropped;
                }
            }
            want.unknown = unresolved.size();
        }
        const auto load = testing::cut_load(round, 8 + random() % 64, 1 + random() % 32);
        const std::string text = as_text(nodes, clusters);
        EXPECT_EQ(from_file(graph, text, strict, load), want) << text;
        EXPECT_EQ(from_arrays(graph, nodes, clusters, strict, load.pool), want) << text;
        EXPECT_EQ(from_rows(graph, nodes, clusters, strict, load.pool), want) << text;
    }
}

// The name in messages: as the file wrote it, in decimal from arrays.
TEST(MembershipArrays, MessagesNameTheNodeAsGiven) {
    const Graph graph = small_graph();
    const std::string text = "5 7\n99 0007\n+0098 7\n";
    const Names nodes = {5, 99, 98};
    const Ids clusters = {7, 7, 7};
    const std::string found = " requested in cluster 7 not found in graph";
    EXPECT_EQ(from_file(graph, text, false).error, "node +0098" + found + ", and is not singleton");
    EXPECT_EQ(from_arrays(graph, nodes, clusters, false).error,
              "node 98" + found + ", and is not singleton");
    EXPECT_EQ(from_file(graph, text, true).error, "node 99" + found);
    EXPECT_EQ(from_arrays(graph, nodes, clusters, true).error, "node 99" + found);
    EXPECT_EQ(from_file(graph, "+099 7\n", true).error, "node +099" + found);
}

// Many pieces of memberships, some lone members and one unknown node per few
// clusters: the same result on every pool and through the file.
TEST(MembershipArrays, LargeInputsAgreeAcrossPools) {
    std::string edges;
    for (std::uint64_t i = 0; i < 20'000; ++i) {
        edges += std::to_string(i * 7919) + " " + std::to_string((i + 1) * 7919) + "\n";
    }
    utils::MemorySource source(edges);
    const Graph graph = std::move(parse_edgelist_from_reader(source)).value();
    std::mt19937_64 random(3);
    Names nodes;
    Ids clusters;
    for (ClusterId c = 0; c < 40'000; ++c) {
        const std::size_t size = 1 + random() % 12;
        for (std::size_t k = 0; k < size; ++k) {
            nodes.push_back(random() % 20'001 * 7919);
            clusters.push_back(c % 3 == 0 ? random() % 40'000 : c);
        }
        if (c % 5 == 0) {
            nodes.push_back(1);
            clusters.push_back(c);
        }
    }
    const Outcome want = from_file(graph, as_text(nodes, clusters), false);
    ASSERT_EQ(want.error, "");
    EXPECT_EQ(want.unknown, 8'000u);
    EXPECT_GT(want.dropped, 0u);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(from_arrays(graph, nodes, clusters, false, testing::cut_load(round, 1, 1).pool),
                  want);
    }
    EXPECT_EQ(from_arrays(graph, nodes, clusters, false), want);
    EXPECT_EQ(from_rows(graph, nodes, clusters, false), want);
}

}  // namespace
}  // namespace quelmar::base
