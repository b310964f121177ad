// The per-cluster measures at the library's surface: drawn graphs with exact
// vectors, and random graphs (self-loops, degree-0 nodes, overlapping
// clusters) against plain twins written from the definitions.

#include "src/measures/cluster_measures.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <stop_token>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <atomic>

#include "src/measures/internal/measure_route.h"
#include "src/quelmar/tests/test_graphs.h"
#include "src/utils/task_monitor.h"

namespace quelmar::measures {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Equal bit for bit, any NaN equal to any NaN.
bool same(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::vector<std::vector<double>> measure(const EnrichedGraph& graph,
                                         const std::vector<RichCluster>& clusters,
                                         const std::vector<ClusterMeasure>& measures) {
    std::vector<const RichCluster*> pointers;
    for (const RichCluster& cluster : clusters) pointers.push_back(&cluster);
    auto columns = compute_cluster_measures(graph, pointers, measures);
    EXPECT_TRUE(columns.ok());
    return columns.ok() ? *columns : std::vector<std::vector<double>>{};
}

TEST(MeasureNames, LookupAndRefusal) {
    EXPECT_EQ(find_measure("mincut_side")->measure, ClusterMeasure::MincutSide);
    EXPECT_EQ(find_measure("fomd")->group, MeasureGroup::MemberPass);
    EXPECT_EQ(find_measure("Conductance"), nullptr);
    EXPECT_EQ(all_measures().size(), kMeasures.size());
    EXPECT_EQ(known_measure_names().substr(0, 27), "conductance, normalized_cut");

    std::vector<std::string_view> names{"mincut", "expansion", "mincut"};
    auto measures = measures_from_names(names);
    ASSERT_TRUE(measures.ok());
    EXPECT_EQ(*measures,
              (std::vector<ClusterMeasure>{ClusterMeasure::Mincut, ClusterMeasure::Expansion,
                                           ClusterMeasure::Mincut}));
    std::vector<std::string_view> wrong{"expansion", "modularity"};
    auto refused = measures_from_names(wrong);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message(),
              "unknown measure 'modularity'; known measures: " + known_measure_names());
}

TEST(MedianDegree, MiddleOrMeanOfTheTwoMiddles) {
    // Degrees 1, 2, 1 (a path) and 0 for node 3: sorted 0 1 1 2.
    auto path = testing::graph_from_edges(4, {{0, 1}, {1, 2}});
    EXPECT_EQ(median_degree(path), 1.0);
    // Degrees 1, 1, 0, 0, 0 plus a self-loop (one entry) on node 4: 0 0 1 1 1.
    auto loop = testing::graph_from_edges(5, {{0, 1}, {4, 4}});
    EXPECT_EQ(median_degree(loop), 1.0);
    // A star on 4 nodes: 1 1 1 3 -> (1 + 1) / 2; a single edge: 1 1.
    EXPECT_EQ(median_degree(testing::graph_from_edges(4, {{0, 1}, {0, 2}, {0, 3}})), 1.0);
    EXPECT_EQ(median_degree(testing::graph_from_edges(3, {{0, 1}})), 1.0);
    // Two nodes of degree 0 and 1... : 0 1 -> 0.5.
    EXPECT_EQ(median_degree(testing::graph_from_edges(2, {{1, 1}})), 0.5);
    EXPECT_TRUE(std::isnan(median_degree(base::Graph())));
}

// The drawn graph (N = 7, M = 6, median degree 2):
//
//   0 --- 1        5   (no edges)
//   | \   |
//   |  \  |        6 -- itself
//   3 --- 2 --- 4
TEST(ClusterMeasures, DrawnGraph) {
    auto graph = testing::shared_graph(7, {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {0, 2}, {2, 4}, {6, 6}});
    std::vector<RichCluster> clusters;
    for (std::vector<utils::NodeId> members :
         std::vector<std::vector<utils::NodeId>>{{0, 1, 2, 3}, {2, 4, 5, 6}, {6}, {}}) {
        clusters.push_back(RichCluster::load_from_slice(*graph, members));
    }
    auto columns = measure(*graph, clusters, all_measures());
    ASSERT_EQ(columns.size(), kMeasures.size());

    // Rows follow the table order: conductance .. mincut_side.
    const std::map<ClusterMeasure, std::vector<double>> expected = {
        // {0,1,2,3}: m 5, c 1. {2,4,5,6}: m 1 (2-4 and the loop's one entry),
        // c 3. {6}: m 0, c 0. {}: nothing.
        {ClusterMeasure::Conductance, {1.0 / 11.0, 0.6, kNaN, kNaN}},
        {ClusterMeasure::NormalizedCut, {1.0 / 11.0 + 1.0 / 3.0, 0.6 + 3.0 / 13.0, kNaN, kNaN}},
        {ClusterMeasure::CutRatio, {1.0 / 12.0, 0.25, 0.0, kNaN}},
        {ClusterMeasure::Expansion, {0.25, 0.75, 0.0, kNaN}},
        {ClusterMeasure::AverageInternalDegree, {2.5, 0.5, 0.0, kNaN}},
        // Node 2 sends 1 of 4 entries out of the first cluster, 3 of 4 out of
        // the second; 5 has no entries (fractions 0); 6's loop stays inside.
        {ClusterMeasure::MaxOdf, {0.25, 0.75, 0.0, kNaN}},
        {ClusterMeasure::AverageOdf, {0.0625, 0.1875, 0.0, kNaN}},
        {ClusterMeasure::FlakeOdf, {0.0, 0.25, 0.0, kNaN}},
        {ClusterMeasure::Embeddedness, {0.9375, 0.5625, 1.0, kNaN}},
        {ClusterMeasure::HubDominance, {1.0, 1.0 / 3.0, kNaN, kNaN}},
        {ClusterMeasure::Fomd, {0.5, 0.0, 0.0, kNaN}},
        // The second cluster's subgraph: 2-4, 5, 6 (its loop is no edge).
        {ClusterMeasure::Components, {1.0, 3.0, 1.0, 0.0}},
        {ClusterMeasure::LargestComponent, {4.0, 2.0, 1.0, 0.0}},
        {ClusterMeasure::TriangleParticipation, {1.0, 0.0, 0.0, kNaN}},
        // 0-1-2-3 with the chord 0-2: nodes 1 and 3 have two edges each.
        {ClusterMeasure::Mincut, {2.0, 0.0, kNaN, kNaN}},
        {ClusterMeasure::MincutSide, {1.0, 1.0, kNaN, kNaN}},
    };
    for (const MeasureDefinition& row : kMeasures) {
        const std::vector<double>& want = expected.at(row.measure);
        const std::vector<double>& got = columns[static_cast<std::size_t>(row.measure)];
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i) {
            EXPECT_TRUE(same(got[i], want[i]))
                << row.name << " of cluster " << i << ": " << got[i] << " != " << want[i];
        }
    }
}

