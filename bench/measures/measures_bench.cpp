// Times the per-cluster measures on real files against packing the same
// clustering, in one run so that machine noise hits both alike:
//
//   measures_bench GRAPH CLUSTERING THREADS [REPEATS=3]
//
// Each round packs the clustering afresh, then computes the count columns,
// the member-pass columns, components with triangle participation, and the
// minimum cut of every cluster; the best of the rounds is printed with its
// ratio to packing. Last, the minimum cut of the largest connected cluster
// alone.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "runtime/worker_pool.h"
#include "src/base/clustering.h"
#include "src/base/graph_loader.h"
#include "src/measures/cluster_measures.h"
#include "src/quelmar/rich_clustering.h"

namespace {

using namespace quelmar;
using namespace quelmar::measures;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

[[noreturn]] void fail(const runtime::Error& error) {
    std::fprintf(stderr, "%s\n", error.report().c_str());
    std::exit(1);
}

std::vector<std::vector<double>> run(const EnrichedGraph& graph,
                                     const std::vector<const RichCluster*>& clusters,
                                     const std::vector<ClusterMeasure>& measures, double& best) {
    auto start = Clock::now();
    auto columns = compute_cluster_measures(graph, clusters, measures);
    best = std::min(best, seconds_since(start));
    if (!columns) fail(columns.error());
    return std::move(columns).value();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s GRAPH CLUSTERING THREADS [REPEATS]\n", argv[0]);
        return 2;
    }
    const std::size_t threads = std::strtoull(argv[3], nullptr, 10);
    const int repeats = argc > 4 ? std::atoi(argv[4]) : 3;
    if (auto pool = runtime::build_global_pool(threads); !pool) fail(pool.error());

    auto loaded = base::parse_from_file(argv[1]);
    if (!loaded) fail(loaded.error());
    SharedGraph graph =
        std::make_shared<const EnrichedGraph>(EnrichedGraph::from_graph(std::move(loaded).value()));
    auto clustering = base::Clustering::parse_from_file(graph->graph(), argv[2]);
    if (!clustering) fail(clustering.error());
    std::printf("threads %zu, nodes %llu, edges %llu, clusters %zu\n",
                runtime::global_pool()->size(),
                static_cast<unsigned long long>(graph->graph().node_count()),
                static_cast<unsigned long long>(graph->graph().m_cache()), clustering->size());

    const std::vector<ClusterMeasure> counts{
        ClusterMeasure::Conductance, ClusterMeasure::NormalizedCut, ClusterMeasure::CutRatio,
        ClusterMeasure::Expansion, ClusterMeasure::AverageInternalDegree};
    const std::vector<ClusterMeasure> member_pass{
        ClusterMeasure::MaxOdf,       ClusterMeasure::AverageOdf,   ClusterMeasure::FlakeOdf,
        ClusterMeasure::Embeddedness, ClusterMeasure::HubDominance, ClusterMeasure::Fomd};
    const std::vector<ClusterMeasure> shape{ClusterMeasure::Components,
                                            ClusterMeasure::LargestComponent,
                                            ClusterMeasure::TriangleParticipation};
    const std::vector<ClusterMeasure> cut{ClusterMeasure::Mincut, ClusterMeasure::MincutSide};

    const double kInf = std::numeric_limits<double>::infinity();
    double pack = kInf, count_time = kInf, member_time = kInf, shape_time = kInf, cut_time = kInf;
    SharedClustering packed;
    std::vector<std::vector<double>> shapes, cuts;
    for (int round = 0; round < repeats; ++round) {
        base::Clustering copy = *clustering;
        auto start = Clock::now();
        packed = std::make_shared<const RichClustering>(
            RichClustering::pack_from_clustering(graph, std::move(copy)));
        packed->build_members();
        pack = std::min(pack, seconds_since(start));
        std::vector<const RichCluster*> clusters;
        for (const auto& entry : packed->clusters) clusters.push_back(&entry.second);
        run(*graph, clusters, counts, count_time);
        run(*graph, clusters, member_pass, member_time);
        shapes = run(*graph, clusters, shape, shape_time);
        cuts = run(*graph, clusters, cut, cut_time);
    }
    std::printf("best of %d rounds:\n", repeats);
    std::printf("  packing                          %8.3f s\n", pack);
    std::printf("  count columns (5)                %8.3f s  %6.2fx packing\n", count_time,
                count_time / pack);
    std::printf("  member-pass columns (6)          %8.3f s  %6.2fx packing\n", member_time,
                member_time / pack);
    std::printf("  components + triangles (3)       %8.3f s  %6.2fx packing\n", shape_time,
                shape_time / pack);
    std::printf("  mincut + mincut_side, all        %8.3f s  %6.2fx packing\n", cut_time,
                cut_time / pack);

    // The largest connected cluster alone.
    std::size_t largest = packed->clusters.size();
    std::size_t disconnected = 0;
    for (std::size_t i = 0; i < packed->clusters.size(); ++i) {
        if (shapes[0][i] > 1.0) ++disconnected;
        if (shapes[0][i] != 1.0) continue;
        if (largest == packed->clusters.size() ||
            packed->clusters[i].second.n > packed->clusters[largest].second.n) {
            largest = i;
        }
    }
    std::printf("disconnected clusters %zu of %zu\n", disconnected, packed->clusters.size());
    if (largest == packed->clusters.size()) return 0;
    const RichCluster* one[] = {&packed->clusters[largest].second};
    double alone = kInf;
    std::vector<std::vector<double>> value;
    for (int round = 0; round < repeats; ++round) value = run(*graph, {one[0]}, cut, alone);
    std::printf("largest connected cluster: id %llu, %llu members, %llu internal edges: "
                "mincut %.0f, smaller side %.0f, %.3f s\n",
                static_cast<unsigned long long>(packed->clusters[largest].first),
                static_cast<unsigned long long>(one[0]->n),
                static_cast<unsigned long long>(one[0]->m), value[0][0], value[1][0], alone);
    return 0;
}
