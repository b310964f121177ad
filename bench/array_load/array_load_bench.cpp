// Times loads from arrays in memory side by side with the text loads of the
// same data, each measurement in its own child process so that its peak
// resident memory (max RSS) is its own:
//   * the graph from a (lines, 2) array of names (graph_from_pairs) against
//     the edge-list loader on the same edges, with the array's own share and
//     the finished graph's footprint beside the peak;
//   * the clustering from a (memberships, 2) array (from_membership_rows) against
//     the clustering file, each followed by packing, as the binding does.
// Both run on a process-wide pool of 2 workers. Beside the times, the
// processor time of each (all threads), steadier on a shared machine. The arrays are read from
// binary copies of the text files (made beside them on the first run) before
// the clock starts.
//
//   quelmar_array_load_bench --edges E.txt --clusters C.txt [--repeat R]

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/pool_size.h"
#include "runtime/worker_pool.h"
#include "src/base/clustering.h"
#include "src/base/graph_loader.h"
#include "src/base/pair_load.h"
#include "src/quelmar/rich_clustering.h"

namespace {

using namespace quelmar;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time of every thread so far: steadier than the clock when
// other work shares the machine.
double cpu_seconds() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::exit(1);
}

double mib(std::uint64_t bytes) { return static_cast<double>(bytes) / 1048576.0; }

// The first two numbers of every line of a text file, in order.
std::vector<std::uint64_t> parse_pairs(const std::string& path) {
    std::vector<std::uint64_t> out;
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file) fail("cannot open " + path);
    unsigned long long a, b;
    char rest[256];
    while (std::fscanf(file, "%llu %llu", &a, &b) == 2) {
        out.push_back(a);
        out.push_back(b);
        if (!std::fgets(rest, sizeof rest, file)) break;
    }
    std::fclose(file);
    return out;
}

void write_binary(const std::string& path, const std::vector<std::uint64_t>& values) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(values.data(), 8, values.size(), file) != values.size()) {
        fail("cannot write " + path);
    }
    std::fclose(file);
}

// The binary copy of a text file's pairs, made once.
std::string binary_copy(const std::string& text) {
    const std::string path = text + ".pairs.bin";
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) write_binary(path, parse_pairs(text));
    return path;
}

std::vector<std::uint64_t> read_binary(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) fail("cannot stat " + path);
    std::vector<std::uint64_t> values(st.st_size / 8);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::size_t done = 0;
    while (done < st.st_size) {
        const ssize_t got =
            ::read(fd, reinterpret_cast<char*>(values.data()) + done, st.st_size - done);
        if (got <= 0) fail("cannot read " + path);
        done += got;
    }
    ::close(fd);
    return values;
}

// What a finished graph holds: neighbours, offsets, and its NameSet's
// table and name array.
std::uint64_t footprint(const base::Graph& graph) {
    return graph.all_neighbours().size_bytes() + graph.offsets().size_bytes() +
           graph.name_set().bytes();
}

void start_pool() {
    if (!runtime::build_global_pool(2)) fail("no pool");
}

// Resident memory now, from /proc/self/statm.
std::uint64_t resident_bytes() {
    unsigned long long size = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm || std::fscanf(statm, "%llu %llu", &size, &resident) != 2) fail("statm");
    std::fclose(statm);
    return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

// The memory of graph_from_pairs over its checkpoints, on standard error:
// where the peak falls.
int trace_pairs(const std::string& path) {
    const auto pairs = read_binary(path);
    const std::uint64_t before = resident_bytes();
    std::fprintf(stderr, "array and process: %.1f MiB\n", mib(before));
    const auto start = Clock::now();
    utils::TaskMonitor monitor([&](const utils::TaskProgress& p) {
        std::fprintf(stderr, "%7.3f s  %s %4llu/%-4llu  %.1f MiB above\n", seconds_since(start),
                     p.stage == utils::TaskProgress::Stage::kReading ? "pairs   " : "building",
                     static_cast<unsigned long long>(p.done),
                     static_cast<unsigned long long>(p.total), mib(resident_bytes() - before));
        return true;
    });
    auto graph = base::graph_from_pairs(pairs, {}, monitor);
    if (!graph) fail(graph.error().message());
    std::fprintf(stderr, "%7.3f s  graph %.1f MiB above (footprint %.1f MiB)\n",
                 seconds_since(start), mib(resident_bytes() - before),
                 mib(footprint(graph.value())));
    std::printf("0 0 0\n");
    return 0;
}