TEST(ClusterMeasures, ColumnsInTheOrderAsked) {
    auto graph = testing::shared_graph(4, {{0, 1}, {1, 2}, {2, 3}});
    std::vector<RichCluster> clusters;
    for (std::vector<utils::NodeId> members :
         std::vector<std::vector<utils::NodeId>>{{0, 1, 2}, {1, 3}}) {
        clusters.push_back(RichCluster::load_from_slice(*graph, members));
    }
    auto columns = measure(
        *graph, clusters,
        {ClusterMeasure::Components, ClusterMeasure::Expansion, ClusterMeasure::Components});
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[0], (std::vector<double>{1.0, 2.0}));
    EXPECT_EQ(columns[1], (std::vector<double>{1.0 / 3.0, 1.5}));
    EXPECT_EQ(columns[2], columns[0]);
    EXPECT_TRUE(measure(*graph, clusters, {}).empty());
    EXPECT_EQ(measure(*graph, {}, {ClusterMeasure::Mincut}),
              (std::vector<std::vector<double>>{{}}));
}

// Every measure of one cluster, straight from the definitions.
struct Twin {
    std::map<ClusterMeasure, double> values;
    std::set<std::uint64_t> min_cut_sides;  // every possible smaller side
    bool cut_known = true;                  // false past the brute force's reach
};

