// The partition joins against a plain model: run over any number of
// partitions as the Dask path runs them (routed rows concatenated at their
// destination), lo_side -> degrees -> node_side -> cluster_side must give
// each node its degree, each cluster its members, volume and internal
// edges, counted straight from sets of distinct edges and memberships.

#include "src/partitioned/partition_joins.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>
#include <ranges>
#include <set>
#include <tuple>

namespace quelmar::partitioned {
namespace {

using Edge = std::pair<std::uint64_t, std::uint64_t>;

struct Input {
    Column lo, hi, m_node, m_cluster, m_pos;
};

struct ClusterModel {
    std::uint64_t n = 0, vol = 0, mcd = kNone, minnode = kNone, loops = 0, internal = 0;
};

// Draws keys from a pool (small: edges, memberships and loops repeat) that
// includes 0 and the largest keys; some nodes appear only in memberships.
Input random_input(std::mt19937_64& rng, std::size_t edges, std::size_t lines,
                   std::size_t pool_size = 60) {
    std::vector<std::uint64_t> pool = {0, kNone, kNone - 1};
    for (std::size_t i = 0; i < pool_size; ++i) pool.push_back(rng());
    auto pick = [&] { return pool[rng() % pool.size()]; };
    Input in;
    for (std::size_t i = 0; i < edges; ++i) {
        const std::uint64_t a = pick(), b = rng() % 10 == 0 ? a : pick();
        in.lo.push_back(std::min(a, b));
        in.hi.push_back(std::max(a, b));
    }
    for (std::size_t i = 0; i < lines; ++i) {
        in.m_node.push_back(rng() % 8 == 0 ? rng() : pick());  // some unknown nodes
        in.m_cluster.push_back(rng() % 12);
        in.m_pos.push_back(i);
    }
    return in;
}

// Rows [offsets[p], offsets[p + 1]) of a routed column.
template <class T>
std::span<const T> group(const std::vector<T>& column, const Column& offsets, std::size_t p) {
    return std::span<const T>(column).subspan(offsets[p], offsets[p + 1] - offsets[p]);
}

template <class T>
void append(std::vector<T>& to, std::span<const T> rows) {
    to.insert(to.end(), rows.begin(), rows.end());
}

// What the whole Dask path keeps, the partitions' outputs put together.
struct Joined {
    std::map<std::uint64_t, std::pair<std::uint64_t, std::uint64_t>> degree;  // deg, loop
    std::map<std::uint64_t, std::array<std::uint64_t, 5>> counts;  // n, inside, c, mcd, vol
    std::multiset<std::uint64_t> singles;
    std::map<std::uint64_t, std::uint64_t> unresolved;                          // cluster -> pos
    std::map<std::uint64_t, std::pair<std::uint64_t, std::uint64_t>> coverage;  // clusters, loop
    std::uint64_t links = 0;
};

// The columns cut in two pieces, as two senders would send them.
KeyPieces halves(const Column& column) {
    const Keys all(column);
    return std::vector<Keys>{all.first(column.size() / 2), all.subspan(column.size() / 2)};
}

// The path over `parts` partitions as the tasks run it: inputs routed by
// node, every routed output read at its destination as one piece per
// source, in source order. reordered: the rows carry lo, and each
// destination gets its rows joined and reversed (a transport that keeps no
// order).
Joined join(const Input& in, Selection selected, std::uint64_t parts, bool with_hi_rows = true,
            bool reordered = false) {
    std::vector<Input> at(parts);
    const Routing edges = route(in.lo, parts), lines = route(in.m_node, parts);
    for (std::uint64_t p = 0; p < parts; ++p) {
        for (std::size_t r = edges.offsets[p]; r < edges.offsets[p + 1]; ++r) {
            at[p].lo.push_back(in.lo[edges.order[r]]);
            at[p].hi.push_back(in.hi[edges.order[r]]);
        }
        for (std::size_t r = lines.offsets[p]; r < lines.offsets[p + 1]; ++r) {
            at[p].m_node.push_back(in.m_node[lines.order[r]]);
            at[p].m_cluster.push_back(in.m_cluster[lines.order[r]]);
            at[p].m_pos.push_back(in.m_pos[lines.order[r]]);
        }
    }
    std::vector<LoSide> lo;
    for (const Input& i : at)
        lo.push_back(lo_side(halves(i.lo), halves(i.hi), halves(i.m_node), halves(i.m_cluster),
                             selected, parts, reordered));
    Joined j;
    std::vector<NodeSide> sides;
    for (std::uint64_t p = 0; p < parts; ++p) {
        HiRowKeys rows;
        for (const LoSide& s : lo) {
            rows.hi.spans.push_back(group(s.hi_rows.hi, s.hi_rows.offsets, p));
            rows.cluster.spans.push_back(group(s.hi_rows.cluster, s.hi_rows.offsets, p));
            rows.tag.spans.push_back(group(s.hi_rows.tag, s.hi_rows.offsets, p));
        }
        Column hi, cluster, row_lo;
        std::vector<std::uint8_t> tag;
        if (reordered) {
            for (const LoSide& s : lo) {
                append(hi, group(s.hi_rows.hi, s.hi_rows.offsets, p));
                append(cluster, group(s.hi_rows.cluster, s.hi_rows.offsets, p));
                append(tag, group(s.hi_rows.tag, s.hi_rows.offsets, p));
                append(row_lo, group(s.hi_rows.lo, s.hi_rows.offsets, p));
            }
            std::reverse(hi.begin(), hi.end());
            std::reverse(cluster.begin(), cluster.end());
            std::reverse(tag.begin(), tag.end());
            std::reverse(row_lo.begin(), row_lo.end());
            rows = HiRowKeys{hi, cluster, tag, row_lo};
        }
        const NodeColumns& l = lo[p].nodes;
        const NodeColumns nodes = degrees({l.node, l.deg, l.loop}, rows.hi, rows.tag);
        for (std::size_t k = 0; k < nodes.node.size(); ++k) {
            EXPECT_EQ(partition_of(nodes.node[k], parts), p);
            EXPECT_TRUE(k == 0 || nodes.node[k - 1] < nodes.node[k]);
            j.degree[nodes.node[k]] = {nodes.deg[k], nodes.loop[k]};
        }
        std::optional<HiRowKeys> joined;
        if (with_hi_rows) joined = rows;
        sides.push_back(
            node_side({nodes.node, nodes.deg, nodes.loop},
                      {halves(at[p].m_node), halves(at[p].m_cluster), halves(at[p].m_pos)},
                      selected, joined, parts));
        const NodeSide& s = sides.back();
        j.links += s.covered_links;
        for (std::size_t k = 0; k < s.node.size(); ++k) {
            j.coverage[s.node[k]] = {s.clusters[k], s.loop[k]};
        }
    }
    for (std::uint64_t p = 0; p < parts; ++p) {
        std::vector<KeyPieces> partials(kPartialColumns);
        KeyPieces unknown_cluster, unknown_pos;
        for (const NodeSide& s : sides) {
            for (int c = 0; c < kPartialColumns; ++c) {
                partials[c].spans.push_back(group(s.partials[c], s.partial_offsets, p));
            }
            unknown_cluster.spans.push_back(group(s.unknown_cluster, s.unknown_offsets, p));
            unknown_pos.spans.push_back(group(s.unknown_pos, s.unknown_offsets, p));
        }
        const ClusterSide c = cluster_side({partials, unknown_cluster, unknown_pos}, parts);
        for (std::size_t k = 0; k < c.cluster.size(); ++k) {
            EXPECT_EQ(partition_of(c.cluster[k], parts), p);
            j.counts[c.cluster[k]] = {c.n[k], c.inside[k], c.c[k], c.mcd[k], c.vol[k]};
        }
        for (std::size_t k = 0; k < c.unresolved_cluster.size(); ++k) {
            j.unresolved[c.unresolved_cluster[k]] = c.unresolved_pos[k];
        }
        for (std::uint64_t q = 0; q < parts; ++q) {
            for (const std::uint64_t node : group(c.singles, c.single_offsets, q)) {
                EXPECT_EQ(partition_of(node, parts), q);
                j.singles.insert(node);
            }
        }
    }
    return j;
}

void check_against_model(const Input& in, const std::set<std::uint64_t>* selected,
                         std::uint64_t parts, bool reordered = false) {
    std::vector<std::uint64_t> ids;
    if (selected) ids.assign(selected->begin(), selected->end());
    const Joined j = join(in, selected ? Selection(ids) : std::nullopt, parts, true, reordered);

    const std::set<Edge> edges = [&] {
        std::set<Edge> s;
        for (std::size_t i = 0; i < in.lo.size(); ++i) s.insert({in.lo[i], in.hi[i]});
        return s;
    }();
    std::map<std::uint64_t, std::pair<std::uint64_t, std::uint64_t>> degree;  // deg, loop
    for (const auto& [a, b] : edges) {
        degree[a].first++;
        if (a == b) degree[a].second = 1;
        else degree[b].first++;
    }
    EXPECT_EQ(j.degree, degree);

    std::set<Edge> members;  // (node, cluster), known and selected
    std::map<std::uint64_t, std::set<std::uint64_t>> unknown;  // cluster -> positions
    for (std::size_t k = 0; k < in.m_node.size(); ++k) {
        if (!degree.contains(in.m_node[k])) unknown[in.m_cluster[k]].insert(in.m_pos[k]);
        else if (!selected || selected->contains(in.m_cluster[k]))
            members.insert({in.m_node[k], in.m_cluster[k]});
    }
    std::map<std::uint64_t, ClusterModel> clusters;
    std::map<std::uint64_t, std::pair<std::uint64_t, std::uint64_t>> coverage;
    for (const auto& [node, cluster] : members) {
        ClusterModel& c = clusters[cluster];
        const auto [deg, loop] = degree[node];
        c.n++, c.vol += deg, c.loops += loop;
        coverage[node] = {coverage[node].first + 1, loop};
        c.mcd = std::min(c.mcd, deg), c.minnode = std::min(c.minnode, node);
    }
    std::uint64_t links = 0;
    for (const auto& [a, b] : edges) {
        bool covered = false;
        for (auto& [id, c] : clusters) {
            if (a != b && members.contains({a, id}) && members.contains({b, id})) {
                c.internal++, covered = true;
            }
        }
        links += covered;
    }
    std::map<std::uint64_t, std::array<std::uint64_t, 5>> counts;
    std::multiset<std::uint64_t> singles;
    for (const auto& [id, c] : clusters) {
        if (c.n == 1) singles.insert(c.minnode);
        const std::uint64_t inside = 2 * c.internal + c.loops;
        if (c.n >= 2) counts[id] = {c.n, inside, c.vol - inside, c.mcd, c.vol};
    }
    std::map<std::uint64_t, std::uint64_t> unresolved;
    for (const auto& [id, positions] : unknown) {
        if (positions.size() >= 2) unresolved[id] = *std::next(positions.begin());
    }
    EXPECT_EQ(j.counts, counts);
    EXPECT_EQ(j.singles, singles);
    EXPECT_EQ(j.unresolved, unresolved);
    EXPECT_EQ(j.coverage, coverage);
    EXPECT_EQ(j.links, links);
}

TEST(PartitionJoinsTest, MatchModelOnRandomPartitions) {
    std::mt19937_64 rng(7);
    const std::set<std::uint64_t> some = {0, 3, 4, 11};
    // Sizes on both sides of the radix sort's small-input cutoff.
    for (const std::size_t edges : {0, 1, 40, 3000}) {
        for (int round = 0; round < 3; ++round) {
            const Input in = random_input(rng, edges, edges / 2 + 5);
            for (const std::uint64_t parts : {1, 3, 8}) {
                check_against_model(in, nullptr, parts);
                check_against_model(in, &some, parts);
            }
            check_against_model(in, &some, 3, true);
            check_against_model(in, nullptr, 2, true);
        }
    }
    // Many nodes of few edges each: the sorts' small buckets.
    const Input sparse = random_input(rng, 6000, 3000, 8000);
    check_against_model(sparse, nullptr, 1);
    check_against_model(sparse, &some, 2);
}

//   1 --- 2      clusters: 7 = {1, 2, 3}, 8 = {3, 4}; 3 has a self-loop,
//    \   /       the edge 1-2 is given twice.
//     \ /
//      3 --- 4
TEST(PartitionJoinsTest, RouteGroupsByPartitionKeepingOrder) {
    const Column keys = {kNone, 0, 5, kNone - 1, UINT64_MAX / 2, 1, UINT64_MAX / 2 + 1};
    for (const std::uint64_t parts : {1, 2, 3}) {
        const Routing r = route(keys, parts);
        ASSERT_EQ(r.offsets.size(), parts + 1);
        EXPECT_EQ(r.offsets.front(), 0u);
        EXPECT_EQ(r.offsets.back(), keys.size());
        for (std::uint64_t p = 0; p < parts; ++p) {
            for (std::size_t i = r.offsets[p]; i < r.offsets[p + 1]; ++i) {
                EXPECT_EQ(partition_of(keys[r.order[i]], parts), p);
                EXPECT_TRUE(i == r.offsets[p] || r.order[i - 1] < r.order[i]);
            }
        }
    }
    EXPECT_EQ(route(keys, 1).order, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6}));
}

