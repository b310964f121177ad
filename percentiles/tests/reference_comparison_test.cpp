// The engine against a plain full sort with the same interpolation, over many
// sizes and awkward values (duplicates, infinities, both zeros, NaN).
//
// Results are compared bit for bit, except that two zeros compare with ==:
// -0.0 and +0.0 are equal to the selection, so which of them lands on a
// position is not defined, and an interpolation between zeros may come out
// with either sign. A nonzero result cannot depend on that choice.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "percentiles/percentiles.h"

namespace quelmar::percentiles {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

double reference_percentile(const std::vector<double>& sorted, double fraction) {
    const double rank = fraction * static_cast<double>(sorted.size() - 1);
    const auto lo = static_cast<std::size_t>(std::floor(rank));
    const auto hi = static_cast<std::size_t>(std::ceil(rank));
    if (lo == hi) return sorted[lo];
    const double weight = rank - static_cast<double>(lo);
    const double upper_part = weight * sorted[hi];
    const double lower_part = (1 - weight) * sorted[lo];
    return upper_part + lower_part;
}

bool same_result(double actual, double expected) {
    if (actual == 0 && expected == 0) return true;
    return std::bit_cast<std::uint64_t>(actual) == std::bit_cast<std::uint64_t>(expected);
}

class ValueSource {
public:
    explicit ValueSource(std::uint32_t seed) : random_(seed) {}

    std::vector<double> values(std::size_t count) {
        // A narrow pool makes duplicates common for small sizes; some runs
        // draw wide-ranging values instead.
        const bool narrow = pick(2) == 0;
        std::vector<double> values(count);
        for (double& v : values) {
            switch (pick(20)) {
                case 0: v = std::nan(""); break;
                case 1: v = kInf; break;
                case 2: v = -kInf; break;
                case 3: v = -0.0; break;
                case 4: v = 0.0; break;
                default:
                    v = narrow ? static_cast<double>(static_cast<int>(pick(11)) - 5) * 0.5
                               : std::uniform_real_distribution<double>(-1e6, 1e6)(random_);
            }
        }
        return values;
    }

    std::vector<double> fractions() {
        std::vector<double> fractions;
        const std::size_t count = pick(40);
        for (std::size_t i = 0; i < count; ++i) {
            switch (pick(6)) {
                case 0: fractions.push_back(0.0); break;
                case 1: fractions.push_back(1.0); break;
                case 2: fractions.push_back(static_cast<double>(pick(20)) * 0.05); break;
                case 3:
                    if (!fractions.empty()) fractions.push_back(fractions[pick(fractions.size())]);
                    break;
                default: fractions.push_back(std::uniform_real_distribution<double>(0, 1)(random_));
            }
        }
        return fractions;
    }

    std::size_t pick(std::size_t bound) {
        return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random_);
    }

private:
    std::mt19937_64 random_;
};

void expect_matches_reference(Percentiles& engine, std::vector<double> sorted,
                              const std::vector<double>& fractions) {
    auto outcome = engine.percentiles(fractions);
    ASSERT_TRUE(outcome.ok()) << outcome.error().message();
    if (sorted.empty()) {
        EXPECT_FALSE(outcome.value().has_value());
        return;
    }
    ASSERT_TRUE(outcome.value().has_value());
    const std::vector<double>& results = *outcome.value();
    ASSERT_EQ(results.size(), fractions.size());
    for (std::size_t i = 0; i < fractions.size(); ++i) {
        const double expected = reference_percentile(sorted, fractions[i]);
        EXPECT_TRUE(same_result(results[i], expected))
            << "fraction " << fractions[i] << " of " << sorted.size() << " values: got "
            << results[i] << ", expected " << expected;
    }
}

std::vector<double> sorted_without_nan(const std::vector<double>& values) {
    std::vector<double> sorted;
    for (const double v : values) {
        if (!std::isnan(v)) sorted.push_back(v);
    }
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

TEST(ReferenceComparison, ManySizesAndRequests) {
    ValueSource source(20240611);
    std::vector<std::size_t> sizes;
    for (std::size_t n = 0; n <= 70; ++n) sizes.push_back(n);
    for (int i = 0; i < 200; ++i) sizes.push_back(1 + source.pick(3000));
    sizes.insert(sizes.end(), {65536, 100001});

    for (const std::size_t size : sizes) {
        const std::vector<double> values = source.values(size);
        const std::vector<double> sorted = sorted_without_nan(values);
        // Values fed one by one for some engines, adopted whole for others.
        Percentiles engine;
        if (size % 2 == 0) {
            for (const double v : values) engine.add(v);
        } else {
            engine.adopt(values);
        }
        // Several requests on one engine reuse and extend its settled positions.
        for (int round = 0; round < 3; ++round) {
            expect_matches_reference(engine, sorted, source.fractions());
        }
    }
}

TEST(ReferenceComparison, TwentyOneFixedFractions) {
    std::vector<double> fractions{0.0};
    for (int i = 1; i < 20; ++i) fractions.push_back(static_cast<double>(i) * 0.05);
    fractions.push_back(1.0);

    ValueSource source(7);
    for (std::size_t size = 1; size <= 500; size += 1 + size / 10) {
        const std::vector<double> values = source.values(size);
        Percentiles engine = Percentiles::from_values(values);
        expect_matches_reference(engine, sorted_without_nan(values), fractions);
    }
}

TEST(ReferenceComparison, AddingAfterRequestsStaysCorrect) {
    ValueSource source(99);
    std::vector<double> all;
    Percentiles engine;
    for (int batch = 0; batch < 20; ++batch) {
        const std::vector<double> more = source.values(1 + source.pick(200));
        for (const double v : more) engine.add(v);
        all.insert(all.end(), more.begin(), more.end());
        expect_matches_reference(engine, sorted_without_nan(all), source.fractions());
    }
}

}  // namespace
}  // namespace quelmar::percentiles
