// Agreement measures and match tables against plain twins (agreement_twins.h)
// on random partitions and covers, hand-drawn cases with exact values, and
// values pinned from the reference Python tools. cdlib's f1 is another
// quantity (one direction only, and with overlap its matching counts a node
// in the first community that holds it), so f1 is checked against the twin.

#include <atomic>
#include <cmath>
#include <limits>
#include <random>
#include <stop_token>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "src/agreement/agreement.h"
#include "src/agreement/agreement_table.h"
#include "src/agreement/contingency.h"
#include "src/agreement/match_table.h"
#include "src/agreement/tests/agreement_twins.h"
#include "src/quelmar/tests/test_graphs.h"
#include "src/utils/task_monitor.h"

namespace quelmar::agreement {
namespace {

using testing::ClusterList;

struct Pair {
    SharedClustering a, b;
    Contingency table;
};

// Both clusterings packed against one edgeless graph of `node_count` nodes
// (names equal ids), every cluster selected.
Pair compare(std::uint64_t node_count, const ClusterList& a, const ClusterList& b,
             Uncovered uncovered = Uncovered::kSingletons) {
    auto graph = testing::shared_graph(node_count, {});
    auto packed_a = testing::packed(graph, a), packed_b = testing::packed(graph, b);
    auto all = [](const SharedClustering& c) {
        std::vector<base::ClusterId> ids;
        for (const auto& [id, cluster] : c->clusters) ids.push_back(id);
        return ClusteringHandle::select_ids(c, ids);
    };
    auto table = Contingency::build(all(packed_a), all(packed_b), uncovered);
    EXPECT_TRUE(table.ok());
    return {packed_a, packed_b, std::move(*table)};
}

double value(const runtime::Result<double>& result) {
    EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().message());
    return result.ok() ? *result : std::numeric_limits<double>::quiet_NaN();
}

void expect_close(double expected, double actual, double relative, const std::string& what) {
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(actual)) << what;
        return;
    }
    EXPECT_NEAR(actual, expected, relative * std::max(1.0, std::fabs(expected))) << what;
}

// A partition of a random share of the nodes into groups of 2 .. max_size.
ClusterList random_partition(std::mt19937_64& rng, std::uint64_t node_count, double covered,
                             std::size_t max_size) {
    std::vector<utils::NodeId> nodes(node_count);
    for (std::uint64_t v = 0; v < node_count; ++v) nodes[v] = static_cast<utils::NodeId>(v);
    std::shuffle(nodes.begin(), nodes.end(), rng);
    nodes.resize(static_cast<std::size_t>(covered * node_count));
    ClusterList clusters;
    base::ClusterId id = 3;
    for (std::size_t at = 0; at + 1 < nodes.size();) {
        std::size_t size = 2 + rng() % (max_size - 1);
        size = std::min(size, nodes.size() - at);
        if (size < 2) break;
        clusters.push_back({id, {nodes.begin() + at, nodes.begin() + at + size}});
        id += 1 + rng() % 3;
        at += size;
    }
    return clusters;
}

TEST(AgreementTwins, ContingencyCellsAreTheIntersections) {
    std::mt19937_64 rng(5);
    for (Uncovered policy : {Uncovered::kSingletons, Uncovered::kDrop}) {
        const std::uint64_t nodes = 40;
        auto a = testing::random_clusters(rng, nodes, 9, 10);
        auto b = testing::random_clusters(rng, nodes, 7, 14);
        Pair pair = compare(nodes, a, b, policy);
        auto sides = testing::effective_sides(nodes, a, b, policy);
        const Contingency& t = pair.table;
        ASSERT_EQ(t.universe, sides.universe.size());
        ASSERT_EQ(t.a.effective(), sides.a.size());
        ASSERT_EQ(t.b.effective(), sides.b.size());
        std::vector<ContingencyCell> expected;
        for (std::size_t i = 0; i < sides.a.size(); ++i) {
            EXPECT_EQ(t.a.sizes[i], sides.a[i].size());
            for (std::size_t j = 0; j < sides.b.size(); ++j) {
                auto n = testing::shared_count(sides.a[i], sides.b[j]);
                if (n > 0) expected.push_back({i, j, n});
            }
        }
        for (std::size_t j = 0; j < sides.b.size(); ++j) {
            EXPECT_EQ(t.b.sizes[j], sides.b[j].size());
        }
        ASSERT_EQ(t.cells.size(), expected.size());
        for (std::size_t c = 0; c < expected.size(); ++c) {
            EXPECT_EQ(t.cells[c].a, expected[c].a);
            EXPECT_EQ(t.cells[c].b, expected[c].b);
            EXPECT_EQ(t.cells[c].count, expected[c].count);
        }
        // The view by B lists the same cells in (b, a) order.
        for (std::size_t j = 0; j < t.b.effective(); ++j) {
            std::uint64_t last_a = 0;
            bool first = true;
            for (std::uint64_t c : t.row_b(j)) {
                EXPECT_EQ(t.cells[c].b, j);
                EXPECT_TRUE(first || t.cells[c].a > last_a);
                last_a = t.cells[c].a;
                first = false;
            }
        }
    }
}

