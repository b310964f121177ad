#include "percentiles/cached_ordering.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

namespace quelmar::percentiles {
namespace {

// Every settled position holds its sorted value, with nothing greater before
// it and nothing smaller after it.
void expect_settled_positions_hold(const CachedOrdering& ordering) {
    const auto values = ordering.values();
    std::vector<double> sorted(values.begin(), values.end());
    std::sort(sorted.begin(), sorted.end());
    for (const std::uint64_t k : ordering.settled_positions()) {
        ASSERT_LT(k, values.size());
        EXPECT_EQ(values[k], sorted[k]) << "position " << k;
        for (std::size_t i = 0; i < k; ++i) EXPECT_LE(values[i], values[k]);
        for (std::size_t i = k + 1; i < values.size(); ++i) EXPECT_GE(values[i], values[k]);
    }
}

CachedOrdering ordering_of(const std::vector<double>& values) {
    CachedOrdering ordering;
    for (const double v : values) ordering.add(v);
    return ordering;
}

TEST(CachedOrdering, NanIsNeverStored) {
    CachedOrdering ordering;
    ordering.add(std::nan(""));
    EXPECT_TRUE(ordering.empty());
    ordering.adopt({1.0, std::nan(""), 2.0, -std::nan("")});
    EXPECT_EQ(std::vector<double>(ordering.values().begin(), ordering.values().end()),
              (std::vector<double>{1.0, 2.0}));
    ordering.adopt({std::nan(""), 3.0});
    EXPECT_EQ(ordering.size(), 3u);
}

TEST(CachedOrdering, AdoptTakesTheArrayOverWhenEmpty) {
    std::vector<double> values{3.0, 1.0, 2.0};
    const double* storage = values.data();
    CachedOrdering ordering;
    ordering.adopt(std::move(values));
    EXPECT_EQ(ordering.values().data(), storage);
}

TEST(CachedOrdering, OrderIndexSettlesEachRequestedPosition) {
    CachedOrdering ordering = ordering_of({9, 4, 7, 1, 8, 2, 6, 3, 5, 0, 4, 7});
    for (const std::uint64_t k : {6u, 2u, 9u, 3u, 11u, 0u, 7u, 6u}) {
        const auto value = ordering.order_index(k);
        ASSERT_TRUE(value.has_value());
        expect_settled_positions_hold(ordering);
    }
    EXPECT_EQ(ordering.settled_positions(), (std::set<std::uint64_t>{0, 2, 3, 6, 7, 9, 11}));
    EXPECT_EQ(ordering.order_index(6), 5.0);
    EXPECT_EQ(ordering.order_index(11), 9.0);
}

TEST(CachedOrdering, SelectionStaysInsideTheGapBetweenSettledPositions) {
    CachedOrdering ordering = ordering_of({5, 3, 8, 1, 9, 7, 2, 6, 4, 0});
    ASSERT_EQ(ordering.order_index(3), 3.0);
    ASSERT_EQ(ordering.order_index(7), 7.0);
    const std::vector<double> before(ordering.values().begin(), ordering.values().end());
    ASSERT_EQ(ordering.order_index(5), 5.0);
    const auto after = ordering.values();
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (i <= 3 || i >= 7) {
            EXPECT_EQ(after[i], before[i]) << "position " << i;
        }
    }
}

TEST(CachedOrdering, ExtremesOfAGapAreSettledToo) {
    CachedOrdering ordering = ordering_of({2, -1, 5, 5, 0, -1, 3, 4});
    ASSERT_EQ(ordering.order_index(4), 3.0);
    EXPECT_EQ(ordering.order_index(5), 4.0);  // first position of the upper gap
    EXPECT_EQ(ordering.order_index(3), 2.0);  // last position of the lower gap
    EXPECT_EQ(ordering.order_index(0), -1.0);
    EXPECT_EQ(ordering.order_index(7), 5.0);
    expect_settled_positions_hold(ordering);
}

TEST(CachedOrdering, StoringAValueForgetsSettledPositions) {
    CachedOrdering ordering = ordering_of({3, 1, 2});
    ASSERT_EQ(ordering.order_index(0), 1.0);
    ordering.add(0.5);
    EXPECT_TRUE(ordering.settled_positions().empty());
    EXPECT_EQ(ordering.order_index(0), 0.5);
    ordering.adopt({-4.0});
    EXPECT_TRUE(ordering.settled_positions().empty());
    EXPECT_EQ(ordering.order_index(0), -4.0);
    ordering.add(std::nan(""));
    EXPECT_EQ(ordering.settled_positions().size(), 1u);
}

TEST(CachedOrdering, PositionOutsideTheValuesHasNoValue) {
    CachedOrdering ordering = ordering_of({1, 2});
    EXPECT_EQ(ordering.order_index(2), std::nullopt);
    EXPECT_TRUE(ordering.settled_positions().empty());
    CachedOrdering empty;
    EXPECT_EQ(empty.order_index(0), std::nullopt);
}

}  // namespace
}  // namespace quelmar::percentiles
