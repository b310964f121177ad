#include "src/quelmar/cluster_statistics.h"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quelmar {
namespace {

ClusterCounts counts(std::uint64_t n, std::uint64_t m, std::uint64_t c, std::uint64_t mcd) {
    ClusterCounts cluster;
    cluster.n = n;
    cluster.m = m;
    cluster.c = c;
    cluster.mcd = mcd;
    return cluster;
}

double value(StatisticsType type, const ClusterCounts& cluster, std::uint64_t edges = 10,
             double resolution = 0.0) {
    return statistic_value(type, cluster, StatisticInputs{edges, resolution});
}

TEST(StatisticValue, TriangleAndPath) {
    ClusterCounts triangle = counts(3, 3, 0, 2);
    EXPECT_EQ(value(StatisticsType::Density, triangle), 1.0);
    EXPECT_EQ(value(StatisticsType::DeviationTreeness, triangle), 1.0 / 3.0);
    EXPECT_EQ(value(StatisticsType::Cpm, triangle, 10, 0.25), 3.0 - 3.0 * 0.25);
    EXPECT_EQ(value(StatisticsType::Size, triangle), 3.0);
    EXPECT_EQ(value(StatisticsType::Mcd, triangle), 2.0);

    EXPECT_EQ(value(StatisticsType::DeviationTreeness, counts(3, 2, 1, 1)), 0.0);
    // Fewer internal edges than a tree: negative, computed in signed integers.
    EXPECT_EQ(value(StatisticsType::DeviationTreeness, counts(2, 0, 4, 2)), -0.5);
    EXPECT_EQ(value(StatisticsType::Density, counts(2, 0, 4, 2)), 0.0);
}

TEST(StatisticValue, ModularityFollowsTheDegreeShares) {
    // a = 3 / 10; q = (6 + 4) / 20; a - q * q.
    EXPECT_EQ(value(StatisticsType::Modularity, counts(3, 3, 4, 2), 10), 0.3 - 0.5 * 0.5);
    // A whole graph that is one clique: a = 1, q = 1.
    EXPECT_EQ(value(StatisticsType::Modularity, counts(4, 6, 0, 3), 6), 0.0);
    EXPECT_TRUE(std::isnan(value(StatisticsType::Modularity, counts(2, 0, 0, 0), 0)));
}

TEST(StatisticValue, HugeClustersStayExact) {
    // n = 2^32: the pair count n (n - 1) / 2 still fits 64 bits.
    const std::uint64_t n = std::uint64_t{1} << 32;
    const double pairs = static_cast<double>((n * (n - 1)) / 2);
    EXPECT_EQ(value(StatisticsType::Density, counts(n, 12345, 0, 1)), 12345.0 / pairs);
    EXPECT_EQ(value(StatisticsType::Cpm, counts(n, 7, 0, 1), 1, 2.0), 7.0 - pairs * 2.0);
}

TEST(StatisticsTable, ComputationOrderAndResultKeys) {
    std::vector<std::string> keys;
    for (const StatisticDefinition& statistic : kStatistics) {
        EXPECT_EQ(is_computed(statistic, false), statistic.type != StatisticsType::Cpm);
        EXPECT_TRUE(is_computed(statistic, true));
        keys.push_back(result_key(statistic.type));
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"mcd", "size", "modularity", "deviationtreeness",
                                              "density", "cpm"}));
}

TEST(StatisticsType, DisplayTexts) {
    EXPECT_EQ(display_text(StatisticsType::Mcd), "Mcd");
    EXPECT_EQ(display_text(StatisticsType::Cpm), "Cpm");
    EXPECT_EQ(display_text(StatisticsType::Size), "Size");
    EXPECT_EQ(display_text(StatisticsType::Modularity), "Modularity");
    EXPECT_EQ(display_text(StatisticsType::DeviationTreeness), "DeviationTreeness");
    EXPECT_EQ(display_text(StatisticsType::Density), "Density");
}

}  // namespace
}  // namespace quelmar
