// Times packing and statistics on a synthetic graph with planted clusters of
// power-law sizes, built in memory (no file parsing in the figures):
//
//   cmake -S . -B build/bench -G Ninja -DQUELMAR_BUILD_BENCH=ON -DQUELMAR_BUILD_MODULE=OFF
//   cmake --build build/bench --target analysis_bench
//   RAYON_NUM_THREADS=1 build/bench/bench/analysis/analysis_bench [edges_millions=20] [seed=1]
//
// Run it once per pool size (RAYON_NUM_THREADS=1, then 2) and compare the
// phase times. The clustering holds a partition (a disjoint selection) and a
// second level of merged pairs (an overlapping selection, which walks). Side-by-side ratios inside
// one run (same machine noise):
//   * packing membership test: per-worker dense marks vs Roaring lookups;
//   * covered slots: dense slot bitset vs compressed per-cluster sets.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <vector>

#include "runtime/parallel.h"
#include "src/base/clustering.h"
#include "src/quelmar/clustering_handle.h"
#include "src/quelmar/covered_slots.h"
#include "src/quelmar/rich_clustering.h"

namespace quelmar {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double peak_rss_mib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

struct Synthetic {
    SharedGraph graph;
    std::vector<std::pair<base::ClusterId, std::vector<utils::NodeId>>> clusters;
    base::ClusterId first_level_end = 0;  // ids below belong to the partition
};

// Cluster sizes follow a power law (exponent ~2.1, at least 2, at most 50000);
// node ids are shuffled so members are scattered as in real inputs. About 70%
// of each node's edges stay inside its cluster.
Synthetic make_synthetic(std::uint64_t target_edges, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    const double average_degree = 20.0;
    const auto node_count = static_cast<std::uint64_t>(2.0 * target_edges / average_degree);

    std::vector<utils::NodeId> permutation(node_count);
    std::iota(permutation.begin(), permutation.end(), 0);
    std::shuffle(permutation.begin(), permutation.end(), rng);

    Synthetic synthetic;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::pair<utils::NodeId, utils::NodeId>> edges;
    edges.reserve(target_edges + target_edges / 10);
    std::uint64_t next = 0;
    base::ClusterId id = 0;
    while (next < node_count) {
        double u = unit(rng);
        auto size = static_cast<std::uint64_t>(2.0 * std::pow(1.0 - u, -1.0 / 1.1));
        size = std::clamp<std::uint64_t>(size, 2, 50000);
        size = std::min(size, node_count - next);
        std::vector<utils::NodeId> members(permutation.begin() + next,
                                           permutation.begin() + next + size);
        // Inside edges: 7 per member on average (a clique when the cluster is tiny).
        std::uint64_t inside = std::min<std::uint64_t>(size * 7, size * (size - 1) / 2);
        std::uniform_int_distribution<std::uint64_t> pick(0, size - 1);
        for (std::uint64_t e = 0; e < inside; ++e) {
            utils::NodeId a = members[pick(rng)];
            utils::NodeId b = members[pick(rng)];
            if (a != b) edges.push_back({a, b});
        }
        std::sort(members.begin(), members.end());
        if (size >= 2) synthetic.clusters.push_back({id, std::move(members)});
        id += 1 + rng() % 3;
        next += size;
    }
    // Overlapping second level: every two neighbouring clusters merged, under
    // ids past the first level's.
    const std::size_t first_level = synthetic.clusters.size();
    synthetic.first_level_end = id;
    for (std::size_t i = 0; i + 1 < first_level; i += 2) {
        std::vector<utils::NodeId> merged = synthetic.clusters[i].second;
        const auto& next = synthetic.clusters[i + 1].second;
        merged.insert(merged.end(), next.begin(), next.end());
        std::sort(merged.begin(), merged.end());
        synthetic.clusters.push_back({id + i, std::move(merged)});
    }
    std::uniform_int_distribution<utils::NodeId> any(0, static_cast<utils::NodeId>(node_count - 1));
    while (edges.size() < target_edges) edges.push_back({any(rng), any(rng)});

    // Compact symmetric adjacency: counting sort, then sort and dedupe each list.
    std::vector<std::uint64_t> offsets(node_count + 1, 0);
    for (auto [a, b] : edges) {
        ++offsets[a + 1];
        if (a != b) ++offsets[b + 1];
    }
    for (std::uint64_t v = 0; v < node_count; ++v) offsets[v + 1] += offsets[v];
    std::vector<utils::NodeId> neighbours(offsets.back());
    std::vector<std::uint64_t> fill(offsets.begin(), offsets.end() - 1);
    for (auto [a, b] : edges) {
        neighbours[fill[a]++] = b;
        if (a != b) neighbours[fill[b]++] = a;
    }
    std::vector<std::pair<utils::NodeId, utils::NodeId>>().swap(edges);
    std::uint64_t write = 0;
    std::uint64_t begin = 0;
    for (std::uint64_t v = 0; v < node_count; ++v) {
        std::uint64_t end = offsets[v + 1];
        std::sort(neighbours.begin() + begin, neighbours.begin() + end);
        auto last = std::unique(neighbours.begin() + begin, neighbours.begin() + end);
        std::uint64_t kept = last - (neighbours.begin() + begin);
        std::copy(neighbours.begin() + begin, last, neighbours.begin() + write);
        begin = end;
        offsets[v] = write;
        write += kept;
    }
    offsets[node_count] = write;
    neighbours.resize(write);
    neighbours.shrink_to_fit();

    std::vector<utils::NodeName> id_to_name(node_count);
    std::iota(id_to_name.begin(), id_to_name.end(), utils::NodeName{0});
    utils::NameSet names = *utils::NameSet::from_id_order(std::move(id_to_name));
    std::uint64_t m_cache = write / 2;
    synthetic.graph = std::make_shared<const EnrichedGraph>(EnrichedGraph::from_graph(
        base::Graph(std::move(names), std::move(offsets), std::move(neighbours), m_cache)));
    return synthetic;
}

base::Clustering loaded_copy(const Synthetic& synthetic) {
    base::Clustering clustering;
    for (const auto& [id, members] : synthetic.clusters) clustering.add(id, members);
    return clustering;
}

}  // namespace
}  // namespace quelmar

