// Times graph loading side by side in one run: the edge-list loader on pools
// of 1 and 2 workers, the snapshot loader on 2 and, as the floor, a minimal
// single-threaded loop that only reads the edge list and parses its integers;
// with --clusters, the clustering loader on 1 and 2 workers (against the
// snapshot's graph) and the floor of its file too. Each measurement runs in
// its own child process, so its peak resident memory (max RSS) is its own.
//
//   quelmar_graph_load_bench --edges E.txt --snapshot S.lz4 [--clusters C.txt] [--repeat R]
//
// Prints the best times of R rounds, the ratios to the floors (and, with R > 1,
// each round's own ratio of the 2-worker load to its floor), the speedup of
// 2 workers over 1, peak memory in bytes per edge line, and how much a
// second thread of busy integer work gains on this machine (the ceiling of
// the compute-bound phases' speedup).

#include <fcntl.h>
#include <sys/resource.h>
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
#include <thread>
#include <vector>

#include "runtime/worker_pool.h"
#include "src/base/clustering.h"
#include "src/base/graph_loader.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The floor: read the file through a 64 KiB buffer and sum its integers.
int child_floor(const char* path) {
    const auto start = Clock::now();
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 1;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[1 << 16]);
    std::uint64_t lines = 0, sum = 0, value = 0;
    bool in_number = false;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.get(), 1 << 16);
        if (got <= 0) break;
        for (ssize_t i = 0; i < got; ++i) {
            const unsigned digit = buffer[i] - '0';
            if (digit <= 9) {
                value = value * 10 + digit;
                in_number = true;
            } else {
                if (in_number) sum += value;
                value = 0;
                in_number = false;
                lines += buffer[i] == '\n';
            }
        }
    }
    ::close(fd);
    std::printf("%.6f %llu %llu\n", seconds_since(start), static_cast<unsigned long long>(lines),
                static_cast<unsigned long long>(sum & 0xFFFF));
    return 0;
}

// The machine's own gain from a second thread: a fixed amount of busy,
// cache-resident integer work, timed on one thread alone and on two side by
// side. Where the two processors are hyperthreads of one core, two threads
// of such work gain far less than twice.
int child_spin(const char* threads) {
    auto spin = [] {
        std::uint64_t x[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        for (std::uint64_t i = 0; i < 400'000'000; ++i) {
            x[0] += i;
            x[1] ^= x[0];
            x[2] += x[1] >> 1;
            x[3] ^= x[2];
            x[4] += i ^ x[3];
            x[5] ^= x[4];
            x[6] += x[5];
            x[7] ^= x[6];
        }
        return x[7] + x[3];
    };
    const auto start = Clock::now();
    std::uint64_t sink = 0;
    if (std::strcmp(threads, "2") == 0) {
        std::uint64_t other = 0;
        std::thread second([&] { other = spin(); });
        sink = spin();
        second.join();
        sink ^= other;
    } else {
        sink = spin();
    }
    std::printf("%.6f %llu 0\n", seconds_since(start), static_cast<unsigned long long>(sink & 1));
    return 0;
}

// A pool of `workers` for the loader (the process-wide one is never made).
quelmar::base::TextLoadOptions on_workers(const char* workers) {
    static auto pool = quelmar::runtime::WorkerPool::start(std::strtoull(workers, nullptr, 10));
    if (!pool) std::exit(1);
    return {.pool = pool.value().get()};
}

quelmar::runtime::Result<quelmar::base::Graph> load_graph(const char* path, const char* workers) {
    std::string name = path;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".lz4") {
        return quelmar::base::parse_from_file(path);
    }
    auto file = quelmar::utils::FileSource::open(path);
    if (!file) return std::move(file).error();
    return quelmar::base::parse_edgelist_from_reader(
        file.value(), quelmar::utils::TaskMonitor::unwatched(), quelmar::utils::kMaxNodes,
        on_workers(workers));
}

int child_graph(const char* path, const char* workers) {
    const auto start = Clock::now();
    auto graph = load_graph(path, workers);
    const double elapsed = seconds_since(start);
    if (!graph) {
        std::fprintf(stderr, "%s\n", graph.error().report().c_str());
        return 1;
    }
    std::printf("%.6f %llu %llu\n", elapsed,
                static_cast<unsigned long long>(graph.value().node_count()),
                static_cast<unsigned long long>(graph.value().m_cache()));
    return 0;
}

