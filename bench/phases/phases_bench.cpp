// Times the phases of a clustering run on real files, with a pool of a given
// size: graph load, clustering load, packing, building the member bitmaps
// (which the quality measures and the agreement read; the statistics do
// not), selecting everything, and the statistics. Prints one line per phase with its wall time,
// the processor time of all its threads (steadier than the wall time on a shared machine) and the
// process's peak resident memory so far, then the packed clustering's memory per member and per
// cluster.
//
//   phases_bench GRAPH CLUSTERING THREADS
//
// Run it once with THREADS=1 and once with THREADS=2 (bench/phases/run.sh does
// both) to read the speedup of the parallel passes.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>

#include "runtime/worker_pool.h"
#include "src/base/clustering.h"
#include "src/base/graph_loader.h"
#include "src/quelmar/clustering_handle.h"
#include "src/quelmar/rich_clustering.h"

namespace {

using Clock = std::chrono::steady_clock;

// Peak resident set size of this process so far, in MiB.
double peak_rss_mib() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            double kib = 0;
            status >> kib;
            return kib / 1024.0;
        }
    }
    return 0.0;
}

double process_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

template <class F>
auto phase(const char* name, F&& run) {
    const auto start = Clock::now();
    const double cpu_start = process_cpu_seconds();
    auto result = run();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = process_cpu_seconds() - cpu_start;
    std::printf("%-18s %9.3f s   cpu %8.3f s   peak %8.1f MiB\n", name, seconds, cpu,
                peak_rss_mib());
    return result;
}

[[noreturn]] void fail(const quelmar::runtime::Error& error) {
    std::fprintf(stderr, "%s\n", error.report().c_str());
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quelmar;
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s GRAPH CLUSTERING THREADS\n", argv[0]);
        return 2;
    }
    const std::size_t threads = std::strtoull(argv[3], nullptr, 10);
    if (auto pool = runtime::build_global_pool(threads); !pool) fail(pool.error());
    std::printf("threads            %zu\n", runtime::global_pool()->size());

    SharedGraph graph = phase("graph load", [&] {
        auto loaded = base::parse_from_file(argv[1]);
        if (!loaded) fail(loaded.error());
        return std::make_shared<const EnrichedGraph>(
            EnrichedGraph::from_graph(std::move(loaded).value()));
    });
    base::Clustering loaded = phase("clustering load", [&] {
        auto clustering = base::Clustering::parse_from_file(graph->graph(), argv[2]);
        if (!clustering) fail(clustering.error());
        return std::move(clustering).value();
    });
    SharedClustering packed = phase("packing", [&] {
        return std::make_shared<const RichClustering>(
            RichClustering::pack_from_clustering(graph, std::move(loaded)));
    });
    phase("member bitmaps", [&] {
        packed->build_members();
        return 0;
    });
    ClusteringHandle everything = phase("select all", [&] {
        std::vector<base::ClusterId> ids;
        ids.reserve(packed->clusters.size());
        for (const auto& entry : packed->clusters) ids.push_back(entry.first);
        return ClusteringHandle::select_ids(packed, std::move(ids));
    });
    GraphStats stats = phase("statistics", [&] { return everything.stats(); });

    std::uint64_t members = 0, bitmap_bytes = 0;
    for (const auto& [id, cluster] : packed->clusters) {
        members += cluster.n;
        bitmap_bytes += roaring_bitmap_portable_size_in_bytes(cluster.members.raw());
    }
    const double clusters = static_cast<double>(packed->clusters.size());
    const double record_bytes = clusters * sizeof(packed->clusters.front());
    std::printf("clusters %.0f, members %llu, covered nodes %llu, covered edges %llu\n", clusters,
                static_cast<unsigned long long>(members),
                static_cast<unsigned long long>(stats.covered_nodes),
                static_cast<unsigned long long>(stats.covered_edges));
    std::printf("packed clustering: %.2f bytes per member, %.1f bytes per cluster "
                "(bitmaps %.1f MiB, records %.1f MiB)\n",
                (bitmap_bytes + record_bytes) / static_cast<double>(members),
                (bitmap_bytes + record_bytes) / clusters, bitmap_bytes / 1048576.0,
                record_bytes / 1048576.0);
    return 0;
}