TEST(AgreementTwins, PartitionMeasuresOnRandomPartitions) {
    std::mt19937_64 rng(11);
    for (int round = 0; round < 40; ++round) {
        const std::uint64_t nodes = 20 + rng() % 60;
        const Uncovered policy = round % 2 ? Uncovered::kDrop : Uncovered::kSingletons;
        auto a = random_partition(rng, nodes, 0.6 + 0.4 * (round % 3) / 2, 2 + round % 12);
        auto b = random_partition(rng, nodes, 0.9, 2 + round % 7);
        Pair pair = compare(nodes, a, b, policy);
        auto twin = testing::partition_twin(testing::effective_sides(nodes, a, b, policy));
        const std::string what = "round " + std::to_string(round);
        const double h_a = static_cast<double>(twin.h_a), h_b = static_cast<double>(twin.h_b);
        const double mi = static_cast<double>(twin.mi);
        if (twin.clusters_a > 1 && twin.clusters_b > 1) {
            expect_close(mi / ((h_a + h_b) / 2), value(nmi(pair.table)), 1e-12, what);
            expect_close(mi / std::sqrt(h_a * h_b),
                         value(nmi(pair.table, Normalisation::kGeometric)), 1e-12, what);
            expect_close(mi / std::min(h_a, h_b), value(nmi(pair.table, Normalisation::kMin)),
                         1e-12, what);
            expect_close(mi / std::max(h_a, h_b), value(nmi(pair.table, Normalisation::kMax)),
                         1e-12, what);
        }
        expect_close(static_cast<double>(twin.ari), value(ari(pair.table)), 1e-12, what);
        expect_close(static_cast<double>(twin.h_a + twin.h_b - 2 * twin.mi), value(vi(pair.table)),
                     1e-12, what);
        expect_close(testing::f1_twin(testing::effective_sides(nodes, a, b, policy)),
                     f1(pair.table), 1e-12, what);
    }
}

TEST(AgreementTwins, CoverMeasuresOnRandomCovers) {
    std::mt19937_64 rng(23);
    for (int round = 0; round < 40; ++round) {
        const std::uint64_t nodes = 10 + rng() % 50;
        const Uncovered policy = round % 2 ? Uncovered::kDrop : Uncovered::kSingletons;
        auto a = testing::random_clusters(rng, nodes, 1 + rng() % 10, 2 + rng() % 20);
        auto b = round % 5 == 0 ? a : testing::random_clusters(rng, nodes, 1 + rng() % 8, 12);
        Pair pair = compare(nodes, a, b, policy);
        auto sides = testing::effective_sides(nodes, a, b, policy);
        const std::string what = "round " + std::to_string(round);
        expect_close(testing::onmi_twin(sides), value(onmi(pair.table)), 1e-12, what);
        expect_close(testing::omega_twin(sides), value(omega(pair.table)), 1e-12, what);
        expect_close(testing::f1_twin(sides), f1(pair.table), 1e-12, what);
    }
}

// Nodes in many clusters at once, so that pairs share up to several
// clusters on both sides. The handles are temporaries: the contingency keeps
// their clusterings alive.
TEST(AgreementTwins, OmegaWithHeavyOverlap) {
    for (std::uint64_t nodes : {60, 150, 300}) {
        std::mt19937_64 rng(nodes);
        auto graph = testing::shared_graph(nodes, {});
        auto a = testing::random_clusters(rng, nodes, nodes / 4, 40);
        auto b = testing::random_clusters(rng, nodes, nodes / 5, 40);
        auto select = [&](const ClusterList& clusters) {
            std::vector<base::ClusterId> ids;
            for (const auto& [id, members] : clusters) ids.push_back(id);
            return ClusteringHandle::select_ids(testing::packed(graph, clusters), ids);
        };
        auto table = Contingency::build(select(a), select(b), Uncovered::kDrop);
        ASSERT_TRUE(table.ok());
        auto sides = testing::effective_sides(nodes, a, b, Uncovered::kDrop);
        expect_close(testing::omega_twin(sides), value(omega(*table)), 1e-12,
                     std::to_string(nodes) + " nodes");
    }
}