Twin twin(const base::Graph& graph, const std::vector<utils::NodeId>& list, double median) {
    std::set<utils::NodeId> members(list.begin(), list.end());
    std::vector<utils::NodeId> order(members.begin(), members.end());
    const std::uint64_t n = order.size();
    const std::uint64_t big_n = graph.node_count(), big_m = graph.m_cache();
    Twin result;
    auto& v = result.values;
    auto ratio = [](double a, double b) { return b == 0.0 ? kNaN : a / b; };

    std::uint64_t inside_entries = 0, cut = 0, flake = 0, over = 0, hub = 0;
    double out_sum = 0, in_sum = 0, out_max = 0;
    for (utils::NodeId u : order) {
        std::uint64_t degree = graph.neighbours(u).size(), k = 0;
        for (utils::NodeId w : graph.neighbours(u)) k += members.count(w);
        inside_entries += k;
        cut += degree - k;
        if (degree > 0) {
            out_sum += static_cast<double>(degree - k) / static_cast<double>(degree);
            in_sum += static_cast<double>(k) / static_cast<double>(degree);
            out_max = std::max(out_max, static_cast<double>(degree - k) / degree);
        }
        flake += k < degree - k;
        over += static_cast<double>(k) > median;
        hub = std::max(hub, k);
    }
    const std::uint64_t m = inside_entries / 2;
    const double c = static_cast<double>(cut), dn = static_cast<double>(n);
    v[ClusterMeasure::Conductance] = ratio(c, 2.0 * m + c);
    v[ClusterMeasure::NormalizedCut] = ratio(c, 2.0 * m + c) + ratio(c, 2.0 * (big_m - m) + c);
    v[ClusterMeasure::CutRatio] = ratio(c, dn * static_cast<double>(big_n - n));
    v[ClusterMeasure::Expansion] = ratio(c, dn);
    v[ClusterMeasure::AverageInternalDegree] = ratio(2.0 * m, dn);
    v[ClusterMeasure::MaxOdf] = n == 0 ? kNaN : out_max;
    v[ClusterMeasure::AverageOdf] = ratio(out_sum, dn);
    v[ClusterMeasure::FlakeOdf] = ratio(flake, dn);
    v[ClusterMeasure::Embeddedness] = ratio(in_sum, dn);
    v[ClusterMeasure::HubDominance] = n == 0 ? kNaN : ratio(hub, dn - 1);
    v[ClusterMeasure::Fomd] = ratio(over, dn);

    // The induced subgraph as a matrix, self-loops dropped.
    std::vector<std::vector<bool>> edge(n, std::vector<bool>(n, false));
    for (std::uint64_t a = 0; a < n; ++a) {
        for (std::uint64_t b = 0; b < n; ++b) {
            for (utils::NodeId w : graph.neighbours(order[a]))
                edge[a][b] = edge[a][b] || (a != b && w == order[b]);
        }
    }
    std::vector<int> component(n, -1);
    std::vector<std::uint64_t> sizes;
    for (std::uint64_t s = 0; s < n; ++s) {
        if (component[s] >= 0) continue;
        std::vector<std::uint64_t> queue{s};
        component[s] = static_cast<int>(sizes.size());
        for (std::size_t head = 0; head < queue.size(); ++head) {
            for (std::uint64_t b = 0; b < n; ++b) {
                if (edge[queue[head]][b] && component[b] < 0) {
                    component[b] = component[s];
                    queue.push_back(b);
                }
            }
        }
        sizes.push_back(queue.size());
    }
    v[ClusterMeasure::Components] = static_cast<double>(sizes.size());
    v[ClusterMeasure::LargestComponent] =
        sizes.empty() ? 0.0 : static_cast<double>(*std::max_element(sizes.begin(), sizes.end()));
    std::uint64_t on_triangle = 0;
    for (std::uint64_t a = 0; a < n; ++a) {
        bool found = false;
        for (std::uint64_t b = 0; b < n && !found; ++b) {
            for (std::uint64_t x = 0; x < n && !found; ++x) {
                found = edge[a][b] && edge[b][x] && edge[a][x];
            }
        }
        on_triangle += found;
    }
    v[ClusterMeasure::TriangleParticipation] = ratio(on_triangle, dn);

    v[ClusterMeasure::Mincut] = v[ClusterMeasure::MincutSide] = kNaN;
    if (n >= 2 && sizes.size() > 1) {
        v[ClusterMeasure::Mincut] = 0.0;
        v[ClusterMeasure::MincutSide] =
            static_cast<double>(*std::min_element(sizes.begin(), sizes.end()));
    } else if (n >= 2 && n <= 12) {
        std::uint64_t best = ~std::uint64_t{0};
        for (std::uint64_t mask = 1; mask + 1 < (std::uint64_t{1} << n); ++mask) {
            if (mask & 1) continue;  // node 0 stays on the other side
            std::uint64_t crossing = 0;
            for (std::uint64_t a = 0; a < n; ++a) {
                for (std::uint64_t b = a + 1; b < n; ++b) {
                    crossing += edge[a][b] && (((mask >> a) ^ (mask >> b)) & 1);
                }
            }
            const std::uint64_t side = __builtin_popcountll(mask);
            if (crossing < best) result.min_cut_sides.clear();
            best = std::min(best, crossing);
            if (crossing == best) result.min_cut_sides.insert(std::min(side, n - side));
        }
        v[ClusterMeasure::Mincut] = static_cast<double>(best);
    } else if (n >= 2) {
        result.cut_known = false;  // min_cut_test covers larger graphs
    }
    return result;
}