int main(int argc, char** argv) {
    using namespace quelmar;
    const double edges_millions = argc > 1 ? std::atof(argv[1]) : 20.0;
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;

    auto start = Clock::now();
    Synthetic synthetic = make_synthetic(static_cast<std::uint64_t>(edges_millions * 1e6), seed);
    const base::Graph& graph = synthetic.graph->graph();
    std::printf("graph: %llu nodes, %llu edges, %zu clusters (built in %.2f s)\n",
                static_cast<unsigned long long>(graph.node_count()),
                static_cast<unsigned long long>(graph.m_cache()), synthetic.clusters.size(),
                seconds_since(start));
    std::printf("workers: %zu\n", runtime::worker_count());

    // Packing, end to end (the copy of the loaded clustering is not timed).
    base::Clustering clustering = loaded_copy(synthetic);
    start = Clock::now();
    RichClustering packed =
        RichClustering::pack_from_clustering(synthetic.graph, std::move(clustering));
    packed.build_members();
    std::printf("pack_from_clustering: %.3f s\n", seconds_since(start));
    packed.cpm_resolution = 0.1;
    auto shared = std::make_shared<const RichClustering>(std::move(packed));

    // Membership test, one worker's view: dense marks vs Roaring lookups.
    {
        NodeMarks marks(graph.node_count());
        std::uint64_t checksum = 0;
        start = Clock::now();
        for (const auto& [id, members] : synthetic.clusters) {
            checksum += RichCluster::load_from_slice(*synthetic.graph, members, marks).m;
        }
        double dense = seconds_since(start);
        start = Clock::now();
        for (const auto& [id, members] : synthetic.clusters) {
            checksum -= RichCluster::load_from_slice(*synthetic.graph, members).m;
        }
        double roaring = seconds_since(start);
        std::printf("sequential packing: marks %.3f s, roaring lookups %.3f s (x%.2f)%s\n", dense,
                    roaring, roaring / dense, checksum == 0 ? "" : " MISMATCH");
    }

    // A partition (first level only) and an overlapping selection (both levels).
    std::vector<base::ClusterId> first_level, all;
    for (const auto& entry : shared->clusters) {
        all.push_back(entry.first);
        if (entry.first < synthetic.first_level_end) first_level.push_back(entry.first);
    }
    for (const auto* ids : {&first_level, &all}) {
        ClusteringHandle handle = ClusteringHandle::select_ids(shared, *ids);
        start = Clock::now();
        GraphStats stats = handle.stats();
        std::printf("stats (%s, %zu clusters): %.3f s: covered nodes %llu, covered edges %llu\n",
                    ids == &all ? "overlapping" : "disjoint", ids->size(), seconds_since(start),
                    static_cast<unsigned long long>(stats.covered_nodes),
                    static_cast<unsigned long long>(stats.covered_edges));
    }

    std::vector<const RichCluster*> clusters;
    for (const auto& entry : shared->clusters) clusters.push_back(&entry.second);
    std::uint64_t union_nodes = 0;
    {
        std::vector<const MemberBitmap*> bitmaps;
        for (const RichCluster* cluster : clusters) bitmaps.push_back(&cluster->members);
        start = Clock::now();
        union_nodes = union_of(bitmaps).cardinality();
        std::printf("covered nodes union: %.3f s (%llu)\n", seconds_since(start),
                    static_cast<unsigned long long>(union_nodes));
    }
    double route_seconds[2];
    std::uint64_t route_counts[2];
    const CoverageRoute routes[2] = {CoverageRoute::Dense, CoverageRoute::Compressed};
    for (int r = 0; r < 2; ++r) {
        start = Clock::now();
        std::vector<std::span<const utils::NodeId>> members;
        for (std::size_t i = 0; i < clusters.size(); ++i) members.push_back(shared->member_ids(i));
        route_counts[r] = count_covered_slots(*synthetic.graph, clusters, members, union_nodes,
                                              routes[r], runtime::PassProgress::unwatched());
        route_seconds[r] = seconds_since(start);
    }
    std::printf("covered slots: dense %.3f s, compressed %.3f s (x%.2f)%s\n", route_seconds[0],
                route_seconds[1], route_seconds[1] / route_seconds[0],
                route_counts[0] == route_counts[1] ? "" : " MISMATCH");
    std::printf("peak rss: %.0f MiB\n", peak_rss_mib());
    return 0;
}
