#include "percentiles/shortest_decimal.h"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace quelmar::percentiles {
namespace {

TEST(ShortestDecimal, IntegralValuesHaveNoFractionalPart) {
    EXPECT_EQ(shortest_decimal(2.0), "2");
    EXPECT_EQ(shortest_decimal(-3.0), "-3");
    EXPECT_EQ(shortest_decimal(0.0), "0");
    EXPECT_EQ(shortest_decimal(-0.0), "-0");
    EXPECT_EQ(shortest_decimal(1e21), "1000000000000000000000");
    EXPECT_EQ(shortest_decimal(1e300), "1" + std::string(300, '0'));
}

TEST(ShortestDecimal, FractionsUseTheShortestRoundTripDigits) {
    EXPECT_EQ(shortest_decimal(-0.5), "-0.5");
    EXPECT_EQ(shortest_decimal(1.5), "1.5");
    EXPECT_EQ(shortest_decimal(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(shortest_decimal(3 * 0.05), "0.15000000000000002");
    EXPECT_EQ(shortest_decimal(1.0000000000000002), "1.0000000000000002");
    EXPECT_EQ(shortest_decimal(123.456), "123.456");
}

TEST(ShortestDecimal, SmallMagnitudesAreWrittenOutWithoutExponent) {
    EXPECT_EQ(shortest_decimal(1e-7), "0.0000001");
    EXPECT_EQ(shortest_decimal(-2.5e-3), "-0.0025");
    const double smallest = std::numeric_limits<double>::denorm_min();
    EXPECT_EQ(shortest_decimal(smallest), "0." + std::string(323, '0') + "5");
}

TEST(ShortestDecimal, ReadsBackAsTheSameDouble) {
    for (const double v : {0.1, 1.0 / 3.0, 2.0 / 3.0 * 1e-5, 6.02214076e23, 9007199254740993.0,
                           std::numeric_limits<double>::max()}) {
        EXPECT_EQ(std::stod(shortest_decimal(v)), v) << shortest_decimal(v);
    }
}

TEST(ShortestDecimal, NonFiniteValues) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(shortest_decimal(inf), "inf");
    EXPECT_EQ(shortest_decimal(-inf), "-inf");
    EXPECT_EQ(shortest_decimal(std::nan("")), "NaN");
}

}  // namespace
}  // namespace quelmar::percentiles