// Large enough that some clusters have no passing partner but a disjoint
// one: the shortcut over sizes must pick the same partner as all pairs.
TEST(AgreementTwins, OnmiDisjointPartnersBySize) {
    std::mt19937_64 rng(77);
    for (int round = 0; round < 10; ++round) {
        const std::uint64_t nodes = 24;
        ClusterList a = {{1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}, {2, {11, 12}}};
        ClusterList b = testing::random_clusters(rng, nodes, 4, 14);
        b.push_back({1000, {12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23}});
        Pair pair = compare(nodes, a, b, Uncovered::kDrop);
        expect_close(testing::onmi_twin(testing::effective_sides(nodes, a, b, Uncovered::kDrop)),
                     value(onmi(pair.table)), 1e-12, "round " + std::to_string(round));
    }
}

TEST(MatchTable, BestJaccardAgainstAllPairs) {
    std::mt19937_64 rng(31);
    for (int round = 0; round < 20; ++round) {
        const std::uint64_t nodes = 50;
        auto a = testing::random_clusters(rng, nodes, 12, 9);
        auto b = testing::random_clusters(rng, nodes, 10, 9);
        const Uncovered policy = round % 2 ? Uncovered::kDrop : Uncovered::kSingletons;
        Pair pair = compare(nodes, a, b, policy);
        auto sides = testing::effective_sides(nodes, a, b, policy);
        for (MatchDirection direction : {MatchDirection::kAToB, MatchDirection::kBToA}) {
            const bool a_rows = direction == MatchDirection::kAToB;
            const auto& rows = a_rows ? sides.a : sides.b;
            const auto& columns = a_rows ? sides.b : sides.a;
            const auto& row_ids = a_rows ? pair.table.a.ids : pair.table.b.ids;
            const auto& column_ids = a_rows ? pair.table.b.ids : pair.table.a.ids;
            MatchTable table = match_table(pair.table, direction);
            ASSERT_EQ(table.id, row_ids);
            for (std::size_t r = 0; r < row_ids.size(); ++r) {
                double best = 0;
                std::size_t best_c = 0;
                for (std::size_t c = 0; c < column_ids.size(); ++c) {
                    const double n = testing::shared_count(rows[r], columns[c]);
                    const double j = n / (rows[r].size() + columns[c].size() - n);
                    if (n > 0 && j > best) best = j, best_c = c;
                }
                if (best == 0) {
                    EXPECT_EQ(table.matched[r], 0);
                    EXPECT_TRUE(std::isnan(table.jaccard[r]));
                    continue;
                }
                const double n = testing::shared_count(rows[r], columns[best_c]);
                ASSERT_EQ(table.matched[r], 1);
                EXPECT_EQ(table.match[r], column_ids[best_c]);
                EXPECT_EQ(table.intersection[r], n);
                EXPECT_DOUBLE_EQ(table.jaccard[r], best);
                EXPECT_DOUBLE_EQ(table.precision[r], n / columns[best_c].size());
                EXPECT_DOUBLE_EQ(table.recall[r], n / rows[r].size());
                EXPECT_DOUBLE_EQ(table.f1[r], 2 * n / (rows[r].size() + columns[best_c].size()));
            }
        }
    }
}

