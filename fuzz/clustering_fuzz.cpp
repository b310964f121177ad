// The clustering loader against the plain model of text_reference.h, on a
// small fixed graph; the input is the clustering file's content. The load must
// give the model's clusters (ids ascending, members ascending and distinct,
// single-member clusters dropped) or exactly the model's error message, also
// when the input arrives in small pieces through a small buffer cut into tiny
// blocks on the worker pool, and that run must agree exactly with the same
// run on a pool of one worker. A loaded clustering is then packed
// on the worker pool and its counts and coverage are recomputed by brute
// force from the graph's adjacency. When every line is a membership, the
// same memberships as arrays must load alike (clusters, counts, and the
// failure past the node name, which arrays give in decimal), with and
// without the strict rule.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/text_reference.h"
#include "runtime/worker_pool.h"
#include "src/base/clustering.h"
#include "src/base/graph_loader.h"
#include "src/quelmar/clustering_handle.h"
#include "src/quelmar/enriched_graph.h"
#include "src/quelmar/rich_clustering.h"
#include "src/utils/byte_source.h"

namespace {

using quelmar::fuzz::check;
using quelmar::fuzz::fail;
using quelmar::fuzz::ReferenceClustering;

// A triangle with a tail into a ring that has a self-loop, the extreme names
// 0 and 2^64 - 1, and a node whose only edge is a self-loop.
constexpr std::string_view kGraphText =
    "1 2\n2 3\n3 1\n3 4\n4 5\n5 5\n5 6\n6 7\n7 4\n"
    "0 18446744073709551615\n18446744073709551615 42\n100 7\n77 77\n";

const quelmar::SharedGraph& fixed_graph() {
    static const quelmar::SharedGraph graph = [] {
        quelmar::utils::MemorySource source(kGraphText);
        auto loaded = quelmar::base::parse_edgelist_from_reader(source);
        if (!loaded.ok()) fail("the fixed graph does not load", loaded.error().message());
        return std::make_shared<const quelmar::EnrichedGraph>(
            quelmar::EnrichedGraph::from_graph(std::move(loaded).value()));
    }();
    return graph;
}

void check_same_clusters(const quelmar::base::Clustering& loaded,
                         const ReferenceClustering& expected) {
    check(loaded.size() == expected.size(), "cluster count");
    check(
        loaded.starts.size() == loaded.size() + 1 && loaded.starts.back() == loaded.members.size(),
        "member stretches");
    auto wanted = expected.begin();
    for (std::size_t k = 0; k < loaded.size(); ++k) {
        check(loaded.ids[k] == wanted->first, "cluster ids");
        const auto cluster = loaded.members_of(k);
        check(std::equal(cluster.begin(), cluster.end(), wanted->second.begin(),
                         wanted->second.end()),
              "cluster members");
        ++wanted;
    }
}

void check_identical(const quelmar::runtime::Result<quelmar::base::Clustering>& a,
                     const quelmar::runtime::Result<quelmar::base::Clustering>& b) {
    check(a.ok() == b.ok(), "one pool size loads, the other fails");
    if (!a.ok()) {
        check(a.error().message() == b.error().message(), "messages differ by pool size");
        return;
    }
    const auto& x = a.value();
    const auto& y = b.value();
    check(x.ids == y.ids && x.starts == y.starts && x.members == y.members,
          "clusters differ by pool size");
}

quelmar::runtime::WorkerPool* one_worker() {
    static quelmar::runtime::WorkerPool* const pool =
        std::move(quelmar::runtime::WorkerPool::start(1)).value().release();
    return pool;
}

// Counts of one cluster straight from the adjacency.
void check_packed(const quelmar::base::Graph& graph, const quelmar::RichCluster& packed,
                  const std::set<std::uint64_t>& members) {
    std::uint64_t inside = 0, outside = 0, volume = 0;
    std::uint64_t smallest = UINT64_MAX;
    for (const std::uint64_t u : members) {
        const auto node = static_cast<quelmar::utils::NodeId>(u);
        volume += graph.degree(node);
        smallest = std::min<std::uint64_t>(smallest, graph.degree(node));
        for (const quelmar::utils::NodeId v : graph.neighbours(node)) {
            (members.count(v) ? inside : outside) += 1;
        }
    }
    check(packed.n == members.size() && packed.members.cardinality() == members.size(), "n");
    for (const std::uint64_t u : members) {
        check(packed.members.contains(static_cast<std::uint32_t>(u)), "member bitmap");
    }
    check(packed.m == inside / 2, "m");
    check(packed.c == outside, "c");
    check(packed.vol == volume, "vol");
    check(packed.mcd == smallest, "mcd");
}

void check_coverage(const quelmar::SharedClustering& packed, const ReferenceClustering& expected,
                    const std::vector<std::uint64_t>& ids) {
    const quelmar::base::Graph& graph = packed->graph->graph();
    const auto offsets = graph.offsets();
    std::set<std::uint64_t> nodes;
    std::set<std::uint64_t> slots;
    std::uint64_t found = 0;
    for (const std::uint64_t id : ids) {
        const auto cluster = expected.find(id);
        if (cluster == expected.end()) continue;
        ++found;
        for (const std::uint64_t u : cluster->second) {
            nodes.insert(u);
            const auto adjacent = graph.neighbours(static_cast<quelmar::utils::NodeId>(u));
            for (std::size_t j = 0; j < adjacent.size(); ++j) {
                if (cluster->second.count(adjacent[j])) slots.insert(offsets[u] + j);
            }
        }
    }
    const auto handle = quelmar::ClusteringHandle::select_ids(packed, ids);
    const quelmar::GraphStats stats = handle.stats();
    check(stats.num_clusters == found, "num_clusters");
    check(stats.covered_nodes == nodes.size(), "covered_nodes");
    check(stats.covered_edges == slots.size() / 2, "covered_edges");
    check(stats.total_nodes == graph.node_count() && stats.total_edges == graph.m_cache(),
          "graph totals");
}

// Node names and cluster ids of the lines, when every line is a membership.
std::optional<std::pair<std::vector<std::uint64_t>, std::vector<std::uint64_t>>> memberships(
    std::string_view text) {
    std::vector<std::uint64_t> nodes, clusters;
    for (const std::string_view line : quelmar::fuzz::split_lines(text)) {
        const auto decoded = quelmar::fuzz::decode_utf8(line);
        if (!decoded) return std::nullopt;
        const auto tokens = quelmar::fuzz::split_tokens(*decoded);
        if (tokens.size() < 2) return std::nullopt;
        const auto node = quelmar::fuzz::parse_u64(tokens[0]);
        const auto cluster = quelmar::fuzz::parse_u64(tokens[1]);
        if (!std::holds_alternative<std::uint64_t>(node) ||
            !std::holds_alternative<std::uint64_t>(cluster)) {
            return std::nullopt;
        }
        nodes.push_back(std::get<std::uint64_t>(node));
        clusters.push_back(std::get<std::uint64_t>(cluster));
    }
    return std::pair(std::move(nodes), std::move(clusters));
}

// A failure's text from the node name on: arrays write names in decimal.
std::string past_the_name(const std::string& message) {
    const auto at = message.find(" requested in cluster ");
    return at == std::string::npos ? message : message.substr(at);
}

void check_alike(const quelmar::runtime::Result<quelmar::base::Clustering>& file,
                 const quelmar::runtime::Result<quelmar::base::Clustering>& arrays) {
    check(file.ok() == arrays.ok(), "the file and the arrays disagree on loading");
    if (!file.ok()) {
        check(past_the_name(file.error().message()) == past_the_name(arrays.error().message()),
              "the file and the arrays fail differently", arrays.error().message());
        return;
    }
    check_identical(file, arrays);
    check(file.value().unknown_memberships == arrays.value().unknown_memberships,
          "unknown memberships");
    check(file.value().dropped_singletons == arrays.value().dropped_singletons,
          "dropped singletons");
}

void check_arrays(const quelmar::base::Graph& graph, std::string_view text) {
    const auto given = memberships(text);
    if (!given) return;
    for (const bool strict : {false, true}) {
        quelmar::utils::MemorySource source(text);
        const auto file = quelmar::base::Clustering::parse_from_reader(graph, source, {}, strict);
        check_alike(file, quelmar::base::Clustering::from_memberships(
                              graph, given->first, given->second, {.strict = strict}));
        std::vector<std::uint64_t> rows;
        for (std::size_t i = 0; i < given->first.size(); ++i) {
            rows.insert(rows.end(), {given->first[i], given->second[i]});
        }
        check_alike(
            file, quelmar::base::Clustering::from_membership_rows(graph, rows, {.strict = strict}));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const quelmar::SharedGraph& shared = fixed_graph();
    const quelmar::base::Graph& graph = shared->graph();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto expected = quelmar::fuzz::reference_clustering(
        text, [&](std::uint64_t name) { return graph.name_set().retrieve(name); });

    // Buffers of 16 to 36 bytes, blocks of 1 to 6.
    auto cut = [&](quelmar::runtime::WorkerPool* pool) {
        quelmar::utils::MemorySource pieces(text, 1 + size % 11);
        return quelmar::base::Clustering::parse_from_reader(
            graph, pieces,
            {.pool = pool, .buffer_bytes = 16 + size % 21, .block_bytes = 1 + size % 6});
    };
    const auto in_pieces = cut(quelmar::runtime::global_pool());
    check_identical(in_pieces, cut(one_worker()));
    check_arrays(graph, text);
    quelmar::utils::MemorySource whole(text);
    auto loaded = quelmar::base::Clustering::parse_from_reader(graph, whole);

    if (const auto* message = std::get_if<std::string>(&expected)) {
        for (const auto* outcome : {&std::as_const(loaded), &in_pieces}) {
            if (outcome->ok()) fail("loaded a file the model refuses", *message);
            check(outcome->error().message() == *message, "error message",
                  outcome->error().message() + " instead of " + *message);
        }
        return 0;
    }
    const auto& clusters = std::get<ReferenceClustering>(expected);
    for (const auto* outcome : {&std::as_const(loaded), &in_pieces}) {
        if (!outcome->ok()) fail("refused a file the model loads", outcome->error().message());
        check_same_clusters(outcome->value(), clusters);
    }

    const auto packed = std::make_shared<const quelmar::RichClustering>(
        quelmar::RichClustering::pack_from_clustering(shared, std::move(loaded).value()));
    packed->build_members();
    check(packed->clusters.size() == clusters.size(), "packed cluster count");
    auto wanted = clusters.begin();
    for (const auto& [id, cluster] : packed->clusters) {
        check(id == wanted->first, "packed cluster ids");
        check_packed(graph, cluster, wanted->second);
        ++wanted;
    }

    std::vector<std::uint64_t> every_id;
    std::vector<std::uint64_t> every_other_id;
    for (const auto& [id, members] : clusters) {
        if (every_id.size() % 2 == 0) every_other_id.push_back(id);
        every_id.push_back(id);
    }
    every_other_id.push_back(UINT64_MAX);  // names no cluster unless the file made one
    check_coverage(packed, clusters, every_id);
    check_coverage(packed, clusters, every_other_id);
    return 0;
}