int child_clusters(const char* graph_path, const char* clusters_path, const char* workers) {
    auto graph = quelmar::base::parse_from_file(graph_path);
    if (!graph) return 1;
    const auto start = Clock::now();
    auto file = quelmar::utils::FileSource::open(clusters_path);
    if (!file) return 1;
    auto clustering = quelmar::base::Clustering::parse_from_reader(graph.value(), file.value(),
                                                                   on_workers(workers));
    const double elapsed = seconds_since(start);
    if (!clustering) {
        std::fprintf(stderr, "%s\n", clustering.error().report().c_str());
        return 1;
    }
    const std::uint64_t members = clustering.value().members.size();
    std::printf("%.6f %zu %llu\n", elapsed, clustering.value().size(),
                static_cast<unsigned long long>(members));
    return 0;
}

struct Measurement {
    double seconds = 0;
    std::uint64_t a = 0, b = 0;  // what the child counted
    std::uint64_t max_rss_bytes = 0;
    // The child's processor time, in its own code and in the kernel's (page
    // faults, reads): on a virtual machine the kernel's share of a load that
    // maps fresh memory varies from run to run.
    double user_seconds = 0;
    double system_seconds = 0;
};

double seconds_of(const timeval& t) {
    return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
}

// Runs this program again in child mode and collects its report and max RSS.
Measurement run_child(const std::vector<std::string>& args) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) std::exit(1);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipe_fds[1], STDOUT_FILENO);
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
        std::vector<char*> argv;
        std::string self = "/proc/self/exe";
        argv.push_back(self.data());
        for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(self.c_str(), argv.data());
        std::_Exit(127);
    }
    ::close(pipe_fds[1]);
    std::string output;
    char chunk[256];
    for (ssize_t got; (got = ::read(pipe_fds[0], chunk, sizeof chunk)) > 0;) {
        output.append(chunk, got);
    }
    ::close(pipe_fds[0]);
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "child %s failed\n", args[1].c_str());
        std::exit(1);
    }
    Measurement m;
    std::istringstream in(output);
    in >> m.seconds >> m.a >> m.b;
    m.max_rss_bytes = static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
    m.user_seconds = seconds_of(usage.ru_utime);
    m.system_seconds = seconds_of(usage.ru_stime);
    return m;
}

