#include "src/quality/distribution_summary.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace quelmar::quality {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<double> entries_of(const DistributionSummary& summary) {
    const auto entries = summary.percentiles();
    return {entries.begin(), entries.end()};
}

TEST(DistributionSummary, FractionsAreProductsOfTheIndex) {
    const auto& fractions = DistributionSummary::fractions();
    EXPECT_EQ(fractions[0], 0.0);
    EXPECT_EQ(fractions[20], 1.0);
    EXPECT_EQ(fractions[3], 0.15000000000000002);
    EXPECT_EQ(fractions[10], 0.5);
    for (int i = 1; i < 20; ++i) EXPECT_EQ(fractions[i], i * 0.05) << i;
}

TEST(DistributionSummary, NoUsableValueGivesZeros) {
    const std::vector<double> zeros(DistributionSummary::kEntries, 0.0);
    EXPECT_EQ(entries_of(DistributionSummary()), zeros);
    const DistributionSummary empty = DistributionSummary::from_values({});
    EXPECT_EQ(entries_of(empty), zeros);
    EXPECT_EQ(empty.minimum(), 0.0);
    EXPECT_EQ(empty.median(), 0.0);
    EXPECT_EQ(empty.maximum(), 0.0);
    EXPECT_EQ(entries_of(DistributionSummary::from_values({std::nan(""), std::nan("")})), zeros);
}

TEST(DistributionSummary, SingleValueFillsEveryEntry) {
    EXPECT_EQ(entries_of(DistributionSummary::from_values({5.0})),
              std::vector<double>(DistributionSummary::kEntries, 5.0));
}

TEST(DistributionSummary, OneToTwentyOne) {
    std::vector<double> values;
    for (int i = 1; i <= 21; ++i) values.push_back(i);
    const std::vector<double> entries = entries_of(DistributionSummary::from_values(values));
    for (int i = 0; i < 21; ++i) {
        const double expected = i == 6    ? 7.000000000000001
                                : i == 12 ? 13.000000000000002
                                : i == 14 ? 15.000000000000002
                                          : i + 1.0;
        EXPECT_EQ(entries[i], expected) << "entry " << i;
    }
}

TEST(DistributionSummary, OneToFour) {
    const DistributionSummary summary = DistributionSummary::from_values({3, 1, 4, 2});
    EXPECT_EQ(summary.minimum(), 1.0);
    EXPECT_EQ(summary.percentiles()[1], 1.15);
    EXPECT_EQ(summary.median(), 2.5);
    EXPECT_EQ(summary.maximum(), 4.0);
}

TEST(DistributionSummary, InfiniteExtremesStayInfinite) {
    const DistributionSummary summary = DistributionSummary::from_values({2, kInf, -kInf, 1, 3});
    EXPECT_EQ(summary.minimum(), -kInf);
    EXPECT_EQ(summary.median(), 2.0);
    EXPECT_EQ(summary.maximum(), kInf);
}

TEST(DistributionSummary, NanAndOrderDoNotChangeTheSummary) {
    std::mt19937 random(5);
    std::vector<double> values(1000);
    for (double& v : values) v = std::uniform_real_distribution<double>(-50, 50)(random);
    const std::vector<double> reference = entries_of(DistributionSummary::from_values(values));

    std::vector<double> shuffled = values;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    for (int i = 0; i < 100; ++i) {
        shuffled.insert(shuffled.begin() + static_cast<long>(random() % shuffled.size()),
                        std::nan(""));
    }
    EXPECT_EQ(entries_of(DistributionSummary::from_values(shuffled)), reference);
}

TEST(DistributionSummary, CopiesAreDeepAndIndependent) {
    DistributionSummary original = DistributionSummary::from_values({1, 2, 3});
    DistributionSummary copy = original;
    EXPECT_NE(copy.percentiles().data(), original.percentiles().data());
    EXPECT_EQ(entries_of(copy), entries_of(original));
    original = DistributionSummary::from_values({7});
    EXPECT_EQ(copy.maximum(), 3.0);
    EXPECT_EQ(original.maximum(), 7.0);

    SummarizedDistribution moved = std::move(copy);
    EXPECT_EQ(moved.median(), 2.0);
    copy = moved;  // a moved-from summary can be assigned again
    EXPECT_EQ(copy.median(), 2.0);
}

}  // namespace
}  // namespace quelmar::quality
