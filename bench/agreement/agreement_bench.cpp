// Times the agreement measures on a clustering file against a perturbed copy
// of it (the files of bench/gen):
//
//   cmake -S . -B build/bench -G Ninja -DQUELMAR_BUILD_BENCH=ON -DQUELMAR_BUILD_MODULE=OFF
//   cmake --build build/bench --target agreement_bench quelmar_gen_graph
//   build/bench/bench/gen/quelmar_gen_graph --lines 20000000 --edges E.txt --clusters C.txt
//   RAYON_NUM_THREADS=2 build/bench/bench/agreement/agreement_bench E.txt C.txt [moved=0.1]
//   [seed=1]
//
// The copy moves each membership, with probability `moved`, to a cluster
// drawn uniformly (clusters left with one member are dropped, as the loader
// would). The partition measures take each node in its first cluster only.
// Figures (loading and packing excluded):
//   * partition set: contingency, nmi, ari, vi, f1 and both match tables;
//     beside it, in the same run, the label-array route a user of the
//     usual Python tools takes with labels already in memory: one sort of
//     the (label a, label b) pairs into a contingency, then NMI and ARI. The
//     ratio is ours over that.
//   * omega and onmi on the covers, each with its own contingency.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "runtime/worker_pool.h"
#include "src/agreement/agreement.h"
#include "src/agreement/contingency.h"
#include "src/agreement/match_table.h"
#include "src/base/clustering.h"
#include "src/base/graph_loader.h"
#include "src/quelmar/rich_clustering.h"

namespace quelmar::agreement {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU seconds of the whole process (all threads): less swayed than the wall
// clock when other work shares the cores.
double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

base::Clustering perturbed(const base::Clustering& from, double moved, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<std::size_t> any(0, from.size() - 1);
    std::vector<std::vector<utils::NodeId>> members(from.size());
    for (std::size_t i = 0; i < from.size(); ++i) {
        for (utils::NodeId v : from.members_of(i)) {
            members[unit(rng) < moved ? any(rng) : i].push_back(v);
        }
    }
    base::Clustering out;
    for (std::size_t i = 0; i < members.size(); ++i) {
        auto& list = members[i];
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
        if (list.size() >= 2) out.add(from.ids[i], list);
    }
    return out;
}

// Each node in its first cluster (by id) only.
base::Clustering first_cluster_only(const base::Clustering& from, std::uint64_t node_count) {
    std::vector<bool> seen(node_count);
    base::Clustering out;
    for (std::size_t k = 0; k < from.size(); ++k) {
        std::vector<utils::NodeId> kept;
        for (utils::NodeId v : from.members_of(k)) {
            if (!seen[v]) kept.push_back(v), seen[v] = true;
        }
        if (kept.size() >= 2) out.add(from.ids[k], kept);
    }
    return out;
}

std::vector<std::uint64_t> labels_of(const base::Clustering& partition, std::uint64_t node_count) {
    std::vector<std::uint64_t> labels(node_count, 0);  // 0: not yet labelled
    std::uint64_t next = 1;
    for (std::size_t k = 0; k < partition.size(); ++k) {
        for (utils::NodeId v : partition.members_of(k)) labels[v] = next;
        ++next;
    }
    for (auto& label : labels) label = label ? label : next++;  // uncovered: own label
    return labels;
}

struct Sides {
    std::vector<const RichCluster*> clusters;
    std::vector<base::ClusterId> ids;
    ComparedSide side() const { return {clusters, ids}; }
};

Sides sides_of(const RichClustering& clustering) {
    Sides sides;
    for (const auto& [id, cluster] : clustering.clusters) {
        sides.ids.push_back(id);
        sides.clusters.push_back(&cluster);
    }
    return sides;
}

// NMI and ARI from label arrays the way the usual Python tools get there:
// sort the pairs, count runs, then the sums over cells and margins.
std::pair<double, double> label_route(const std::vector<std::uint64_t>& a,
                                      const std::vector<std::uint64_t>& b) {
    const std::size_t n = a.size();
    std::vector<std::uint64_t> pairs(n);
    for (std::size_t i = 0; i < n; ++i) pairs[i] = (a[i] << 32) | b[i];
    std::sort(pairs.begin(), pairs.end());
    std::vector<std::uint64_t> size_a(n + 1, 0), size_b(n + 1, 0);
    for (std::size_t i = 0; i < n; ++i) ++size_a[a[i]], ++size_b[b[i]];
    const double total = static_cast<double>(n), log_total = std::log(total);
    double mi = 0, h_a = 0, h_b = 0;
    __int128 cell_squares = 0, squares_a = 0, squares_b = 0;
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i;
        while (j < n && pairs[j] == pairs[i]) ++j;
        const double count = static_cast<double>(j - i);
        const double outer = static_cast<double>(size_a[pairs[i] >> 32]) *
                             static_cast<double>(size_b[pairs[i] & 0xffffffffu]);
        mi += count / total * (std::log(count) + log_total - std::log(outer));
        cell_squares += static_cast<__int128>(j - i) * (j - i);
        i = j;
    }
    for (std::uint64_t s : size_a) {
        if (s) h_a -= s / total * (std::log(double(s)) - log_total), squares_a += __int128(s) * s;
    }
    for (std::uint64_t s : size_b) {
        if (s) h_b -= s / total * (std::log(double(s)) - log_total), squares_b += __int128(s) * s;
    }
    const __int128 nn = n, tp = cell_squares - nn, fp = squares_b - cell_squares,
                   fn = squares_a - cell_squares, tn = nn * nn - fp - fn - cell_squares;
    const double ari = static_cast<double>(2 * (tp * tn - fn * fp)) /
                       static_cast<double>((tp + fn) * (fn + tn) + (tp + fp) * (fp + tn));
    return {mi / ((h_a + h_b) / 2), ari};
}