TEST(ClusterMeasures, RandomGraphsAgainstTheDefinitions) {
    std::mt19937_64 rng(1919);
    int cut_checks = 0;
    for (int round = 0; round < 80; ++round) {
        // Nodes past the edges' range have degree 0.
        const std::uint64_t used = 12 + rng() % 40, nodes = used + rng() % 4;
        auto graph =
            testing::shared_graph(nodes, testing::random_edges(rng, used, used * (1 + rng() % 4)));
        auto list = testing::random_clusters(rng, nodes, 30, round % 2 ? 12 : 30);
        std::vector<RichCluster> clusters;
        for (const auto& [id, members] : list) {
            clusters.push_back(RichCluster::load_from_slice(*graph, members));
        }
        auto columns = measure(*graph, clusters, all_measures());
        ASSERT_EQ(columns.size(), kMeasures.size());
        const double median = median_degree(graph->graph());
        for (std::size_t i = 0; i < list.size(); ++i) {
            Twin truth = twin(graph->graph(), list[i].second, median);
            for (const MeasureDefinition& row : kMeasures) {
                const double got = columns[static_cast<std::size_t>(row.measure)][i];
                const bool is_cut = row.measure == ClusterMeasure::Mincut ||
                                    row.measure == ClusterMeasure::MincutSide;
                if (is_cut && !truth.cut_known) continue;
                if (row.measure == ClusterMeasure::MincutSide) {
                    if (truth.min_cut_sides.empty()) {
                        EXPECT_TRUE(same(got, truth.values[row.measure])) << row.name;
                    } else {
                        ++cut_checks;
                        EXPECT_TRUE(truth.min_cut_sides.count(static_cast<std::uint64_t>(got)))
                            << "round " << round << " cluster " << i << " side " << got;
                    }
                    continue;
                }
                EXPECT_TRUE(same(got, truth.values[row.measure]))
                    << "round " << round << " cluster " << i << " " << row.name << ": " << got
                    << " != " << truth.values[row.measure];
            }
        }
    }
    EXPECT_GT(cut_checks, 100);
}