TEST(PartitionJoinsTest, LesserEndsSpreadEvenly) {
    // Edges are routed by their lesser end: its partitions must not follow
    // the keys' order.
    std::mt19937_64 rng(11);
    constexpr std::uint64_t kParts = 8, kEdges = 80000;
    std::array<std::uint64_t, kParts> count{};
    for (std::uint64_t i = 0; i < kEdges; ++i)
        ++count[partition_of(std::min(rng(), rng()), kParts)];
    for (const std::uint64_t c : count) {
        EXPECT_NEAR(static_cast<double>(c), kEdges / kParts, kEdges / kParts * 0.05);
    }
}

//   1 --- 2      clusters: 7 = {1, 2, 3}, 8 = {3, 4}; 3 has a self-loop,
//    \   /       the edge 1-2 is given twice.
//     \ /
//      3 --- 4
TEST(PartitionJoinsTest, HiRowsCarryEachSelectedClusterOfLoOnce) {
    const Column lo = {1, 1, 1, 2, 3, 3}, hi = {2, 2, 3, 3, 3, 4};
    const Column m_node = {1, 2, 3, 3, 4, 3}, m_cluster = {7, 7, 7, 8, 8, 7};
    const LoSide side = lo_side(lo, hi, m_node, m_cluster, std::nullopt, 1);
    EXPECT_EQ(side.nodes.node, (Column{1, 2, 3}));
    EXPECT_EQ(side.nodes.deg, (Column{2, 1, 2}));
    EXPECT_EQ(side.nodes.loop, (Column{0, 0, 1}));
    // One run per edge, its kDegree row first: 1-2, 1-3, 2-3, 3-4 (in 7 and 8).
    constexpr std::uint8_t kBoth = kDegree | kCluster;
    EXPECT_EQ(side.hi_rows.hi, (Column{2, 3, 3, 4, 4}));
    EXPECT_EQ(side.hi_rows.cluster, (Column{7, 7, 7, 7, 8}));
    EXPECT_EQ(side.hi_rows.tag, (std::vector<std::uint8_t>{kBoth, kBoth, kBoth, kBoth, kCluster}));
    EXPECT_EQ(side.hi_rows.offsets, (Column{0, 5}));

    const Column only_8 = {8};
    const LoSide selected = lo_side(lo, hi, m_node, m_cluster, Selection(only_8), 1);
    // 1 and 2 are in no selected cluster: one bare row per edge.
    EXPECT_EQ(selected.hi_rows.cluster, (Column{0, 0, 0, 8}));
    EXPECT_EQ(selected.hi_rows.tag, (std::vector<std::uint8_t>{kDegree, kDegree, kDegree, kBoth}));
}

TEST(PartitionJoinsTest, EmptyInputsGiveEmptyResults) {
    const Joined j = join({}, std::nullopt, 3);
    EXPECT_TRUE(j.degree.empty());
    EXPECT_TRUE(j.counts.empty());
    EXPECT_TRUE(j.coverage.empty());
    EXPECT_EQ(j.links, 0u);
}

TEST(PartitionJoinsTest, WithoutHiRowsNoInternalEdges) {
    std::mt19937_64 rng(3);
    const Input in = random_input(rng, 200, 100);
    const Joined j = join(in, std::nullopt, 2, false);
    EXPECT_FALSE(j.counts.empty());
    for (const auto& [id, count] : j.counts) {
        EXPECT_EQ(count[1] + count[2], count[4]) << "inside + c == vol";
    }
    std::uint64_t loops = 0, inside = 0;
    for (const auto& [id, count] : j.counts) inside += count[1];
    for (const auto& [node, cover] : j.coverage) loops += cover.first * cover.second;
    EXPECT_EQ(inside, loops) << "only self-loops are inside";
    EXPECT_EQ(j.links, 0u);
}

}  // namespace
}  // namespace quelmar::partitioned
