// The partition joins against a plain model: with one partition holding
// every node, lo_side -> degrees -> node_side must give each node its
// degree, each cluster its members, volume and internal edges, counted
// straight from sets of distinct edges and memberships.

#include "src/quelmar/partition_joins.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <ranges>
#include <set>
#include <tuple>

namespace quelmar::partition {
namespace {

using Edge = std::pair<std::uint64_t, std::uint64_t>;

struct Input {
    Column lo, hi, m_node, m_cluster, m_pos;
};

struct ClusterModel {
    std::uint64_t n = 0, vol = 0, mcd = kNone, minnode = kNone, loops = 0, internal = 0;
};

// Draws keys from a small pool (so edges, memberships and loops repeat) that
// includes 0 and the largest keys; `extra` nodes appear only in memberships.
Input random_input(std::mt19937_64& rng, std::size_t edges, std::size_t lines) {
    std::vector<std::uint64_t> pool = {0, kNone, kNone - 1};
    for (int i = 0; i < 60; ++i) pool.push_back(rng());
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

struct Joined {
    LoSide lo;
    NodeColumns nodes;
    NodeSide side;
};

Joined join(const Input& in, Selection selected, bool with_hi_rows = true) {
    Joined j{lo_side(in.lo, in.hi, in.m_node, in.m_cluster, selected), {}, {}};
    const HiRows& h = j.lo.hi_rows;
    j.nodes = degrees({j.lo.nodes.node, j.lo.nodes.deg, j.lo.nodes.loop}, h.hi, h.tag);
    std::optional<HiRowKeys> rows;
    if (with_hi_rows) rows = HiRowKeys{h.hi, h.lo, h.cluster, h.tag};
    j.side = node_side({j.nodes.node, j.nodes.deg, j.nodes.loop},
                       {in.m_node, in.m_cluster, in.m_pos}, selected, rows);
    return j;
}

void check_against_model(const Input& in, const std::set<std::uint64_t>* selected) {
    std::vector<std::uint64_t> ids;
    if (selected) ids.assign(selected->begin(), selected->end());
    const Joined j = join(in, selected ? Selection(ids) : std::nullopt);

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
    ASSERT_EQ(j.nodes.node.size(), degree.size());
    std::size_t i = 0;
    for (const auto& [node, dl] : degree) {
        EXPECT_EQ(j.nodes.node[i], node);
        EXPECT_EQ(j.nodes.deg[i], dl.first);
        EXPECT_EQ(j.nodes.loop[i], dl.second);
        ++i;
    }

    std::set<Edge> members;  // (node, cluster), known and selected
    std::multiset<std::pair<std::uint64_t, std::uint64_t>> unknown;  // (cluster, pos)
    for (std::size_t k = 0; k < in.m_node.size(); ++k) {
        if (!degree.contains(in.m_node[k])) unknown.insert({in.m_cluster[k], in.m_pos[k]});
        else if (!selected || selected->contains(in.m_cluster[k]))
            members.insert({in.m_node[k], in.m_cluster[k]});
    }
    std::map<std::uint64_t, ClusterModel> clusters;
    std::map<std::uint64_t, std::uint64_t> per_node;
    for (const auto& [node, cluster] : members) {
        ClusterModel& c = clusters[cluster];
        const auto [deg, loop] = degree[node];
        c.n++, c.vol += deg, c.loops += loop, per_node[node]++;
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

    const auto& p = j.side.partials;
    std::map<std::uint64_t, ClusterModel> got;
    std::multiset<std::pair<std::uint64_t, std::uint64_t>> got_unknown;
    for (std::size_t r = 0; r < p[kClusterId].size(); ++r) {
        if (p[kUnknown][r]) {
            EXPECT_EQ(p[kN][r] + p[kVol][r] + p[kInternal][r], 0u);
            got_unknown.insert({p[kClusterId][r], p[kPos][r]});
            continue;
        }
        EXPECT_FALSE(got.contains(p[kClusterId][r])) << "one member row per cluster";
        got[p[kClusterId][r]] = {p[kN][r],       p[kVol][r],   p[kMcd][r],
                                 p[kMinNode][r], p[kLoops][r], p[kInternal][r]};
    }
    EXPECT_EQ(got_unknown, unknown);
    ASSERT_EQ(got.size(), clusters.size());
    for (const auto& [id, c] : clusters) {
        const ClusterModel& g = got[id];
        EXPECT_EQ(std::tie(g.n, g.vol, g.mcd, g.minnode, g.loops, g.internal),
                  std::tie(c.n, c.vol, c.mcd, c.minnode, c.loops, c.internal))
            << "cluster " << id;
    }
    EXPECT_EQ(j.side.covered_links, links);
    EXPECT_EQ(j.side.node,
              (Column(std::views::keys(per_node).begin(), std::views::keys(per_node).end())));
    for (std::size_t k = 0; k < j.side.node.size(); ++k) {
        EXPECT_EQ(j.side.clusters[k], per_node[j.side.node[k]]);
        EXPECT_EQ(j.side.loop[k], degree[j.side.node[k]].second);
    }
}

TEST(PartitionJoinsTest, MatchModelOnRandomPartitions) {
    std::mt19937_64 rng(7);
    const std::set<std::uint64_t> some = {0, 3, 4, 11};
    // Sizes on both sides of the radix sort's small-input cutoff.
    for (const std::size_t edges : {0, 1, 40, 3000}) {
        for (int round = 0; round < 3; ++round) {
            const Input in = random_input(rng, edges, edges / 2 + 5);
            check_against_model(in, nullptr);
            check_against_model(in, &some);
        }
    }
}

//   1 --- 2      clusters: 7 = {1, 2, 3}, 8 = {3, 4}; 3 has a self-loop,
//    \   /       the edge 1-2 is given twice.
//     \ /
//      3 --- 4
TEST(PartitionJoinsTest, HiRowsCarryEachSelectedClusterOfLoOnce) {
    const Column lo = {1, 1, 1, 2, 3, 3}, hi = {2, 2, 3, 3, 3, 4};
    const Column m_node = {1, 2, 3, 3, 4, 3}, m_cluster = {7, 7, 7, 8, 8, 7};
    const LoSide side = lo_side(lo, hi, m_node, m_cluster, std::nullopt);
    EXPECT_EQ(side.nodes.node, (Column{1, 2, 3}));
    EXPECT_EQ(side.nodes.deg, (Column{2, 1, 2}));
    EXPECT_EQ(side.nodes.loop, (Column{0, 0, 1}));

    std::set<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, int>> rows;
    std::multiset<Edge> counted;
    for (std::size_t r = 0; r < side.hi_rows.hi.size(); ++r) {
        const HiRows& h = side.hi_rows;
        rows.insert({h.hi[r], h.lo[r], h.cluster[r], h.tag[r] & kCluster});
        if (h.tag[r] & kDegree) counted.insert({h.lo[r], h.hi[r]});
    }
    EXPECT_EQ(rows.size(), side.hi_rows.hi.size());
    EXPECT_EQ(rows, (decltype(rows){{2, 1, 7, kCluster},
                                    {3, 1, 7, kCluster},
                                    {3, 2, 7, kCluster},
                                    {4, 3, 7, kCluster},
                                    {4, 3, 8, kCluster}}));
    EXPECT_EQ(counted, (std::multiset<Edge>{{1, 2}, {1, 3}, {2, 3}, {3, 4}}));

    const Column only_8 = {8};
    const LoSide selected = lo_side(lo, hi, m_node, m_cluster, Selection(only_8));
    // 1 and 2 are in no selected cluster: one bare row per edge.
    EXPECT_EQ(selected.hi_rows.cluster, (Column{0, 0, 0, 8}));
    EXPECT_EQ(selected.hi_rows.tag,
              (std::vector<std::uint8_t>{kDegree, kDegree, kDegree, kDegree | kCluster}));
}

TEST(PartitionJoinsTest, EmptyInputsGiveEmptyColumns) {
    const Joined j = join({}, std::nullopt);
    EXPECT_TRUE(j.lo.nodes.node.empty());
    EXPECT_TRUE(j.lo.hi_rows.hi.empty());
    EXPECT_TRUE(j.nodes.node.empty());
    EXPECT_EQ(j.side.partials.size(), std::size_t{kPartialColumns});
    EXPECT_TRUE(j.side.partials[kClusterId].empty());
    EXPECT_EQ(j.side.covered_links, 0u);
}

TEST(PartitionJoinsTest, WithoutHiRowsNoInternalEdges) {
    std::mt19937_64 rng(3);
    const Input in = random_input(rng, 200, 100);
    const Joined j = join(in, std::nullopt, false);
    const Column& internal = j.side.partials[kInternal];
    EXPECT_TRUE(std::all_of(internal.begin(), internal.end(), [](auto v) { return v == 0; }));
    EXPECT_EQ(j.side.covered_links, 0u);
}

}  // namespace
}  // namespace quelmar::partition