// Nodes 0..5.   A: {0 1 2} {3 4 5}      B: {0 1} {2 3 4 5}
TEST(Agreement, HandDrawnPartition) {
    Pair pair = compare(6, {{1, {0, 1, 2}}, {2, {3, 4, 5}}}, {{7, {0, 1}}, {8, {2, 3, 4, 5}}});
    // Same-cluster pairs: A 6, B 1 + 6 = 7, both 1 + 3 = 4; 15 pairs.
    // ARI = (4 - 6·7/15) / ((6 + 7)/2 - 6·7/15) = 1.2 / 3.7.
    EXPECT_DOUBLE_EQ(value(ari(pair.table)), 1.2 / 3.7);
    MatchTable table = match_table(pair.table, MatchDirection::kAToB);
    EXPECT_EQ(table.match, (std::vector<base::ClusterId>{7, 8}));
    EXPECT_EQ(table.intersection, (std::vector<std::uint64_t>{2, 3}));
    EXPECT_DOUBLE_EQ(table.jaccard[0], 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(table.precision[1], 3.0 / 4.0);
    EXPECT_DOUBLE_EQ(table.recall[1], 1.0);
    // f1: A's best 0.8 and 6/7, B's best 0.8 and 6/7.
    EXPECT_DOUBLE_EQ(f1(pair.table), (0.8 + 6.0 / 7.0) / 2.0);
}

// Expected values from scikit-learn 1.8 (normalized_mutual_info_score with
// each average_method, adjusted_rand_score, and entropy + entropy - 2 *
// mutual_info_score for vi) on label arrays that give each uncovered node a
// label of its own.
TEST(Agreement, PinnedScikitLearnValues) {
    Pair pair = compare(12, {{1, {0, 1, 2, 3}}, {2, {4, 5, 6}}, {3, {7, 8}}},
                        {{10, {0, 1, 4}}, {11, {2, 3, 5, 6, 7}}, {12, {8, 9, 10}}});
    expect_close(0.5240825361335941, value(nmi(pair.table)), 1e-12, "arithmetic");
    expect_close(0.5283521249763327, value(nmi(pair.table, Normalisation::kGeometric)), 1e-12,
                 "geometric");
    expect_close(0.6002359031076057, value(nmi(pair.table, Normalisation::kMin)), 1e-12, "min");
    expect_close(0.46507709139311737, value(nmi(pair.table, Normalisation::kMax)), 1e-12, "max");
    expect_close(0.054441260744985676, value(ari(pair.table)), 1e-12, "ari");
    expect_close(1.379033816588633, value(vi(pair.table)), 1e-12, "vi");
}

// Expected values from cdlib 0.4.1's overlapping NMI (variant "MGH", max
// normalisation) and omega index on the same covers. Both sides cover the
// same nodes, so the universe is the one cdlib takes.
TEST(Agreement, PinnedCdlibValues) {
    Pair small = compare(10, {{1, {0, 1, 2, 3}}, {2, {3, 4, 5}}, {3, {5, 6, 7, 8, 9}}, {4, {0, 9}}},
                         {{1, {0, 1, 2}}, {2, {2, 3, 4, 5}}, {3, {6, 7, 8}}, {4, {8, 9, 0}}});
    expect_close(0.5410539015330253, value(onmi(small.table)), 1e-12, "onmi");
    expect_close(0.4923076923076923, value(omega(small.table)), 1e-12, "omega");

    ClusterList a = {{1, {4, 5, 7, 8, 11, 13}}, {2, {1, 2, 9, 11, 15, 18, 29}},
                     {3, {0, 3, 6, 13, 29}},    {4, {6, 8, 12, 13, 19, 22, 25, 29}},
                     {5, {3, 13, 21, 27, 29}},  {6, {0, 9, 15, 18, 24, 25, 27, 28}},
                     {7, {2, 19, 24, 26}},      {8, {2, 6, 10, 11, 13, 16, 23, 27}}};
    ClusterList b = {
        {1, {1, 2, 6, 8, 18, 21, 24}},         {2, {9, 16, 21, 22, 23, 25, 26, 27, 29}},
        {3, {0, 4, 5, 6, 10, 12, 13, 18, 23}}, {4, {2, 4, 15, 18, 22}},
        {5, {0, 1, 3, 7, 8, 11, 26}},          {6, {0, 4, 5, 6, 11, 12, 19, 26, 28}}};
    // Nodes 14, 17 and 20 are in no cluster: cdlib never sees them.
    Pair random = compare(30, a, b, Uncovered::kDrop);
    expect_close(0.0424168449558195, value(onmi(random.table)), 1e-12, "onmi");
    expect_close(-0.04130919354062767, value(omega(random.table)), 1e-12, "omega");
}

TEST(Agreement, IdenticalAndDegenerate) {
    ClusterList a = {{1, {0, 1, 2}}, {2, {3, 4}}, {5, {5, 6, 7, 8}}};
    Pair same = compare(9, a, a);
    EXPECT_EQ(value(nmi(same.table)), 1.0);
    EXPECT_EQ(value(ari(same.table)), 1.0);
    EXPECT_EQ(value(vi(same.table)), 0.0);
    EXPECT_EQ(f1(same.table), 1.0);
    EXPECT_DOUBLE_EQ(value(onmi(same.table)), 1.0);
    EXPECT_EQ(value(omega(same.table)), 1.0);

    // One cluster holding every node against three: no information.
    Pair lumped = compare(9, {{1, {0, 1, 2, 3, 4, 5, 6, 7, 8}}}, a);
    EXPECT_EQ(value(nmi(lumped.table)), 0.0);
    EXPECT_EQ(value(ari(lumped.table)), 0.0);

    // Nothing covered: every node its own cluster on both sides.
    Pair empty = compare(4, {}, {});
    EXPECT_EQ(value(nmi(empty.table)), 1.0);
    EXPECT_EQ(value(ari(empty.table)), 1.0);
    Pair dropped = compare(4, {}, {{1, {0, 1}}}, Uncovered::kDrop);
    EXPECT_EQ(dropped.table.universe, 0u);
    EXPECT_EQ(value(nmi(dropped.table)), 1.0);
    EXPECT_TRUE(std::isnan(value(omega(dropped.table))));
    EXPECT_EQ(value(onmi(dropped.table)), 1.0);  // B's cluster is cut away too
    MatchTable table = match_table(dropped.table, MatchDirection::kBToA);
    EXPECT_EQ(table.matched, std::vector<std::uint8_t>{0});
    EXPECT_EQ(table.intersection, std::vector<std::uint64_t>{0});
}

TEST(Agreement, PartitionMeasuresRefuseACover) {
    Pair pair = compare(6, {{1, {0, 1, 2}}, {2, {3, 4, 5}}},
                        {{4, {0, 1}}, {6, {1, 2, 3, 5}}, {9, {3, 4}}, {12, {1, 5}}});
    const std::string expected =
        " needs a partition, but node 1 is in clusters 4 and 6 of the second clustering";
    for (auto [name, result] :
         {std::pair{"nmi", nmi(pair.table)}, {"ari", ari(pair.table)}, {"vi", vi(pair.table)}}) {
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().message(), name + expected);
    }
    // Dropping node 1 and 3 (B covers them, A does too) changes nothing; the
    // cover measures accept covers.
    EXPECT_TRUE(omega(pair.table).ok());
    EXPECT_TRUE(onmi(pair.table).ok());
}

