// Times graph loading side by side in one run: the edge-list loader, the
// snapshot loader and, as the floor, a minimal single-threaded loop that only
// reads the edge list and parses its integers. Each measurement runs in its
// own child process, so its peak resident memory (max RSS) is its own.
//
//   quelmar_graph_load_bench --edges E.txt --snapshot S.lz4 [--clusters C.txt] [--repeat R]
//
// Prints times, the ratios edge list / floor and edge list / snapshot, and
// peak memory in bytes per edge line.

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
#include <vector>

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

int child_graph(const char* path) {
    const auto start = Clock::now();
    auto graph = quelmar::base::parse_from_file(path);
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

int child_clusters(const char* graph_path, const char* clusters_path) {
    auto graph = quelmar::base::parse_from_file(graph_path);
    if (!graph) return 1;
    const auto start = Clock::now();
    auto clustering = quelmar::base::Clustering::parse_from_file(graph.value(), clusters_path);
    const double elapsed = seconds_since(start);
    if (!clustering) {
        std::fprintf(stderr, "%s\n", clustering.error().report().c_str());
        return 1;
    }
    std::uint64_t members = 0;
    for (const auto& [id, cluster] : clustering.value().clusters) members += cluster.core.size();
    std::printf("%.6f %zu %llu\n", elapsed, clustering.value().clusters.size(),
                static_cast<unsigned long long>(members));
    return 0;
}

struct Measurement {
    double seconds = 0;
    std::uint64_t a = 0, b = 0;  // what the child counted
    std::uint64_t max_rss_bytes = 0;
};

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
        if (mode == "graph" && argc == 4) return child_graph(argv[3]);
        if (mode == "clusters" && argc == 5) return child_clusters(argv[3], argv[4]);
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

    Measurement floor, edge_list, snap, clusters;
    for (int round = 0; round < repeat; ++round) {
        // Alternate the order so that drifting machine load hits all alike.
        if (round % 2 == 0) {
            keep_best(floor, run_child({"--child", "floor", edges}));
            keep_best(edge_list, run_child({"--child", "graph", edges}));
            keep_best(snap, run_child({"--child", "graph", snapshot}));
        } else {
            keep_best(snap, run_child({"--child", "graph", snapshot}));
            keep_best(edge_list, run_child({"--child", "graph", edges}));
            keep_best(floor, run_child({"--child", "floor", edges}));
        }
    }
    if (options.count("--clusters")) {
        clusters = run_child({"--child", "clusters", snapshot, options["--clusters"]});
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
                ull{edge_list.a}, ull{edge_list.b}, ull{snap.a}, ull{snap.b});
    std::printf("floor (read + parse ints)  %8.3f s   peak %7.1f MiB\n", floor.seconds, mib(floor));
    std::printf("edge-list load             %8.3f s   peak %7.1f MiB  %5.1f B/line   %.2fx floor\n",
                edge_list.seconds, mib(edge_list), per_line(edge_list),
                edge_list.seconds / floor.seconds);
    std::printf("snapshot load              %8.3f s   peak %7.1f MiB  %5.1f B/line   "
                "%.2fx faster than edge list\n",
                snap.seconds, mib(snap), per_line(snap), edge_list.seconds / snap.seconds);
    if (clusters.seconds > 0) {
        std::printf("clustering load            %8.3f s   peak %7.1f MiB (graph included)   "
                    "%llu clusters, %llu members\n",
                    clusters.seconds, mib(clusters), ull{clusters.a}, ull{clusters.b});
    }
    if (edge_list.a != snap.a || edge_list.b != snap.b) {
        std::fprintf(stderr, "edge list and snapshot disagree\n");
        return 1;
    }
    return 0;
}
