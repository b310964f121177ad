// route and the joins of partition_joins.h. Single-threaded: a Dask
// worker runs one such task per core. The keys are scrambled, so their bits
// are evenly spread, and a sort into buckets by their high bits beats
// comparison sorts and radix sorts on the large arrays.

#include "src/partitioned/partition_joins.h"

#include <absl/container/flat_hash_map.h>

#include <algorithm>
#include <array>
#include <bit>
#include <utility>

namespace quelmar::partitioned {
namespace {

// The records the joins sort, each named for what its two keys hold.
struct Edge {
    std::uint64_t lo, hi;
    friend bool operator==(const Edge&, const Edge&) = default;
};
struct Membership {
    std::uint64_t node, cluster;
    friend bool operator==(const Membership&, const Membership&) = default;
};
struct NodeDegree {
    std::uint64_t node, degree;
};
// A known membership: its cluster, and its node as an index into the
// partition's graph nodes.
struct KnownMembership {
    std::uint64_t cluster, node_at;
    friend bool operator==(const KnownMembership&, const KnownMembership&) = default;
};
// A cluster's row among the partials of one partition.
struct ClusterRow {
    std::uint64_t cluster, row;
};
// A membership line naming a node the graph lacks: its cluster and position.
struct UnknownLine {
    std::uint64_t cluster, pos;
};

// Sorts a bucket: by insertion while it is small, as buckets of evenly
// spread keys are; std::sort past that, so bunched keys cost n log n.
template <class T, class Less>
void sort_bucket(T* first, T* last, Less less) {
    constexpr std::ptrdiff_t kSmall = 32;
    if (last - first > kSmall) {
        std::sort(first, last, less);
        return;
    }
    for (T* i = first + 1; i < last; ++i) {
        const T item = *i;
        T* to = i;
        for (; to > first && less(item, *(to - 1)); --to) *to = *(to - 1);
        *to = item;
    }
}

// Sorts items by `less`, which orders them by key_of(item) (a uint64) first:
// one pass scatters them into about n / 8 buckets by the high bits of the
// key's distance from the least key, then each bucket is sorted alone.
// Scrambled keys spread evenly, so the items are moved once where a radix
// sort of 64-bit keys moves them six times.
template <class T, class KeyOf, class Less>
void bucket_sort(std::vector<T>& items, KeyOf key_of, Less less) {
    const std::size_t n = items.size();
    if (n < 1024) {  // the buckets would cost more than the sort
        std::sort(items.begin(), items.end(), less);
        return;
    }
    std::uint64_t least = UINT64_MAX, most = 0;
    for (const T& item : items) {
        least = std::min(least, key_of(item));
        most = std::max(most, key_of(item));
    }
    const int spread = static_cast<int>(std::bit_width(most - least));
    const int shift = std::max(0, spread - static_cast<int>(std::bit_width(n / 8)));
    const std::size_t buckets = static_cast<std::size_t>((most - least) >> shift) + 1;
    std::vector<std::size_t> start(buckets + 1, 0);
    for (const T& item : items) ++start[((key_of(item) - least) >> shift) + 1];
    for (std::size_t b = 0; b < buckets; ++b) start[b + 1] += start[b];
    std::vector<std::size_t> next(start.begin(), start.end() - 1);
    std::vector<T> sorted(n);
    for (const T& item : items) sorted[next[(key_of(item) - least) >> shift]++] = item;
    for (std::size_t b = 0; b < buckets; ++b) {
        sort_bucket(sorted.data() + start[b], sorted.data() + start[b + 1], less);
    }
    items.swap(sorted);
}

// Keys and orders by a record's fields, as types so that the sorts inline
// them.
template <auto field>
struct KeyOf {
    template <class T>
    std::uint64_t operator()(const T& x) const {
        return x.*field;
    }
};
template <auto first>
struct By {
    template <class T>
    bool operator()(const T& x, const T& y) const {
        return x.*first < y.*first;
    }
};
template <auto first, auto second>
struct ByThen {
    template <class T>
    bool operator()(const T& x, const T& y) const {
        return x.*first < y.*first || (x.*first == y.*first && x.*second < y.*second);
    }
};

// Sorts records by (first, second) and drops repeats.
template <auto first, auto second, class T>
void sort_distinct(std::vector<T>& records) {
    bucket_sort(records, KeyOf<first>(), ByThen<first, second>());
    records.erase(std::unique(records.begin(), records.end()), records.end());
}

bool is_selected(const Selection& selected, std::uint64_t cluster) {
    return !selected || std::binary_search(selected->begin(), selected->end(), cluster);
}

// The distinct selected (node, cluster) memberships, sorted.
std::vector<Membership> selected_memberships(const KeyPieces& node, const KeyPieces& cluster,
                                             const Selection& selected) {
    std::vector<Membership> pairs;
    pairs.reserve(node.size());
    for (std::size_t k = 0; k < node.spans.size(); ++k) {
        const Keys n = node.spans[k], c = cluster.spans[k];
        for (std::size_t i = 0; i < n.size(); ++i) {
            if (is_selected(selected, c[i])) pairs.push_back({n[i], c[i]});
        }
    }
    sort_distinct<&Membership::node, &Membership::cluster>(pairs);
    return pairs;
}

// The pieces of a column one after the other.
Column concatenated(const KeyPieces& pieces) {
    Column out;
    out.reserve(pieces.size());
    for (const Keys piece : pieces.spans) out.insert(out.end(), piece.begin(), piece.end());
    return out;
}

// A bit per slot, set for the (node, cluster) pairs added: may_hold is
// false for most pairs never added. It stays in the caches where the table
// of memberships does not, and about two thirds of the hi-side rows name a
// cluster their hi is not in.
class MembershipFilter {
public:
    explicit MembershipFilter(std::size_t pairs)
        : shift_(64 - std::max(6, static_cast<int>(std::bit_width(pairs * 8)))),
          bits_((std::uint64_t{1} << (64 - shift_)) / 64, 0) {}
    void add(std::uint64_t node, std::uint64_t cluster) {
        const std::uint64_t slot = slot_of(node, cluster);
        bits_[slot / 64] |= std::uint64_t{1} << (slot % 64);
    }
    bool may_hold(std::uint64_t node, std::uint64_t cluster) const {
        const std::uint64_t slot = slot_of(node, cluster);
        return (bits_[slot / 64] >> (slot % 64)) & 1;
    }

private:
    std::uint64_t slot_of(std::uint64_t node, std::uint64_t cluster) const {
        return ((node + cluster * 0x9E3779B97F4A7C15ULL) * 0xBF58476D1CE4E5B9ULL) >> shift_;
    }
    int shift_;
    std::vector<std::uint64_t> bits_;
};

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
    std::vector<Edge> edges(lo.size());
    std::size_t filled = 0;
    for (std::size_t k = 0; k < lo.spans.size(); ++k) {
        const Keys a = lo.spans[k], b = hi.spans[k];
        for (std::size_t i = 0; i < a.size(); ++i) edges[filled++] = {a[i], b[i]};
    }
    sort_distinct<&Edge::lo, &Edge::hi>(edges);

