#include "percentiles/percentiles.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quelmar::percentiles {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const std::string kRangeMessage = "all percentiles must be between 0 and 1, but got: ";

Percentiles engine_of(const std::vector<double>& values) {
    Percentiles engine;
    for (const double v : values) engine.add(v);
    return engine;
}

std::vector<double> request(Percentiles& engine, const std::vector<double>& fractions) {
    auto outcome = engine.percentiles(fractions);
    EXPECT_TRUE(outcome.ok()) << outcome.error().message();
    EXPECT_TRUE(outcome.value().has_value());
    return outcome.ok() && outcome.value() ? *outcome.value() : std::vector<double>{};
}

std::string failure(Percentiles& engine, const std::vector<double>& fractions) {
    auto outcome = engine.percentiles(fractions);
    EXPECT_FALSE(outcome.ok());
    return outcome.ok() ? std::string() : outcome.error().message();
}

TEST(Percentiles, InterpolatesBetweenTheSurroundingOrderStatistics) {
    Percentiles engine = engine_of({4, 1, 3, 2});
    EXPECT_EQ(request(engine, {0.5, 0.0, 1.0, 0.05}), (std::vector<double>{2.5, 1, 4, 1.15}));
}

TEST(Percentiles, OneValueAnswersEveryFraction) {
    Percentiles engine = engine_of({7.25});
    EXPECT_EQ(request(engine, {0, 0.3, 0.5, 1}), (std::vector<double>{7.25, 7.25, 7.25, 7.25}));
}

TEST(Percentiles, OddCountMedianIsTheMiddleValue) {
    Percentiles engine = engine_of({5, -2, 9, 0, 3});
    EXPECT_EQ(request(engine, {0.5}), std::vector<double>{3});
}

TEST(Percentiles, InsertionOrderDoesNotMatter) {
    const std::vector<double> fractions{0, 0.1, 0.25, 0.5, 0.75, 0.9, 1};
    Percentiles ascending = engine_of({1, 2, 3, 4, 5, 6, 7, 8});
    Percentiles shuffled = engine_of({6, 3, 8, 1, 5, 2, 7, 4});
    EXPECT_EQ(request(ascending, fractions), request(shuffled, fractions));
}

TEST(Percentiles, NanValuesAreSkipped) {
    const double nan = std::nan("");
    Percentiles with_nan = engine_of({nan, 3, nan, 1, 2, nan});
    EXPECT_EQ(with_nan.size(), 3u);
    EXPECT_EQ(request(with_nan, {0, 0.5, 1}), (std::vector<double>{1, 2, 3}));

    Percentiles only_nan = engine_of({nan, nan});
    auto outcome = only_nan.percentiles(std::vector<double>{0.5});
    ASSERT_TRUE(outcome.ok());
    EXPECT_FALSE(outcome.value().has_value());
}

TEST(Percentiles, EmptyEngineExaminesNothing) {
    Percentiles engine;
    for (const std::vector<double>& fractions :
         {std::vector<double>{1.5}, {std::nan("")}, {-1, std::nan("")}, {}}) {
        auto outcome = engine.percentiles(fractions);
        ASSERT_TRUE(outcome.ok());
        EXPECT_FALSE(outcome.value().has_value());
    }
}

TEST(Percentiles, EmptyRequestGivesEmptySequence) {
    Percentiles engine = engine_of({1, 2});
    auto outcome = engine.percentiles({});
    ASSERT_TRUE(outcome.ok());
    ASSERT_TRUE(outcome.value().has_value());
    EXPECT_TRUE(outcome.value()->empty());
}

TEST(Percentiles, DuplicateFractionsGiveEqualValues) {
    Percentiles engine = engine_of({10, 20, 30, 40, 50});
    EXPECT_EQ(request(engine, {0.3, 0.3, 0.7, 0.3}), (std::vector<double>{22, 22, 38, 22}));
}

TEST(Percentiles, NanFractionIsReportedBeforeAnyOtherProblem) {
    Percentiles engine = engine_of({1, 2, 3});
    EXPECT_EQ(failure(engine, {0.5, std::nan("")}), "percentiles can't be nan");
    EXPECT_EQ(failure(engine, {7, std::nan(""), -1}), "percentiles can't be nan");
}