TEST(ClusterMeasures, SearchedLocalIdsMatchTheRankArray) {
    // Graphs past 2^25 nodes search the member list for local ids; small ones
    // use the rank array. Both must lay out the same subgraph.
    std::mt19937_64 rng(25);
    for (int round = 0; round < 10; ++round) {
        const std::uint64_t nodes = 200 + rng() % 800;
        auto graph = testing::shared_graph(nodes, testing::random_edges(rng, nodes, nodes * 6));
        std::vector<RichCluster> clusters;
        for (const auto& [id, members] : testing::random_clusters(rng, nodes, 60, 150)) {
            clusters.push_back(RichCluster::load_from_slice(*graph, members));
        }
        std::vector<const RichCluster*> pointers;
        for (const RichCluster& cluster : clusters) pointers.push_back(&cluster);
        const std::vector<ClusterMeasure> measures = all_measures();
        auto run = [&](internal::RankRoute route) {
            return internal::compute_cluster_measures_routed(
                *graph, pointers, measures, runtime::PassProgress::unwatched(), {}, route);
        };
        auto searched = run(internal::RankRoute::Search);
        auto ranked = run(internal::RankRoute::Automatic);
        ASSERT_TRUE(searched.ok() && ranked.ok());
        for (std::size_t j = 0; j < measures.size(); ++j) {
            for (std::size_t i = 0; i < clusters.size(); ++i) {
                EXPECT_TRUE(same((*searched)[j][i], (*ranked)[j][i]))
                    << measure_definition(measures[j]).name << " of cluster " << i;
            }
        }
    }
}

TEST(ClusterMeasures, StopsWhenAsked) {
    std::mt19937_64 rng(5);
    auto graph = testing::shared_graph(500, testing::random_edges(rng, 500, 3000));
    std::vector<RichCluster> clusters;
    for (const auto& [id, members] : testing::random_clusters(rng, 500, 50, 40)) {
        clusters.push_back(RichCluster::load_from_slice(*graph, members));
    }
    std::vector<const RichCluster*> pointers;
    for (const RichCluster& cluster : clusters) pointers.push_back(&cluster);

    // advance() comes from every worker at once.
    struct Counting : runtime::PassProgress {
        std::uint64_t length = 0, ends = 0;
        std::atomic<std::uint64_t> advanced{0};
        void begin(std::uint64_t n) noexcept override { length = n; }
        void advance(std::uint64_t n) noexcept override { advanced += n; }
        void end() noexcept override { ++ends; }
    };
    const std::vector<ClusterMeasure> measures{ClusterMeasure::Mincut};
    Counting progress;
    std::stop_source source;
    ASSERT_TRUE(compute_cluster_measures(*graph, pointers, measures, progress, source.get_token()));
    std::uint64_t volume = 0;
    for (const RichCluster& cluster : clusters) volume += cluster.vol;
    EXPECT_EQ(progress.length, clusters.size() + volume);
    EXPECT_EQ(progress.advanced.load(), progress.length);
    EXPECT_EQ(progress.ends, 1u);

    source.request_stop();
    auto stopped =
        compute_cluster_measures(*graph, pointers, measures, progress, source.get_token());
    ASSERT_FALSE(stopped.ok());
    EXPECT_EQ(stopped.error().message(), utils::TaskMonitor::kInterrupted);
    EXPECT_EQ(progress.ends, 2u);
}

}  // namespace
}  // namespace quelmar::measures

namespace quelmar::measures {
namespace {

TEST(ClusterMeasures, StopsInsideALongMinimumCut) {
    // A ring ladder of 20,000 nodes: its minimum cut takes many seconds (no
    // pair can be joined but one or two per scan), so a stop requested soon
    // after the start lands inside it.
    const utils::NodeId rungs = 10000;
    testing::EdgeList edges;
    for (utils::NodeId i = 0; i < rungs; ++i) {
        edges.push_back({i, i + rungs});
        edges.push_back({i, (i + 1) % rungs});
        edges.push_back({i + rungs, (i + 1) % rungs + rungs});
    }
    auto graph = testing::shared_graph(2 * rungs, edges);
    std::vector<utils::NodeId> everyone(2 * rungs);
    for (utils::NodeId u = 0; u < 2 * rungs; ++u) everyone[u] = u;
    RichCluster ladder = RichCluster::load_from_slice(*graph, everyone);
    const RichCluster* one[] = {&ladder};
    const std::vector<ClusterMeasure> measures{ClusterMeasure::Mincut};

    std::stop_source source;
    std::jthread stopper([&source] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        source.request_stop();
    });
    auto result = compute_cluster_measures(*graph, one, measures,
                                           runtime::PassProgress::unwatched(), source.get_token());
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message(), utils::TaskMonitor::kInterrupted);
}

}  // namespace
}  // namespace quelmar::measures
