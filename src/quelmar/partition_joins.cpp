// route and the joins of partition_joins.h. Single-threaded: a Dask
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
std::vector<Pair> selected_memberships(const KeyPieces& node, const KeyPieces& cluster,
                                       const Selection& selected) {
    std::vector<Pair> pairs;
    pairs.reserve(node.size());
    for (std::size_t k = 0; k < node.spans.size(); ++k) {
        const Keys n = node.spans[k], c = cluster.spans[k];
        for (std::size_t i = 0; i < n.size(); ++i) {
            if (is_selected(selected, c[i])) pairs.push_back({n[i], c[i]});
        }
    }
    sort_distinct(pairs);
    return pairs;
}

// The pieces of a column one after the other.
Column concatenated(const KeyPieces& pieces) {
    Column out;
    out.reserve(pieces.size());
    for (const Keys piece : pieces.spans) out.insert(out.end(), piece.begin(), piece.end());
    return out;
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

// column's rows in the routing's order.
template <class T>
std::vector<T> gathered(const std::vector<T>& column, const Routing& routing) {
    std::vector<T> out(routing.order.size());
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = column[routing.order[i]];
    return out;
}

}  // namespace

Routing route(Keys key, std::uint64_t parts) {
    Routing out;
    out.offsets.assign(parts + 1, 0);
    for (const std::uint64_t k : key) ++out.offsets[partition_of(k, parts) + 1];
    for (std::uint64_t p = 0; p < parts; ++p) out.offsets[p + 1] += out.offsets[p];
    Column next(out.offsets.begin(), out.offsets.end() - 1);
    out.order.resize(key.size());
    for (std::size_t i = 0; i < key.size(); ++i) out.order[next[partition_of(key[i], parts)]++] = i;
    return out;
}

LoSide lo_side(const KeyPieces& lo, const KeyPieces& hi, const KeyPieces& m_node,
               const KeyPieces& m_cluster, Selection selected, std::uint64_t parts, bool with_lo) {
    std::vector<Pair> edges(lo.size());
    std::size_t filled = 0;
    for (std::size_t k = 0; k < lo.spans.size(); ++k) {
        const Keys a = lo.spans[k], b = hi.spans[k];
        for (std::size_t i = 0; i < a.size(); ++i) edges[filled++] = {a[i], b[i]};
    }
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
    HiRows& rows = out.hi_rows;
    rows.offsets.assign(parts + 1, 0);
    std::size_t at = 0;
    for (std::size_t e = 0; e < edges.size(); ++e) {
        if (edges[e].a == edges[e].b) continue;
        while (at < members.size() && members[at].a < edges[e].a) ++at;
        std::size_t end = at;
        while (end < members.size() && members[end].a == edges[e].a) ++end;
        runs[e] = {at, end - at};
        rows.offsets[partition_of(edges[e].b, parts) + 1] += std::max<std::size_t>(end - at, 1);
    }
    for (std::uint64_t p = 0; p < parts; ++p) rows.offsets[p + 1] += rows.offsets[p];

    const std::size_t total = rows.offsets[parts];
    rows.hi.resize(total);
    rows.cluster.resize(total);
    rows.tag.resize(total);
    if (with_lo) rows.lo.resize(total);
    Column next(rows.offsets.begin(), rows.offsets.end() - 1);
    for (std::size_t e = 0; e < edges.size(); ++e) {
        if (edges[e].a == edges[e].b) continue;
        const auto [first, count] = runs[e];
        std::uint64_t& row = next[partition_of(edges[e].b, parts)];
        for (std::size_t k = 0; k < std::max<std::size_t>(count, 1); ++k, ++row) {
            rows.hi[row] = edges[e].b;
            rows.cluster[row] = count ? members[first + k].b : 0;
            rows.tag[row] = (count ? kCluster : 0) | (k == 0 ? kDegree : 0);
            if (with_lo) rows.lo[row] = edges[e].a;
        }
    }
    return out;
}