TEST(Percentiles, RangeErrorNamesTheFirstFractionInBisectionOrder) {
    Percentiles engine = engine_of({1, 2, 3});
    EXPECT_EQ(failure(engine, {1.5}), kRangeMessage + "1.5");
    // Two fractions: sorted position 1 is visited first.
    EXPECT_EQ(failure(engine, {-0.5, 2}), kRangeMessage + "2");
    // Seven fractions visit sorted positions 3, 1, 5, 0, 2, 4, 6.
    EXPECT_EQ(failure(engine, {-3, -2, -1, 0.5, 0.6, 0.7, 4}), kRangeMessage + "-2");
    EXPECT_EQ(failure(engine, {0, 0.1, 0.2, 0.5, 0.6, 3, 4}), kRangeMessage + "3");
    EXPECT_EQ(failure(engine, {-3, 0.1, 0.2, 0.5, 0.6, 0.7, 4}), kRangeMessage + "-3");
    EXPECT_EQ(failure(engine, {0, 0.1, 0.2, 0.5, 0.6, 0.7, 4}), kRangeMessage + "4");
    EXPECT_EQ(failure(engine, {kInf}), kRangeMessage + "inf");
    EXPECT_EQ(failure(engine, {-1e-7}), kRangeMessage + "-0.0000001");
}

TEST(Percentiles, TwentyOneFractionsAreVisitedCoarsestFirst) {
    const std::vector<std::size_t> visit_order{15, 7, 3, 11, 19, 1,  5,  9,  13, 17, 0,
                                               2,  4, 6, 8,  10, 12, 14, 16, 18, 20};
    // Sorted positions below `low` hold fractions under 0, positions from
    // `high` on fractions above 1, the rest valid ones; each fraction names its
    // position, so the report shows which out-of-range position came first.
    Percentiles engine = engine_of({1, 2, 3});
    for (std::size_t low = 0; low <= 21; ++low) {
        for (std::size_t high = low; high <= 21; ++high) {
            if (low == 0 && high == 21) continue;
            std::vector<double> fractions(21);
            for (std::size_t position = 0; position < 21; ++position) {
                const double p = static_cast<double>(position);
                fractions[position] = position < low ? p - 100 : position >= high ? p + 100 : 0.5;
            }
            std::size_t first_bad = 0;
            for (const std::size_t position : visit_order) {
                if (position < low || position >= high) {
                    first_bad = position;
                    break;
                }
            }
            std::vector<double> shuffled(fractions.rbegin(), fractions.rend());
            EXPECT_EQ(failure(engine, shuffled),
                      kRangeMessage + std::to_string(static_cast<int>(fractions[first_bad])))
                << "low " << low << " high " << high;
        }
    }
}

TEST(Percentiles, IntegralRankKeepsInfiniteValues) {
    Percentiles engine = engine_of({3, kInf, -kInf, 1, 2});
    const std::vector<double> results = request(engine, {0, 0.25, 0.5, 0.75, 1});
    EXPECT_EQ(results, (std::vector<double>{-kInf, 1, 2, 3, kInf}));

    Percentiles infinite_only = engine_of({kInf, kInf, -kInf});
    EXPECT_EQ(request(infinite_only, {0, 0.5, 1, 0.75}),
              (std::vector<double>{-kInf, kInf, kInf, kInf}));
}

TEST(Percentiles, RepeatedRequestsGiveTheSameResults) {
    Percentiles engine = engine_of({9, 1, 8, 2, 7, 3, 6, 4, 5});
    const std::vector<double> fractions{0.1, 0.5, 0.9, 0.33};
    const std::vector<double> first = request(engine, fractions);
    EXPECT_EQ(request(engine, {0.6, 0.05}), (std::vector<double>{5.8, 1.4}));
    EXPECT_EQ(request(engine, fractions), first);
}

TEST(Percentiles, ValueAddedAfterARequestCounts) {
    Percentiles engine = engine_of({1, 2, 3});
    EXPECT_EQ(request(engine, {1, 0.5}), (std::vector<double>{3, 2}));
    engine.add(10);
    EXPECT_EQ(request(engine, {1, 0.5}), (std::vector<double>{10, 2.5}));
}

TEST(Percentiles, FailedRequestLeavesTheValuesUsable) {
    Percentiles engine = engine_of({5, 1, 4, 2, 3});
    EXPECT_FALSE(engine.percentiles(std::vector<double>{0.1, 0.3, 0.6, 0.9, 1.2}).ok());
    EXPECT_EQ(engine.size(), 5u);
    EXPECT_EQ(request(engine, {0, 0.5, 1}), (std::vector<double>{1, 3, 5}));
}

TEST(Percentiles, AdoptedArrayDropsNan) {
    Percentiles engine = Percentiles::from_values({4, std::nan(""), 1, 3, 2});
    EXPECT_EQ(engine.size(), 4u);
    EXPECT_EQ(request(engine, {0.5}), std::vector<double>{2.5});
}

}  // namespace
}  // namespace quelmar::percentiles