    const std::vector<Membership> members = selected_memberships(m_node, m_cluster, selected);
    // visit(first, last, member_first, member_last) for each lo node: its
    // edges [first, last) and its selected memberships.
    auto for_each_node = [&](auto visit) {
        std::size_t at = 0;
        for_each_run(
            edges.size(), [&](std::size_t i) { return edges[i].lo; },
            [&](std::size_t first, std::size_t last) {
                const std::uint64_t node = edges[first].lo;
                while (at < members.size() && members[at].node < node) ++at;
                std::size_t end = at;
                while (end < members.size() && members[end].node == node) ++end;
                visit(first, last, at, end);
                at = end;
            });
    };

    LoSide out;
    NodeColumns& nodes = out.nodes;
    HiRows& rows = out.hi_rows;
    rows.offsets.assign(parts + 1, 0);
    for_each_node(
        [&](std::size_t first, std::size_t last, std::size_t m_first, std::size_t m_last) {
            nodes.node.push_back(edges[first].lo);
            nodes.deg.push_back(last - first);
            // sorted by hi, a self-loop (hi == lo, the least hi) comes first
            const bool loop = edges[first].lo == edges[first].hi;
            nodes.loop.push_back(loop ? 1 : 0);
            const std::size_t per_edge = std::max<std::size_t>(m_last - m_first, 1);
            for (std::size_t e = first + (loop ? 1 : 0); e < last; ++e) {
                rows.offsets[partition_of(edges[e].hi, parts) + 1] += per_edge;
            }
        });
    for (std::uint64_t p = 0; p < parts; ++p) rows.offsets[p + 1] += rows.offsets[p];