NodeColumns degrees(NodeKeys lo_nodes, const KeyPieces& hi, const TagPieces& tag) {
    // Counted in a table first: a partition has several times fewer nodes
    // than rows, so only the distinct nodes get sorted.
    absl::flat_hash_map<std::uint64_t, std::uint64_t> counted;
    counted.reserve(lo_nodes.node.size() + lo_nodes.node.size() / 4);
    for (std::size_t k = 0; k < hi.spans.size(); ++k) {
        const Keys h = hi.spans[k];
        const std::span<const std::uint8_t> t = tag.spans[k];
        for (std::size_t i = 0; i < h.size(); ++i) {
            if (t[i] & kDegree) ++counted[h[i]];
        }
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

NodeSide node_side(NodeKeys graph, const MemberKeys& members, Selection selected,
                   const std::optional<HiRowKeys>& hi_rows, std::uint64_t parts) {
    struct Line {
        std::uint64_t node, cluster, pos;
    };
    std::vector<Line> lines(members.node.size());
    std::size_t filled = 0;
    for (std::size_t k = 0; k < members.node.spans.size(); ++k) {
        const Keys n = members.node.spans[k], c = members.cluster.spans[k],
                   p = members.pos.spans[k];
        for (std::size_t i = 0; i < n.size(); ++i) lines[filled++] = {n[i], c[i], p[i]};
    }
    radix_sort(lines, [](const Line& l) { return l.node; });

    NodeSide out;
    Column unknown_cluster, unknown_pos;
    // Known selected memberships as (cluster, graph index), by node.
    std::vector<Pair> known;
    known.reserve(lines.size());
    std::size_t g = 0;
    for (const Line& line : lines) {
        while (g < graph.node.size() && graph.node[g] < line.node) ++g;
        if (g == graph.node.size() || graph.node[g] != line.node) {
            unknown_cluster.push_back(line.cluster);
            unknown_pos.push_back(line.pos);
        } else if (is_selected(selected, line.cluster)) {
            known.push_back({line.cluster, g});
        }
    }
    const Routing unknown = route(unknown_cluster, parts);
    out.unknown_cluster = gathered(unknown_cluster, unknown);
    out.unknown_pos = gathered(unknown_pos, unknown);
    out.unknown_offsets = unknown.offsets;

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
    std::vector<Column> p(kPartialColumns);
    for_each_run(
        known.size(), [&](std::size_t i) { return known[i].a; },
        [&](std::size_t first, std::size_t last) {
            std::uint64_t vol = 0, mcd = kNone, minnode = kNone, loops = 0;
            for (std::size_t i = first; i < last; ++i) {
                const std::size_t at = known[i].b;
                vol += graph.deg[at];
                mcd = std::min(mcd, graph.deg[at]);
                minnode = std::min(minnode, graph.node[at]);
                loops += graph.loop[at];
            }
            p[kClusterId].push_back(known[first].a);
            p[kN].push_back(last - first);
            p[kVol].push_back(vol);
            p[kMcd].push_back(mcd);
            p[kMinNode].push_back(minnode);
            p[kLoops].push_back(loops);
        });
    p[kInternal].assign(p[kClusterId].size(), 0);

    if (hi_rows) {
        // (node, cluster) of each known membership to its cluster's row.
        absl::flat_hash_map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> row_of;
        row_of.reserve(known.size());
        for (std::size_t i = 0, row = 0; i < known.size(); ++i) {
            if (i > 0 && known[i].a != known[i - 1].a) ++row;
            row_of.emplace(std::pair{graph.node[known[i].b], known[i].a}, row);
        }
        // Without lo, an edge's rows are consecutive, its kDegree row first;
        // with it, the internal edges are told apart by (lo, hi).
        const bool by_run = hi_rows->lo.size() == 0;
        std::vector<Pair> links;
        bool edge_counted = false;
        for (std::size_t k = 0; k < hi_rows->hi.spans.size(); ++k) {
            const Keys hi = hi_rows->hi.spans[k], cluster = hi_rows->cluster.spans[k];
            const std::span<const std::uint8_t> tag = hi_rows->tag.spans[k];
            const Keys lo = by_run ? Keys() : hi_rows->lo.spans[k];
            for (std::size_t i = 0; i < hi.size(); ++i) {
                if (tag[i] & kDegree) edge_counted = false;
                if (!(tag[i] & kCluster)) continue;
                const auto found = row_of.find(std::pair{hi[i], cluster[i]});
                if (found == row_of.end()) continue;
                ++p[kInternal][found->second];
                if (!by_run) links.push_back({lo[i], hi[i]});
                out.covered_links += edge_counted || !by_run ? 0 : 1;
                edge_counted = true;
            }
        }
        if (!by_run) {
            sort_distinct(links);
            out.covered_links = links.size();
        }
    }

    const Routing routing = route(p[kClusterId], parts);
    out.partials.reserve(kPartialColumns);
    for (const Column& column : p) out.partials.push_back(gathered(column, routing));
    out.partial_offsets = routing.offsets;
    return out;
}

ClusterSide cluster_side(const PartialKeys& in, std::uint64_t parts) {
    // Few rows (one per cluster and sending partition): joined first.
    std::vector<Column> p;
    for (const KeyPieces& column : in.partials) p.push_back(concatenated(column));
    std::vector<Pair> rows(p[kClusterId].size());
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = {p[kClusterId][i], i};
    radix_sort(rows, [](const Pair& r) { return r.a; });

    ClusterSide out;
    Column singles;
    for_each_run(
        rows.size(), [&](std::size_t i) { return rows[i].a; },
        [&](std::size_t first, std::size_t last) {
            std::uint64_t n = 0, vol = 0, mcd = kNone, minnode = kNone, loops = 0, internal = 0;
            for (std::size_t i = first; i < last; ++i) {
                const std::size_t r = rows[i].b;
                n += p[kN][r];
                vol += p[kVol][r];
                mcd = std::min(mcd, p[kMcd][r]);
                minnode = std::min(minnode, p[kMinNode][r]);
                loops += p[kLoops][r];
                internal += p[kInternal][r];
            }
            if (n == 1) singles.push_back(minnode);
            if (n < 2) return;
            const std::uint64_t inside = internal * 2 + loops;
            out.cluster.push_back(rows[first].a);
            out.n.push_back(n);
            out.inside.push_back(inside);
            out.c.push_back(vol - inside);
            out.mcd.push_back(mcd);
            out.vol.push_back(vol);
        });
    const Routing routing = route(singles, parts);
    out.singles = gathered(singles, routing);
    out.single_offsets = routing.offsets;

    // Unknown lines by (cluster, pos): sorted by pos, then stably by cluster.
    std::vector<Pair> lines;
    lines.reserve(in.unknown_cluster.size());
    for (std::size_t k = 0; k < in.unknown_cluster.spans.size(); ++k) {
        const Keys cluster = in.unknown_cluster.spans[k], pos = in.unknown_pos.spans[k];
        for (std::size_t i = 0; i < cluster.size(); ++i) lines.push_back({cluster[i], pos[i]});
    }
    radix_sort(lines, [](const Pair& l) { return l.b; });
    radix_sort(lines, [](const Pair& l) { return l.a; });
    for_each_run(
        lines.size(), [&](std::size_t i) { return lines[i].a; },
        [&](std::size_t first, std::size_t last) {
            if (last - first < 2) return;
            out.unresolved_cluster.push_back(lines[first].a);
            out.unresolved_pos.push_back(lines[first + 1].b);
        });
    return out;
}

}  // namespace quelmar::partition
