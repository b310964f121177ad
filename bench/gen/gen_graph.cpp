// Writes a synthetic edge list with planted clusters, and the matching
// clustering file, for benchmarks and examples.
//
// Nodes are indices 0 .. nodes-1 named by a bijective 64-bit mix, so names
// look random and never collide. Cluster sizes follow a power law (most
// clusters a handful of nodes, a few up to --max-cluster); each cluster is a
// ring over its members plus random chords, dense for small clusters. Random
// background edges, repeated lines and reversed lines are added, and the
// lines are shuffled. The clustering file lists "name cluster_id" per member,
// cluster by cluster; memberships overlap, and a few clusters get one line
// naming a node that is not in the graph. Deterministic for a given seed.
//
//   quelmar_gen_graph --lines 20000000 --edges E.txt --clusters C.txt
//       [--nodes N] [--seed S] [--alpha A] [--max-cluster K] [--inner-degree D]
//       [--background F] [--repeats F] [--unknown P] [--no-shuffle]

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Options {
    std::uint64_t lines = 20'000'000;
    std::uint64_t nodes = 0;  // 0: lines / 8
    std::uint64_t seed = 1;
    double alpha = 2.1;
    std::uint64_t min_cluster = 2;
    std::uint64_t max_cluster = 100'000;
    std::uint64_t inner_degree = 10;
    double background = 0.25;
    double repeats = 0.05;
    double unknown = 0.002;
    bool shuffle = true;
    std::string edges_path;
    std::string clusters_path;
};

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr,
                 "%s\nusage: quelmar_gen_graph --lines N --edges PATH --clusters PATH [--nodes N] "
                 "[--seed S] [--alpha A] [--max-cluster K] [--inner-degree D] [--background F] "
                 "[--repeats F] [--unknown P] [--no-shuffle]\n",
                 why);
    std::exit(2);
}

Options parse_options(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--no-shuffle") {
            o.shuffle = false;
            continue;
        }
        if (i + 1 >= argc) usage(("missing value for " + flag).c_str());
        const char* value = argv[++i];
        if (flag == "--lines") o.lines = std::stoull(value);
        else if (flag == "--nodes") o.nodes = std::stoull(value);
        else if (flag == "--seed") o.seed = std::stoull(value);
        else if (flag == "--alpha") o.alpha = std::stod(value);
        else if (flag == "--max-cluster") o.max_cluster = std::stoull(value);
        else if (flag == "--inner-degree") o.inner_degree = std::stoull(value);
        else if (flag == "--background") o.background = std::stod(value);
        else if (flag == "--repeats") o.repeats = std::stod(value);
        else if (flag == "--unknown") o.unknown = std::stod(value);
        else if (flag == "--edges") o.edges_path = value;
        else if (flag == "--clusters") o.clusters_path = value;
        else usage(("unknown flag " + flag).c_str());
    }
    if (o.edges_path.empty() || o.clusters_path.empty()) {
        usage("--edges and --clusters are required");
    }
    if (o.nodes == 0) o.nodes = std::max<std::uint64_t>(o.lines / 8, 16);
    if (o.alpha <= 1.0) usage("--alpha must exceed 1");
    if (o.background + o.repeats > 1.0) usage("--background plus --repeats must not exceed 1");
    o.max_cluster = std::clamp<std::uint64_t>(o.max_cluster, o.min_cluster, o.nodes);
    return o;
}

// A bijection on 64-bit integers (splitmix64's finaliser).
std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

class Output {
public:
    explicit Output(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
        if (!file_) throw std::runtime_error("cannot open " + path);
        buffer_.resize(1 << 20);
    }
    ~Output() {
        flush();
        std::fclose(file_);
    }
    void line(std::uint64_t a, std::uint64_t b) {
        if (buffer_.size() - used_ < 64) flush();
        char* p = buffer_.data() + used_;
        p = std::to_chars(p, p + 21, a).ptr;
        *p++ = ' ';
        p = std::to_chars(p, p + 21, b).ptr;
        *p++ = '\n';
        used_ = p - buffer_.data();
    }

private:
    void flush() {
        if (used_ && std::fwrite(buffer_.data(), 1, used_, file_) != used_) {
            throw std::runtime_error("write failed");
        }
        used_ = 0;
    }
    std::FILE* file_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

struct Edge {
    std::uint32_t u, v;
};

class Generator {
public:
    explicit Generator(const Options& o) : o_(o), random_(o.seed) {}

