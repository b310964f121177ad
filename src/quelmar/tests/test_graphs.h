#pragma once
// Builders for small graphs and clusterings in tests, plus naive reference
// counts (std::set based) to check the packed ones against.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "src/base/clustering.h"
#include "src/base/graph.h"
#include "src/quelmar/enriched_graph.h"
#include "src/quelmar/rich_clustering.h"

namespace quelmar::testing {

using EdgeList = std::vector<std::pair<utils::NodeId, utils::NodeId>>;

// The finished graph on nodes 0 .. node_count - 1 (names equal ids): sorted,
// deduplicated, symmetric neighbour lists, a self-loop stored once.
inline base::Graph graph_from_edges(std::uint64_t node_count, const EdgeList& edges) {
    std::vector<std::vector<utils::NodeId>> adjacency(node_count);
    for (auto [u, v] : edges) {
        adjacency[u].push_back(v);
        if (u != v) adjacency[v].push_back(u);
    }
    utils::NameSet names;
    std::vector<std::uint64_t> offsets{0};
    std::vector<utils::NodeId> neighbours;
    for (std::uint64_t u = 0; u < node_count; ++u) {
        names.request(u);
        auto& list = adjacency[u];
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
        neighbours.insert(neighbours.end(), list.begin(), list.end());
        offsets.push_back(neighbours.size());
    }
    std::uint64_t m_cache = neighbours.size() / 2;
    return base::Graph(std::move(names), std::move(offsets), std::move(neighbours), m_cache);
}

inline SharedGraph shared_graph(std::uint64_t node_count, const EdgeList& edges) {
    return std::make_shared<const EnrichedGraph>(
        EnrichedGraph::from_graph(graph_from_edges(node_count, edges)));
}

using ClusterList = std::vector<std::pair<base::ClusterId, std::vector<utils::NodeId>>>;

// A loaded clustering: members sorted and distinct, clusters ascending by id.
inline base::Clustering clustering_of(ClusterList clusters) {
    base::Clustering clustering;
    std::sort(clusters.begin(), clusters.end());
    for (auto& [id, members] : clusters) {
        std::sort(members.begin(), members.end());
        members.erase(std::unique(members.begin(), members.end()), members.end());
        clustering.add(id, members);
    }
    return clustering;
}

inline SharedClustering packed(SharedGraph graph, ClusterList clusters,
                               std::optional<double> cpm = std::nullopt) {
    RichClustering result = RichClustering::pack_from_clustering(graph, clustering_of(clusters));
    result.cpm_resolution = cpm;
    // Library passes are tested on their own; they expect the bitmaps built.
    result.build_members();
    return std::make_shared<const RichClustering>(std::move(result));
}

struct NaiveCounts {
    std::uint64_t n = 0, m = 0, c = 0, mcd = 0, vol = 0;
};

inline NaiveCounts naive_counts(const base::Graph& graph,
                                const std::vector<utils::NodeId>& members) {
    std::set<utils::NodeId> set(members.begin(), members.end());
    NaiveCounts counts;
    counts.n = set.size();
    std::uint64_t inside = 0, outside = 0;
    bool first = true;
    for (utils::NodeId u : set) {
        auto neighbours = graph.neighbours(u);
        counts.vol += neighbours.size();
        counts.mcd =
            first ? neighbours.size() : std::min<std::uint64_t>(counts.mcd, neighbours.size());
        first = false;
        for (utils::NodeId v : neighbours) (set.count(v) ? inside : outside) += 1;
    }
    counts.m = inside / 2;
    counts.c = outside;
    return counts;
}

// Distinct nodes in the union of the clusters.
inline std::uint64_t naive_covered_nodes(const std::vector<std::vector<utils::NodeId>>& clusters) {
    std::set<utils::NodeId> nodes;
    for (const auto& members : clusters) nodes.insert(members.begin(), members.end());
    return nodes.size();
}

// Adjacency slots whose two ends share a cluster: 2 per covered edge between
// distinct nodes, 1 per covered self-loop.
inline std::uint64_t naive_covered_slots(const base::Graph& graph,
                                         const std::vector<std::vector<utils::NodeId>>& clusters) {
    std::set<std::pair<utils::NodeId, utils::NodeId>> edges;
    for (const auto& members : clusters) {
        std::set<utils::NodeId> set(members.begin(), members.end());
        for (utils::NodeId u : set) {
            for (utils::NodeId v : graph.neighbours(u)) {
                if (set.count(v)) edges.insert({std::min(u, v), std::max(u, v)});
            }
        }
    }
    std::uint64_t slots = 0;
    for (auto [u, v] : edges) slots += u == v ? 1 : 2;
    return slots;
}

// A random graph with some self-loops and isolated nodes.
inline EdgeList random_edges(std::mt19937_64& rng, std::uint64_t node_count,
                             std::uint64_t edge_count) {
    EdgeList edges;
    std::uniform_int_distribution<utils::NodeId> pick(0,
                                                      static_cast<utils::NodeId>(node_count - 1));
    std::uniform_int_distribution<int> loop(0, 19);
    for (std::uint64_t i = 0; i < edge_count; ++i) {
        utils::NodeId u = pick(rng);
        utils::NodeId v = loop(rng) == 0 ? u : pick(rng);
        edges.push_back({u, v});
    }
    return edges;
}

// Random, possibly overlapping clusters of at least two members; ids sparse.
inline ClusterList random_clusters(std::mt19937_64& rng, std::uint64_t node_count,
                                   std::size_t cluster_count, std::size_t max_size) {
    ClusterList clusters;
    std::uniform_int_distribution<utils::NodeId> pick(0,
                                                      static_cast<utils::NodeId>(node_count - 1));
    std::uniform_int_distribution<std::size_t> size(2, max_size);
    // Mostly runs of consecutive ids (as communities often are), some scattered.
    std::uniform_int_distribution<int> shape(0, 2);
    base::ClusterId id = 0;
    for (std::size_t i = 0; i < cluster_count; ++i) {
        id += 1 + rng() % 5;
        std::set<utils::NodeId> members;
        std::size_t want = std::min<std::size_t>(size(rng), node_count);
        utils::NodeId start = pick(rng);
        bool scattered = shape(rng) == 0;
        for (std::size_t k = 0; members.size() < want; ++k) {
            members.insert(scattered ? pick(rng)
                                     : static_cast<utils::NodeId>((start + k) % node_count));
        }
        clusters.push_back({id, std::vector<utils::NodeId>(members.begin(), members.end())});
    }
    return clusters;
}

}  // namespace quelmar::testing