// Prints "seconds a b".
int child(const std::vector<std::string>& args) {
    const std::string& mode = args[0];
    start_pool();
    if (mode == "trace") return trace_pairs(args[1]);
    if (mode == "array") {
        const auto pairs = read_binary(args[1]);
        std::printf("0 %zu 0 0\n", pairs.size() * 8);
        return 0;
    }
    if (mode == "text" || mode == "pairs") {
        std::vector<std::uint64_t> pairs;
        if (mode == "pairs") pairs = read_binary(args[1]);
        const double cpu = cpu_seconds();
        const auto start = Clock::now();
        auto graph = mode == "pairs"
                         ? base::graph_from_pairs(pairs, {}, utils::TaskMonitor::unwatched())
                         : base::parse_from_file(args[1]);
        const double elapsed = seconds_since(start);
        if (!graph) fail(graph.error().message());
        std::printf("%.6f %llu %llu %.6f\n", elapsed,
                    static_cast<unsigned long long>(footprint(graph.value())),
                    static_cast<unsigned long long>(graph.value().m_cache()), cpu_seconds() - cpu);
        return 0;
    }
    if (mode == "cfile" || mode == "carrays") {
        auto loaded = base::parse_from_file(args[1]);
        if (!loaded) fail(loaded.error().message());
        SharedGraph graph = std::make_shared<const EnrichedGraph>(
            EnrichedGraph::from_graph(std::move(loaded).value()));
        // One row-major (n, 2) array, as numpy hands it over.
        std::vector<std::uint64_t> rows;
        if (mode == "carrays") rows = read_binary(args[2]);
        const double cpu = cpu_seconds();
        const auto start = Clock::now();
        auto clustering = mode == "carrays"
                              ? base::Clustering::from_membership_rows(graph->graph(), rows)
                              : base::Clustering::parse_from_file(graph->graph(), args[2]);
        const double loaded_at = seconds_since(start);
        const double load_cpu = cpu_seconds() - cpu;
        if (!clustering) fail(clustering.error().message());
        const RichClustering packed =
            RichClustering::pack_from_clustering(graph, std::move(clustering).value());
        const double elapsed = seconds_since(start);
        std::printf("%.6f %llu %.6f %.6f %.6f\n", elapsed,
                    static_cast<unsigned long long>(packed.clusters.size() * 1'000'000 +
                                                    packed.unknown_memberships),
                    loaded_at, cpu_seconds() - cpu, load_cpu);
        return 0;
    }
    return 2;
}

struct Measurement {
    double seconds = 0;
    std::uint64_t a = 0;
    double b = 0;
    double cpu = 0;
    double load_cpu = 0;  // of the clustering's load alone
    std::uint64_t max_rss = 0;
};