TEST(Agreement, OverlapOutsideTheUniverseIsNoOverlap) {
    // Node 9 is in two clusters of A but B does not cover it: dropped.
    Pair pair =
        compare(10, {{1, {0, 1, 9}}, {2, {2, 3, 9}}}, {{1, {0, 1, 2, 3}}}, Uncovered::kDrop);
    EXPECT_EQ(value(ari(pair.table)), 0.0);
}

TEST(Agreement, MeasuresByName) {
    Pair pair = compare(6, {{1, {0, 1, 2}}, {2, {3, 4, 5}}}, {{7, {0, 1}}, {8, {2, 3, 4, 5}}});
    const std::vector<std::string_view> names = {"vi", "nmi_max", "omega", "vi"};
    auto values = measures_by_name(pair.table, names);
    ASSERT_TRUE(values.ok());
    ASSERT_EQ(values->size(), 3u);
    EXPECT_EQ((*values)[0], (std::pair<std::string, double>{"vi", *vi(pair.table)}));
    EXPECT_EQ((*values)[1].second, *nmi(pair.table, Normalisation::kMax));
    EXPECT_EQ((*values)[2].first, "omega");

    const std::vector<std::string_view> unknown = {"ari", "rand"};
    auto refused = measures_by_name(pair.table, unknown);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message(),
              "unknown agreement measure 'rand'; known measures: nmi, nmi_geometric, nmi_min, "
              "nmi_max, ari, vi, f1, onmi, omega");
}

// A contingency counted elsewhere gives the same measures as one built from
// the members, omega aside.
TEST(Agreement, FromCellsMatchesTheBuiltContingency) {
    std::mt19937_64 rng(41);
    auto a = random_partition(rng, 80, 0.8, 9), b = random_partition(rng, 80, 0.7, 6);
    Pair pair = compare(80, a, b);
    const Contingency& built = pair.table;
    auto side = [](const Contingency::Side& from) {
        Contingency::Side side;
        side.ids = from.ids;
        side.sizes = from.sizes;
        side.overlap = from.overlap;
        return side;
    };
    auto made = Contingency::from_cells(built.universe, side(built.a), side(built.b), built.cells);
    ASSERT_TRUE(made.ok());
    EXPECT_EQ(*nmi(*made, Normalisation::kGeometric), *nmi(built, Normalisation::kGeometric));
    EXPECT_EQ(*ari(*made), *ari(built));
    EXPECT_EQ(*vi(*made), *vi(built));
    EXPECT_EQ(f1(*made), f1(built));
    EXPECT_EQ(*onmi(*made), *onmi(built));
    EXPECT_EQ(match_table(*made, MatchDirection::kBToA).jaccard,
              match_table(built, MatchDirection::kBToA).jaccard);
    auto no_omega = omega(*made);
    ASSERT_FALSE(no_omega.ok());
    EXPECT_EQ(no_omega.error().message(), kOmegaNeedsMembers);

    std::vector<ContingencyCell> swapped = built.cells;
    std::swap(swapped[0], swapped[1]);
    auto refused = Contingency::from_cells(built.universe, side(built.a), side(built.b), swapped);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message(), "invalid contingency: cells not ascending by (a, b)");
}