void keep_best(Measurement& best, const Measurement& m) {
    if (best.seconds == 0 || m.seconds < best.seconds) {
        const auto rss = std::max(best.max_rss_bytes, m.max_rss_bytes);
        best = m;
        best.max_rss_bytes = rss;
    } else {
        best.max_rss_bytes = std::max(best.max_rss_bytes, m.max_rss_bytes);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
        const std::string mode = argv[2];
        if (mode == "floor" && argc == 4) return child_floor(argv[3]);
        if (mode == "spin" && argc == 4) return child_spin(argv[3]);
        if (mode == "graph" && argc == 5) return child_graph(argv[3], argv[4]);
        if (mode == "clusters" && argc == 6) return child_clusters(argv[3], argv[4], argv[5]);
        return 2;
    }
    std::map<std::string, std::string> options;
    for (int i = 1; i + 1 < argc; i += 2) options[argv[i]] = argv[i + 1];
    if (!options.count("--edges") || !options.count("--snapshot")) {
        std::fprintf(stderr, "usage: quelmar_graph_load_bench --edges E.txt --snapshot S.lz4 "
                             "[--clusters C.txt] [--repeat R]\n");
        return 2;
    }
    const std::string edges = options["--edges"];
    const std::string snapshot = options["--snapshot"];
    const int repeat =
        options.count("--repeat") ? std::max(1, std::atoi(options["--repeat"].c_str())) : 1;

    const bool with_clusters = options.count("--clusters") > 0;
    const std::string clusters_path = with_clusters ? options["--clusters"] : "";
    Measurement floor, edge_list[2], snap, clusters_floor, clusters[2], spin[2];
    // Per round, the 2-worker load against the floor measured just before it.
    std::vector<double> round_ratios;
    auto measure_graph = [&] {
        const Measurement round_floor = run_child({"--child", "floor", edges});
        keep_best(floor, round_floor);
        for (int w = 0; w < 2; ++w) {
            const Measurement load = run_child({"--child", "graph", edges, std::to_string(w + 1)});
            keep_best(edge_list[w], load);
            if (w == 1) round_ratios.push_back(load.seconds / round_floor.seconds);
        }
    };
    auto measure_rest = [&] {
        for (int t = 0; t < 2; ++t) {
            keep_best(spin[t], run_child({"--child", "spin", std::to_string(t + 1)}));
        }
        keep_best(snap, run_child({"--child", "graph", snapshot, "2"}));
        if (!with_clusters) return;
        keep_best(clusters_floor, run_child({"--child", "floor", clusters_path}));
        for (int w = 0; w < 2; ++w) {
            keep_best(clusters[w], run_child({"--child", "clusters", snapshot, clusters_path,
                                              std::to_string(w + 1)}));
        }
    };
    for (int round = 0; round < repeat; ++round) {
        // Alternate the order so that drifting machine load hits all alike.
        if (round % 2 == 0) {
            measure_graph();
            measure_rest();
        } else {
            measure_rest();
            measure_graph();
        }
    }

    using ull = unsigned long long;
    const double lines = static_cast<double>(floor.a);
    auto mib = [](const Measurement& m) {
        return static_cast<double>(m.max_rss_bytes) / 1048576.0;
    };
    auto per_line = [&](const Measurement& m) {
        return static_cast<double>(m.max_rss_bytes) / lines;
    };
    std::printf("edge lines                 %llu\n", ull{floor.a});
    std::printf("graph                      %llu nodes, %llu edges "
                "(snapshot: %llu nodes, %llu edges)\n",
                ull{edge_list[1].a}, ull{edge_list[1].b}, ull{snap.a}, ull{snap.b});
    std::printf(
        "floor (read + parse ints)  %8.3f s   peak %7.1f MiB   cpu %.2f s user, %.2f s system\n",
        floor.seconds, mib(floor), floor.user_seconds, floor.system_seconds);
    for (int w = 0; w < 2; ++w) {
        std::printf("edge-list load, %d worker%s  %8.3f s   peak %7.1f MiB  %5.1f B/line   "
                    "%.2fx floor   cpu %.2f s user, %.2f s system\n",
                    w + 1, w ? "s" : " ", edge_list[w].seconds, mib(edge_list[w]),
                    per_line(edge_list[w]), edge_list[w].seconds / floor.seconds,
                    edge_list[w].user_seconds, edge_list[w].system_seconds);
    }
    if (repeat > 1) {
        std::printf("edge-list load, 2 workers, round by round:");
        for (const double ratio : round_ratios) std::printf(" %.2fx", ratio);
        std::printf(" floor\n");
    }
    std::printf("edge-list load, 2 workers against 1: %.2fx faster\n",
                edge_list[0].seconds / edge_list[1].seconds);
    std::printf("this machine: two threads of busy integer work do %.2fx the work of one\n",
                2 * spin[0].seconds / spin[1].seconds);
    std::printf("snapshot load              %8.3f s   peak %7.1f MiB  %5.1f B/line   "
                "%.2fx faster than the edge list on 2 workers\n",
                snap.seconds, mib(snap), per_line(snap), edge_list[1].seconds / snap.seconds);
    if (with_clusters) {
        std::printf("clustering file floor      %8.3f s\n", clusters_floor.seconds);
        for (int w = 0; w < 2; ++w) {
            std::printf("clustering load, %d worker%s %8.3f s   peak %7.1f MiB (graph included)   "
                        "%.2fx floor   %llu clusters, %llu members\n",
                        w + 1, w ? "s" : " ", clusters[w].seconds, mib(clusters[w]),
                        clusters[w].seconds / clusters_floor.seconds, ull{clusters[w].a},
                        ull{clusters[w].b});
        }
    }
    const Measurement& edge_lists = edge_list[0];
    if (edge_list[0].a != edge_list[1].a || edge_list[0].b != edge_list[1].b ||
        clusters[0].a != clusters[1].a || clusters[0].b != clusters[1].b) {
        std::fprintf(stderr, "pool sizes disagree\n");
        return 1;
    }
    if (edge_lists.a != snap.a || edge_lists.b != snap.b) {
        std::fprintf(stderr, "edge list and snapshot disagree\n");
        return 1;
    }
    return 0;
}