int run(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: agreement_bench EDGES CLUSTERS [moved=0.1] [seed=1]\n");
        return 2;
    }
    const double moved = argc > 3 ? std::atof(argv[3]) : 0.1;
    const std::uint64_t seed = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1;
    auto start = Clock::now();
    auto loaded = base::parse_from_file(argv[1]);
    if (!loaded.ok()) return std::fprintf(stderr, "%s\n", loaded.error().message().c_str()), 1;
    auto graph =
        std::make_shared<const EnrichedGraph>(EnrichedGraph::from_graph(std::move(*loaded)));
    auto clustering = base::Clustering::parse_from_file(graph->graph(), argv[2]);
    if (!clustering.ok())
        return std::fprintf(stderr, "%s\n", clustering.error().message().c_str()), 1;
    const std::uint64_t nodes = graph->graph().node_count();
    base::Clustering other = perturbed(*clustering, moved, seed);
    base::Clustering part_a = first_cluster_only(*clustering, nodes);
    base::Clustering part_b = first_cluster_only(other, nodes);
    const auto labels_a = labels_of(part_a, nodes), labels_b = labels_of(part_b, nodes);
    auto pack = [&](base::Clustering c) {
        RichClustering packed = RichClustering::pack_from_clustering(graph, std::move(c));
        packed.build_members();
        return packed;
    };
    const RichClustering cover_a = pack(std::move(*clustering)), cover_b = pack(std::move(other));
    const RichClustering partition_a = pack(std::move(part_a)),
                         partition_b = pack(std::move(part_b));
    std::printf("workers %zu, nodes %llu, clusters %zu vs %zu (partitions %zu vs %zu), "
                "loaded and packed in %.1f s\n",
                runtime::global_pool() ? runtime::global_pool()->size() : 0,
                static_cast<unsigned long long>(nodes), cover_a.clusters.size(),
                cover_b.clusters.size(), partition_a.clusters.size(), partition_b.clusters.size(),
                seconds_since(start));

    const Sides pa = sides_of(partition_a), pb = sides_of(partition_b);
    start = Clock::now();
    double cpu = cpu_seconds();
    auto table = Contingency::build(*graph, pa.side(), pb.side());
    const double built = seconds_since(start);
    const double nmi_value = *nmi(*table), ari_value = *ari(*table), vi_value = *vi(*table);
    const double f1_value = f1(*table);
    MatchTable forward = match_table(*table, MatchDirection::kAToB);
    MatchTable backward = match_table(*table, MatchDirection::kBToA);
    const double ours = seconds_since(start), ours_cpu = cpu_seconds() - cpu;
    start = Clock::now();
    cpu = cpu_seconds();
    const auto [label_nmi, label_ari] = label_route(labels_a, labels_b);
    const double labels = seconds_since(start), labels_cpu = cpu_seconds() - cpu;
    std::printf(
        "partition set: %.3f s, cpu %.3f s (contingency %.3f s, %zu cells; match rows %zu + "
        "%zu)\n",
        ours, ours_cpu, built, table->cells.size(), forward.id.size(), backward.id.size());
    std::printf("  nmi %.15g ari %.15g vi %.15g f1 %.15g\n", nmi_value, ari_value, vi_value,
                f1_value);
    std::printf(
        "label route (nmi + ari only): %.3f s, cpu %.3f s, nmi %.15g ari %.15g; ours / labels "
        "%.2f\n",
        labels, labels_cpu, label_nmi, label_ari, ours / labels);

    const Sides ca = sides_of(cover_a), cb = sides_of(cover_b);
    for (const char* measure : {"omega", "onmi"}) {
        start = Clock::now();
        cpu = cpu_seconds();
        auto covers = Contingency::build(*graph, ca.side(), cb.side());
        const double cover_built = seconds_since(start);
        const double result = std::string(measure) == "omega" ? *omega(*covers) : *onmi(*covers);
        std::printf("%s: %.3f s, cpu %.3f s (contingency %.3f s, %zu cells) = %.15g\n", measure,
                    seconds_since(start), cpu_seconds() - cpu, cover_built, covers->cells.size(),
                    result);
    }
    return 0;
}

}  // namespace
}  // namespace quelmar::agreement

int main(int argc, char** argv) { return quelmar::agreement::run(argc, argv); }