TEST(Agreement, DifferentGraphsAreRefused) {
    auto a = testing::packed(testing::shared_graph(4, {}), {{1, {0, 1}}});
    auto b = testing::packed(testing::shared_graph(4, {}), {{1, {0, 1}}});
    auto table = Contingency::build(ClusteringHandle::select_ids(a, {1}),
                                    ClusteringHandle::select_ids(b, {1}));
    ASSERT_FALSE(table.ok());
    EXPECT_EQ(table.error().message(), kDifferentGraphs);
}

// Counts what a pass reports.
class RecordedPasses : public runtime::PassProgress {
public:
    void begin(std::uint64_t length) noexcept override { lengths.push_back(length), ++open; }
    void advance(std::uint64_t count) noexcept override { advanced += count; }
    void end() noexcept override { --open; }
    std::vector<std::uint64_t> lengths;
    std::atomic<std::uint64_t> advanced{0};
    int open = 0;
};

TEST(Agreement, LongPassesReportProgress) {
    std::mt19937_64 rng(9);
    auto graph = testing::shared_graph(300, {});
    auto select = [&](std::size_t count) {
        auto clusters = testing::random_clusters(rng, 300, count, 30);
        std::vector<base::ClusterId> ids;
        for (const auto& [id, members] : clusters) ids.push_back(id);
        return ClusteringHandle::select_ids(testing::packed(graph, clusters), ids);
    };
    auto handle_a = select(40), handle_b = select(30);
    RecordedPasses built;
    auto table = Contingency::build(handle_a, handle_b, Uncovered::kSingletons, {}, built);
    ASSERT_TRUE(table.ok());
    EXPECT_EQ(built.lengths, std::vector<std::uint64_t>{table->a.real()});
    EXPECT_EQ(built.advanced, table->a.real());
    EXPECT_EQ(built.open, 0);
    for (auto measure : {&onmi, &omega}) {
        RecordedPasses pass;
        ASSERT_TRUE(measure(*table, {}, pass).ok());
        ASSERT_EQ(pass.lengths.size(), 1u);
        EXPECT_EQ(pass.advanced, pass.lengths[0]);
        EXPECT_EQ(pass.open, 0);
    }
}

TEST(Agreement, StopTokenInterrupts) {
    std::mt19937_64 rng(3);
    auto graph = testing::shared_graph(200, {});
    auto a = testing::packed(graph, testing::random_clusters(rng, 200, 30, 20));
    auto b = testing::packed(graph, testing::random_clusters(rng, 200, 30, 20));
    std::vector<base::ClusterId> ids_a, ids_b;
    for (const auto& [id, c] : a->clusters) ids_a.push_back(id);
    for (const auto& [id, c] : b->clusters) ids_b.push_back(id);
    auto handle_a = ClusteringHandle::select_ids(a, ids_a);
    auto handle_b = ClusteringHandle::select_ids(b, ids_b);
    std::stop_source stopped;
    stopped.request_stop();
    const std::string interrupted(utils::TaskMonitor::kInterrupted);
    auto built =
        Contingency::build(handle_a, handle_b, Uncovered::kSingletons, stopped.get_token());
    ASSERT_FALSE(built.ok());
    EXPECT_EQ(built.error().message(), interrupted);

    auto table = Contingency::build(handle_a, handle_b);
    ASSERT_TRUE(table.ok());
    auto o = onmi(*table, stopped.get_token());
    ASSERT_FALSE(o.ok());
    EXPECT_EQ(o.error().message(), interrupted);
    auto w = omega(*table, stopped.get_token());
    ASSERT_FALSE(w.ok());
    EXPECT_EQ(w.error().message(), interrupted);
}

}  // namespace
}  // namespace quelmar::agreement
