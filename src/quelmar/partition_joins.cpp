// lo_side, degrees and node_side (partition_joins.h). Single-threaded: a Dask
// worker runs one such task per core. The keys are scrambled, so their bits
// are evenly spread and a least-significant-digit radix sort beats
// comparison sorts several times over on the large arrays.

#include "src/quelmar/partition_joins.h"

#include <absl/container/flat_hash_map.h>

#include <algorithm>
#include <array>
#include <utility>

namespace quelmar::partition {
namespace {

struct Pair {
    std::uint64_t a, b;
    friend bool operator==(const Pair&, const Pair&) = default;
};

// Sorts items by key_of(item) (a uint64), stably.
template <class T, class KeyOf>
void radix_sort(std::vector<T>& items, KeyOf key_of) {
    const std::size_t n = items.size();
    if (n < 1024) {  // the histograms would cost more than the sort
        std::stable_sort(items.begin(), items.end(),
                         [&](const T& x, const T& y) { return key_of(x) < key_of(y); });
        return;
    }
    constexpr int kBits = 11;
    constexpr std::size_t kBuckets = std::size_t{1} << kBits;
    constexpr int kPasses = (64 + kBits - 1) / kBits;
    std::vector<std::size_t> counts(kPasses * kBuckets, 0);
    for (const T& item : items) {
        const std::uint64_t key = key_of(item);
        for (int p = 0; p < kPasses; ++p)
            ++counts[p * kBuckets + ((key >> (p * kBits)) & (kBuckets - 1))];
    }
    std::vector<T> scratch(n);
    T* from = items.data();
    T* to = scratch.data();
    for (int p = 0; p < kPasses; ++p) {
        std::size_t* start = &counts[p * kBuckets];
        if (std::find(start, start + kBuckets, n) != start + kBuckets) continue;  // one bucket
        std::size_t sum = 0;
        for (std::size_t b = 0; b < kBuckets; ++b) sum += std::exchange(start[b], sum);
        for (std::size_t i = 0; i < n; ++i) {
            to[start[(key_of(from[i]) >> (p * kBits)) & (kBuckets - 1)]++] = from[i];
        }
        std::swap(from, to);
    }
    if (from != items.data()) items.swap(scratch);
}

// Sorts pairs by (a, b) and drops repeats.
void sort_distinct(std::vector<Pair>& pairs) {
    radix_sort(pairs, [](const Pair& p) { return p.a; });
    for (auto run = pairs.begin(); run != pairs.end();) {
        auto end = run + 1;
        while (end != pairs.end() && end->a == run->a) ++end;
        if (end - run > 1) {
            std::sort(run, end, [](const Pair& x, const Pair& y) { return x.b < y.b; });
        }
        run = end;
    }
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
}

bool is_selected(const Selection& selected, std::uint64_t cluster) {
    return !selected || std::binary_search(selected->begin(), selected->end(), cluster);
}

// The distinct selected (node, cluster) memberships, sorted.
std::vector<Pair> selected_memberships(Keys node, Keys cluster, const Selection& selected) {
    std::vector<Pair> pairs;
    pairs.reserve(node.size());
    for (std::size_t i = 0; i < node.size(); ++i) {
        if (is_selected(selected, cluster[i])) pairs.push_back({node[i], cluster[i]});
    }
    sort_distinct(pairs);
    return pairs;
}

// Calls visit(first, last) for each run of equal key(i) over [0, n).
template <class KeyAt, class Visit>
void for_each_run(std::size_t n, KeyAt key, Visit visit) {
    for (std::size_t first = 0; first < n;) {
        std::size_t last = first + 1;
        while (last < n && key(last) == key(first)) ++last;
        visit(first, last);
        first = last;
    }
}

}  // namespace

LoSide lo_side(Keys lo, Keys hi, Keys m_node, Keys m_cluster, Selection selected) {
    std::vector<Pair> edges(lo.size());
    for (std::size_t i = 0; i < edges.size(); ++i) edges[i] = {lo[i], hi[i]};
    sort_distinct(edges);

    LoSide out;
    NodeColumns& nodes = out.nodes;
    for_each_run(
        edges.size(), [&](std::size_t i) { return edges[i].a; },
        [&](std::size_t first, std::size_t last) {
            nodes.node.push_back(edges[first].a);
            nodes.deg.push_back(last - first);
            // sorted by hi, a self-loop (hi == lo, the least hi) comes first
            nodes.loop.push_back(edges[first].a == edges[first].b ? 1 : 0);
        });

    const std::vector<Pair> members = selected_memberships(m_node, m_cluster, selected);
    // Per edge, the run of lo's memberships: [first, first + count).
    std::vector<std::pair<std::size_t, std::size_t>> runs(edges.size());
    std::size_t rows = 0;
    std::size_t at = 0;
    for (std::size_t e = 0; e < edges.size(); ++e) {
        if (edges[e].a == edges[e].b) continue;
        while (at < members.size() && members[at].a < edges[e].a) ++at;
        std::size_t end = at;
        while (end < members.size() && members[end].a == edges[e].a) ++end;
        runs[e] = {at, end - at};
        rows += std::max<std::size_t>(end - at, 1);
    }

    HiRows& hi_rows = out.hi_rows;
    hi_rows.hi.resize(rows);
    hi_rows.lo.resize(rows);
    hi_rows.cluster.resize(rows);
    hi_rows.tag.resize(rows);
    std::size_t row = 0;
    for (std::size_t e = 0; e < edges.size(); ++e) {
        if (edges[e].a == edges[e].b) continue;
        const auto [first, count] = runs[e];
        for (std::size_t k = 0; k < std::max<std::size_t>(count, 1); ++k, ++row) {
            hi_rows.hi[row] = edges[e].b;
            hi_rows.lo[row] = edges[e].a;
            hi_rows.cluster[row] = count ? members[first + k].b : 0;
            hi_rows.tag[row] = (count ? kCluster : 0) | (k == 0 ? kDegree : 0);
        }
    }
    return out;
}

NodeColumns degrees(NodeKeys lo_nodes, Keys hi, std::span<const std::uint8_t> tag) {
    // Counted in a table first: a partition has several times fewer nodes
    // than rows, so only the distinct nodes get sorted.
    absl::flat_hash_map<std::uint64_t, std::uint64_t> counted;
    counted.reserve(lo_nodes.node.size() + lo_nodes.node.size() / 4);
    for (std::size_t i = 0; i < hi.size(); ++i) {
        if (tag[i] & kDegree) ++counted[hi[i]];
    }
    std::vector<Pair> hi_nodes;
    hi_nodes.reserve(counted.size());
    for (const auto& [node, count] : counted) hi_nodes.push_back({node, count});
    radix_sort(hi_nodes, [](const Pair& p) { return p.a; });

    NodeColumns out;
    const std::size_t most = lo_nodes.node.size() + hi_nodes.size();
    out.node.reserve(most);
    out.deg.reserve(most);
    out.loop.reserve(most);
    auto add = [&](std::uint64_t node, std::uint64_t deg, std::uint64_t loop) {
        out.node.push_back(node);
        out.deg.push_back(deg);
        out.loop.push_back(loop);
    };
    std::size_t l = 0, h = 0;
    while (l < lo_nodes.node.size() || h < hi_nodes.size()) {
        if (h == hi_nodes.size() ||
            (l < lo_nodes.node.size() && lo_nodes.node[l] < hi_nodes[h].a)) {
            add(lo_nodes.node[l], lo_nodes.deg[l], lo_nodes.loop[l]);
            ++l;
        } else if (l == lo_nodes.node.size() || hi_nodes[h].a < lo_nodes.node[l]) {
            add(hi_nodes[h].a, hi_nodes[h].b, 0);
            ++h;
        } else {
            add(lo_nodes.node[l], lo_nodes.deg[l] + hi_nodes[h].b, lo_nodes.loop[l]);
            ++l, ++h;
        }
    }
    return out;
}

NodeSide node_side(NodeKeys graph, MemberKeys members, Selection selected,
                   std::optional<HiRowKeys> hi_rows) {
    struct Line {
        std::uint64_t node, cluster, pos;
    };
    std::vector<Line> lines(members.node.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        lines[i] = {members.node[i], members.cluster[i], members.pos[i]};
    }
    radix_sort(lines, [](const Line& l) { return l.node; });

    NodeSide out;
    out.partials.assign(kPartialColumns, {});
    auto& p = out.partials;
    auto add_row = [&](const std::array<std::uint64_t, kPartialColumns>& row) {
        for (int c = 0; c < kPartialColumns; ++c) p[c].push_back(row[c]);
    };

    // Known selected memberships as (cluster, graph index), by node.
    std::vector<Pair> known;
    known.reserve(lines.size());
    std::size_t g = 0;
    for (const Line& line : lines) {
        while (g < graph.node.size() && graph.node[g] < line.node) ++g;
        if (g == graph.node.size() || graph.node[g] != line.node) {
            add_row({line.cluster, 0, 0, kNone, kNone, 0, 0, 1, line.pos});
        } else if (is_selected(selected, line.cluster)) {
            known.push_back({line.cluster, g});
        }
    }
    // Distinct clusters within each node's run: graph index is the node.
    for_each_run(
        known.size(), [&](std::size_t i) { return known[i].b; },
        [&](std::size_t first, std::size_t last) {
            std::sort(known.begin() + first, known.begin() + last,
                      [](const Pair& x, const Pair& y) { return x.a < y.a; });
        });
    known.erase(std::unique(known.begin(), known.end()), known.end());
    for_each_run(
        known.size(), [&](std::size_t i) { return known[i].b; },
        [&](std::size_t first, std::size_t last) {
            out.node.push_back(graph.node[known[first].b]);
            out.clusters.push_back(last - first);
            out.loop.push_back(graph.loop[known[first].b]);
        });

    radix_sort(known, [](const Pair& x) { return x.a; });
    const std::size_t member_rows_from = p[kClusterId].size();
    for_each_run(
        known.size(), [&](std::size_t i) { return known[i].a; },
        [&](std::size_t first, std::size_t last) {
            std::array<std::uint64_t, kPartialColumns> row{
                known[first].a, last - first, 0, kNone, kNone, 0, 0, 0, kNone};
            for (std::size_t i = first; i < last; ++i) {
                const std::size_t at = known[i].b;
                row[kVol] += graph.deg[at];
                row[kMcd] = std::min(row[kMcd], graph.deg[at]);
                row[kMinNode] = std::min(row[kMinNode], graph.node[at]);
                row[kLoops] += graph.loop[at];
            }
            add_row(row);
        });
    if (!hi_rows) return out;

    // (node, cluster) of each known membership to its cluster's row.
    absl::flat_hash_map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> row_of;
    row_of.reserve(known.size());
    for (std::size_t i = 0, row = member_rows_from; i < known.size(); ++i) {
        if (i > 0 && known[i].a != known[i - 1].a) ++row;
        row_of.emplace(std::pair{graph.node[known[i].b], known[i].a}, row);
    }
    std::vector<Pair> links;
    for (std::size_t i = 0; i < hi_rows->hi.size(); ++i) {
        if (!(hi_rows->tag[i] & kCluster)) continue;
        const auto found = row_of.find(std::pair{hi_rows->hi[i], hi_rows->cluster[i]});
        if (found == row_of.end()) continue;
        ++p[kInternal][found->second];
        links.push_back({hi_rows->lo[i], hi_rows->hi[i]});
    }
    sort_distinct(links);
    out.covered_links = links.size();
    return out;
}

}  // namespace quelmar::partition