    const std::size_t total = rows.offsets[parts];
    rows.hi.resize(total);
    rows.cluster.resize(total);
    rows.tag.resize(total);
    if (with_lo) rows.lo.resize(total);
    Column next(rows.offsets.begin(), rows.offsets.end() - 1);
    for_each_node(
        [&](std::size_t first, std::size_t last, std::size_t m_first, std::size_t m_last) {
            const std::size_t count = m_last - m_first;
            for (std::size_t e = first; e < last; ++e) {
                if (edges[e].lo == edges[e].hi) continue;
                std::uint64_t& row = next[partition_of(edges[e].hi, parts)];
                for (std::size_t k = 0; k < std::max<std::size_t>(count, 1); ++k, ++row) {
                    rows.hi[row] = edges[e].hi;
                    rows.cluster[row] = count ? members[m_first + k].cluster : 0;
                    rows.tag[row] = (count ? kCluster : 0) | (k == 0 ? kDegree : 0);
                    if (with_lo) rows.lo[row] = edges[e].lo;
                }
            }
        });
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
    std::vector<NodeDegree> hi_nodes;
    hi_nodes.reserve(counted.size());
    for (const auto& [node, count] : counted) hi_nodes.push_back({node, count});
    bucket_sort(hi_nodes, KeyOf<&NodeDegree::node>(), By<&NodeDegree::node>());

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
            (l < lo_nodes.node.size() && lo_nodes.node[l] < hi_nodes[h].node)) {
            add(lo_nodes.node[l], lo_nodes.deg[l], lo_nodes.loop[l]);
            ++l;
        } else if (l == lo_nodes.node.size() || hi_nodes[h].node < lo_nodes.node[l]) {
            add(hi_nodes[h].node, hi_nodes[h].degree, 0);
            ++h;
        } else {
            add(lo_nodes.node[l], lo_nodes.deg[l] + hi_nodes[h].degree, lo_nodes.loop[l]);
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
    bucket_sort(
        lines, [](const Line& l) { return l.node; },
        [](const Line& x, const Line& y) { return x.node < y.node; });

    NodeSide out;
    Column unknown_cluster, unknown_pos;
    // Known selected memberships, by node.
    std::vector<KnownMembership> known;
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

    // Distinct clusters within each node's run.
    for_each_run(
        known.size(), [&](std::size_t i) { return known[i].node_at; },
        [&](std::size_t first, std::size_t last) {
            std::sort(known.begin() + first, known.begin() + last, By<&KnownMembership::cluster>());
        });
    known.erase(std::unique(known.begin(), known.end()), known.end());
    for_each_run(
        known.size(), [&](std::size_t i) { return known[i].node_at; },
        [&](std::size_t first, std::size_t last) {
            out.node.push_back(graph.node[known[first].node_at]);
            out.clusters.push_back(last - first);
            out.loop.push_back(graph.loop[known[first].node_at]);
        });

    bucket_sort(known, KeyOf<&KnownMembership::cluster>(), By<&KnownMembership::cluster>());
    std::vector<Column> p(kPartialColumns);
    for_each_run(
        known.size(), [&](std::size_t i) { return known[i].cluster; },
        [&](std::size_t first, std::size_t last) {
            std::uint64_t vol = 0, mcd = kNone, minnode = kNone, loops = 0;
            for (std::size_t i = first; i < last; ++i) {
                const std::size_t at = known[i].node_at;
                vol += graph.deg[at];
                mcd = std::min(mcd, graph.deg[at]);
                minnode = std::min(minnode, graph.node[at]);
                loops += graph.loop[at];
            }
            p[kClusterId].push_back(known[first].cluster);
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
        MembershipFilter filter(known.size());
        for (std::size_t i = 0, row = 0; i < known.size(); ++i) {
            if (i > 0 && known[i].cluster != known[i - 1].cluster) ++row;
            const std::uint64_t node = graph.node[known[i].node_at];
            row_of.emplace(std::pair{node, known[i].cluster}, row);
            filter.add(node, known[i].cluster);
        }
        // Without lo, an edge's rows are consecutive, its kDegree row first;
        // with it, the internal edges are told apart by (lo, hi).
        const bool by_run = hi_rows->lo.size() == 0;
        std::vector<Edge> links;
        bool edge_counted = false;
        for (std::size_t k = 0; k < hi_rows->hi.spans.size(); ++k) {
            const Keys hi = hi_rows->hi.spans[k], cluster = hi_rows->cluster.spans[k];
            const std::span<const std::uint8_t> tag = hi_rows->tag.spans[k];
            const Keys lo = by_run ? Keys() : hi_rows->lo.spans[k];
            for (std::size_t i = 0; i < hi.size(); ++i) {
                if (tag[i] & kDegree) edge_counted = false;
                if (!(tag[i] & kCluster) || !filter.may_hold(hi[i], cluster[i])) continue;
                const auto found = row_of.find(std::pair{hi[i], cluster[i]});
                if (found == row_of.end()) continue;
                ++p[kInternal][found->second];
                if (!by_run) links.push_back({lo[i], hi[i]});
                out.covered_links += edge_counted || !by_run ? 0 : 1;
                edge_counted = true;
            }
        }
        if (!by_run) {
            sort_distinct<&Edge::lo, &Edge::hi>(links);
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
    std::vector<ClusterRow> rows(p[kClusterId].size());
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = {p[kClusterId][i], i};
    bucket_sort(rows, KeyOf<&ClusterRow::cluster>(), By<&ClusterRow::cluster>());

    ClusterSide out;
    Column singles;
    for_each_run(
        rows.size(), [&](std::size_t i) { return rows[i].cluster; },
        [&](std::size_t first, std::size_t last) {
            std::uint64_t n = 0, vol = 0, mcd = kNone, minnode = kNone, loops = 0, internal = 0;
            for (std::size_t i = first; i < last; ++i) {
                const std::size_t r = rows[i].row;
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
            out.cluster.push_back(rows[first].cluster);
            out.n.push_back(n);
            out.inside.push_back(inside);
            out.c.push_back(vol - inside);
            out.mcd.push_back(mcd);
            out.vol.push_back(vol);
        });
    const Routing routing = route(singles, parts);
    out.singles = gathered(singles, routing);
    out.single_offsets = routing.offsets;

    // Unknown lines by (cluster, pos).
    std::vector<UnknownLine> lines;
    lines.reserve(in.unknown_cluster.size());
    for (std::size_t k = 0; k < in.unknown_cluster.spans.size(); ++k) {
        const Keys cluster = in.unknown_cluster.spans[k], pos = in.unknown_pos.spans[k];
        for (std::size_t i = 0; i < cluster.size(); ++i) lines.push_back({cluster[i], pos[i]});
    }
    bucket_sort(lines, KeyOf<&UnknownLine::cluster>(),
                ByThen<&UnknownLine::cluster, &UnknownLine::pos>());
    for_each_run(
        lines.size(), [&](std::size_t i) { return lines[i].cluster; },
        [&](std::size_t first, std::size_t last) {
            if (last - first < 2) return;
            out.unresolved_cluster.push_back(lines[first].cluster);
            out.unresolved_pos.push_back(lines[first + 1].pos);
        });
    return out;
}

}  // namespace quelmar::partitioned