    std::uint64_t name_of(std::uint64_t node) const {
        return mix(node ^ (o_.seed * 0xD1B54A32D192ED03ULL));
    }
    std::uint64_t below(std::uint64_t n) {
        return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(random_);
    }
    double unit() { return std::uniform_real_distribution<double>(0.0, 1.0)(random_); }

    // Power law on [min_cluster, max_cluster] by inverse transform.
    std::uint64_t cluster_size() {
        for (;;) {
            const double u = 1.0 - unit();
            const double s =
                static_cast<double>(o_.min_cluster) * std::pow(u, -1.0 / (o_.alpha - 1.0));
            if (s <= static_cast<double>(o_.max_cluster) + 0.5) {
                return static_cast<std::uint64_t>(s);
            }
        }
    }

    std::vector<std::uint32_t> members(std::uint64_t size) {
        std::vector<std::uint32_t> picked(size);
        for (auto& m : picked) m = static_cast<std::uint32_t>(below(o_.nodes));
        std::sort(picked.begin(), picked.end());
        picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
        std::shuffle(picked.begin(), picked.end(), random_);
        return picked;
    }

    // Small clusters are complete; larger ones a ring plus random chords.
    // Every member gets an edge.
    void plant(const std::vector<std::uint32_t>& m, std::vector<Edge>& edges) {
        const std::size_t s = m.size();
        if (s <= o_.inner_degree / 2 + 2) {
            for (std::size_t i = 0; i < s; ++i)
                for (std::size_t j = i + 1; j < s; ++j) edges.push_back({m[i], m[j]});
            return;
        }
        const std::uint64_t chords = o_.inner_degree > 2 ? (o_.inner_degree - 2) / 2 : 0;
        for (std::size_t i = 0; i < s; ++i) {
            edges.push_back({m[i], m[(i + 1) % s]});
            for (std::uint64_t c = 0; c < chords; ++c) edges.push_back({m[i], m[below(s)]});
        }
    }

    void run() {
        const double lines = static_cast<double>(o_.lines);
        const auto cluster_budget =
            static_cast<std::uint64_t>(lines * (1.0 - o_.background - o_.repeats));
        const auto distinct_budget = static_cast<std::uint64_t>(lines * (1.0 - o_.repeats));
        std::vector<Edge> edges;
        edges.reserve(o_.lines);

        Output clusters(o_.clusters_path);
        std::uint64_t cluster_count = 0, membership_lines = 0, largest = 0;
        while (edges.size() < cluster_budget) {
            const auto m = members(cluster_size());
            if (m.size() < 2) continue;
            plant(m, edges);
            const std::uint64_t id = mix(cluster_count * 0x2545F4914F6CDD1DULL + 7);
            const std::size_t unknown_at = unit() < o_.unknown ? below(m.size() + 1) : SIZE_MAX;
            for (std::size_t i = 0; i <= m.size(); ++i) {
                if (i == unknown_at) clusters.line(name_of(o_.nodes + cluster_count), id);
                if (i < m.size()) clusters.line(name_of(m[i]), id);
            }
            membership_lines += m.size();
            largest = std::max<std::uint64_t>(largest, m.size());
            ++cluster_count;
        }
        while (edges.size() < distinct_budget) {
            const auto u = static_cast<std::uint32_t>(below(o_.nodes));
            const auto v = static_cast<std::uint32_t>(below(o_.nodes));
            edges.push_back({u, v});
        }
        const std::size_t distinct = edges.size();
        while (edges.size() < o_.lines && distinct > 0) edges.push_back(edges[below(distinct)]);
        if (o_.shuffle) std::shuffle(edges.begin(), edges.end(), random_);

        Output out(o_.edges_path);
        for (const Edge& e : edges) {
            if (random_() & 1) {
                out.line(name_of(e.u), name_of(e.v));
            } else {
                out.line(name_of(e.v), name_of(e.u));
            }
        }
        using ull = unsigned long long;
        std::fprintf(stderr,
                     "edge lines %zu, clusters %llu (largest %llu), membership lines %llu\n",
                     edges.size(), ull{cluster_count}, ull{largest}, ull{membership_lines});
    }

private:
    const Options& o_;
    std::mt19937_64 random_;
};

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse_options(argc, argv);
    try {
        Generator(options).run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