Measurement run_child(const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe(fds) != 0) fail("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<std::string> all = {"/proc/self/exe", "--child"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv("/proc/self/exe", argv.data());
        std::_Exit(127);
    }
    ::close(fds[1]);
    std::string output;
    char chunk[256];
    for (ssize_t got; (got = ::read(fds[0], chunk, sizeof chunk)) > 0;) output.append(chunk, got);
    ::close(fds[0]);
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail("child " + args[0] + " failed");
    Measurement m;
    std::istringstream in(output);
    in >> m.seconds >> m.a >> m.b >> m.cpu >> m.load_cpu;
    m.max_rss = static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
        return child(std::vector<std::string>(argv + 2, argv + argc));
    }
    std::map<std::string, std::string> options;
    for (int i = 1; i + 1 < argc; i += 2) options[argv[i]] = argv[i + 1];
    if (!options.count("--edges") || !options.count("--clusters")) {
        std::fprintf(
            stderr,
            "usage: quelmar_array_load_bench --edges E.txt --clusters C.txt [--repeat R]\n");
        return 2;
    }
    const std::string edges = options["--edges"];
    const std::string clusters = options["--clusters"];
    const int repeat =
        options.count("--repeat") ? std::max(1, std::atoi(options["--repeat"].c_str())) : 1;
    const std::string edge_pairs = binary_copy(edges);
    const std::string memberships = binary_copy(clusters);

    std::vector<double> graph_ratio, cluster_ratio, graph_cpu, cluster_cpu;
    for (int round = 0; round < repeat; ++round) {
        const Measurement array = run_child({"array", edge_pairs});
        Measurement text, pairs, cfile, carrays;
        if (round % 2 == 0) {
            text = run_child({"text", edges});
            pairs = run_child({"pairs", edge_pairs});
            cfile = run_child({"cfile", edges, clusters});
            carrays = run_child({"carrays", edges, memberships});
        } else {
            carrays = run_child({"carrays", edges, memberships});
            cfile = run_child({"cfile", edges, clusters});
            pairs = run_child({"pairs", edge_pairs});
            text = run_child({"text", edges});
        }
        if (text.b != pairs.b) fail("the graphs disagree");
        if (cfile.a != carrays.a) fail("the clusterings disagree");
        graph_ratio.push_back(pairs.seconds / text.seconds);
        cluster_ratio.push_back(carrays.seconds / cfile.seconds);
        graph_cpu.push_back(pairs.cpu / text.cpu);
        cluster_cpu.push_back(carrays.cpu / cfile.cpu);
        const double limit = mib(array.a + pairs.a);
        std::printf("round %d\n", round + 1);
        std::printf("  graph: text %.3f s (cpu %.3f s), pairs %.3f s (cpu %.3f s) (%.2fx); peak "
                    "text %.1f MiB, pairs %.1f MiB\n",
                    text.seconds, text.cpu, pairs.seconds, pairs.cpu, pairs.seconds / text.seconds,
                    mib(text.max_rss), mib(pairs.max_rss));
        std::printf("         array %.1f MiB (process with it alone: %.1f MiB), graph footprint "
                    "%.1f MiB (text: %.1f MiB); pairs peak / (array + graph) = %.3f\n",
                    mib(array.a), mib(array.max_rss), mib(pairs.a), mib(text.a),
                    mib(pairs.max_rss) / limit);
        std::printf("  clustering + packing: file %.3f s (load %.3f; cpu %.3f, load %.3f), arrays "
                    "%.3f s (load %.3f; cpu %.3f, load %.3f) (%.2fx); peak file %.1f MiB, arrays "
                    "%.1f MiB\n",
                    cfile.seconds, cfile.b, cfile.cpu, cfile.load_cpu, carrays.seconds, carrays.b,
                    carrays.cpu, carrays.load_cpu, carrays.seconds / cfile.seconds,
                    mib(cfile.max_rss), mib(carrays.max_rss));
        std::fflush(stdout);
    }
    auto range = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        char text[96];
        std::snprintf(text, sizeof text, "%.2fx .. %.2fx (median %.2fx)", v.front(), v.back(),
                      v[v.size() / 2]);
        return std::string(text);
    };
    std::printf("graph from pairs / text load:             %s\n", range(graph_ratio).c_str());
    std::printf("clustering from arrays / file (+packing): %s\n", range(cluster_ratio).c_str());
    std::printf("the same in processor time:               %s, %s\n", range(graph_cpu).c_str(),
                range(cluster_cpu).c_str());
    return 0;
}
