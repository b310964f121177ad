#include "percentiles/selection.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace quelmar::percentiles {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<double> sorted_copy(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values;
}

// Selects position k of the middle of a padded copy and checks the selection
// condition, that the padding is untouched and that no value was lost.
using Selector = std::function<void(std::span<double>, std::size_t)>;

void expect_selects(const std::vector<double>& values, const std::vector<double>& sorted,
                    std::size_t k, const std::string& label, const Selector& select = select_nth) {
    constexpr std::size_t kPadding = 3;
    std::vector<double> padded(kPadding, -1e300);
    padded.insert(padded.end(), values.begin(), values.end());
    padded.insert(padded.end(), kPadding, 1e300);
    std::span<double> range(padded.data() + kPadding, values.size());

    select(range, k);

    ASSERT_EQ(range[k], sorted[k]) << label << " k=" << k;
    const double chosen = range[k];
    EXPECT_TRUE(std::all_of(range.begin(), range.begin() + static_cast<long>(k),
                            [&](double v) { return v <= chosen; }))
        << label << " k=" << k;
    EXPECT_TRUE(std::all_of(range.begin() + static_cast<long>(k), range.end(),
                            [&](double v) { return v >= chosen; }))
        << label << " k=" << k;
    for (std::size_t i = 0; i < kPadding; ++i) {
        EXPECT_EQ(padded[i], -1e300);
        EXPECT_EQ(padded[padded.size() - 1 - i], 1e300);
    }
    std::vector<double> after(range.begin(), range.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, sorted) << label;
}

struct Pattern {
    std::string name;
    std::function<double(std::size_t i, std::size_t n, std::mt19937_64& random)> value;
};

const std::vector<Pattern>& patterns() {
    static const std::vector<Pattern> all{
        {"uniform",
         [](std::size_t, std::size_t, std::mt19937_64& r) {
             return std::uniform_real_distribution<double>(-1, 1)(r);
         }},
        {"ascending", [](std::size_t i, std::size_t, std::mt19937_64&) { return double(i); }},
        {"descending",
         [](std::size_t i, std::size_t n, std::mt19937_64&) { return double(n - i); }},
        {"all equal", [](std::size_t, std::size_t, std::mt19937_64&) { return 4.0; }},
        {"two values", [](std::size_t i, std::size_t, std::mt19937_64&) { return double(i % 2); }},
        {"few values",
         [](std::size_t, std::size_t, std::mt19937_64& r) { return double(r() % 5); }},
        {"mostly one value",
         [](std::size_t, std::size_t, std::mt19937_64& r) {
             return r() % 50 == 0 ? double(r() % 1000) : 7.0;
         }},
        {"sawtooth", [](std::size_t i, std::size_t, std::mt19937_64&) { return double(i % 97); }},
        {"signed zeros and infinities",
         [](std::size_t, std::size_t, std::mt19937_64& r) {
             const double choices[] = {-0.0, 0.0, kInf, -kInf, 1.0, -1.0};
             return choices[r() % 6];
         }},
        {"organ pipe", [](std::size_t i, std::size_t n,
                          std::mt19937_64&) { return double(i < n / 2 ? i : n - i); }},
    };
    return all;
}

TEST(Selection, SmallRanges) {
    std::mt19937_64 random(1);
    for (std::size_t n = 1; n <= 40; ++n) {
        for (const Pattern& pattern : patterns()) {
            std::vector<double> values(n);
            for (std::size_t i = 0; i < n; ++i) values[i] = pattern.value(i, n, random);
            const std::vector<double> sorted = sorted_copy(values);
            for (std::size_t k = 0; k < n; ++k) expect_selects(values, sorted, k, pattern.name);
        }
    }
}

// Large enough to take the narrowing path, at ranks near the ends, near the
// pivots' margins and in the middle.
TEST(Selection, LargeRangesOfEveryShape) {
    std::mt19937_64 random(2);
    for (const std::size_t n : {std::size_t{1} << 15, std::size_t{200003}}) {
        for (const Pattern& pattern : patterns()) {
            std::vector<double> values(n);
            for (std::size_t i = 0; i < n; ++i) values[i] = pattern.value(i, n, random);
            const std::vector<double> sorted = sorted_copy(values);
            for (const std::size_t k :
                 {std::size_t{0}, std::size_t{1}, std::size_t{17}, n / 100, n / 20, n / 3, n / 2,
                  n / 2 + 1, 3 * n / 4, n - 300, n - 2, n - 1}) {
                expect_selects(values, sorted, k, pattern.name);
            }
        }
    }
}

// Pivots that miss k on either side, coincide, or bound only one side: the
// result must not depend on how good the pivots are.
TEST(Selection, AnyPivotsGiveTheRightElement) {
    std::mt19937_64 random(3);
    for (const std::size_t n : {std::size_t{50}, std::size_t{40000}}) {
        for (const Pattern& pattern : patterns()) {
            std::vector<double> values(n);
            for (std::size_t i = 0; i < n; ++i) values[i] = pattern.value(i, n, random);
            const std::vector<double> sorted = sorted_copy(values);
            for (const std::size_t k : {std::size_t{1}, n / 10, n / 2, n - 10, n - 2}) {
                const double at_k = sorted[k];
                const double low = sorted[n / 20];
                const double high = sorted[n - n / 20 - 1];
                using Bounds = std::pair<std::optional<double>, std::optional<double>>;
                for (const auto& [lower, upper] :
                     {Bounds{low, high}, Bounds{high, high}, Bounds{low, low}, Bounds{at_k, at_k},
                      Bounds{std::nullopt, low}, Bounds{high, std::nullopt},
                      Bounds{std::nullopt, std::nullopt}, Bounds{high, low}, Bounds{-kInf, kInf}}) {
                    expect_selects(values, sorted, k, pattern.name + " between pivots",
                                   [&](std::span<double> range, std::size_t target) {
                                       select_nth_between(range, target, lower, upper);
                                   });
                }
            }
        }
    }
}

}  // namespace
}  // namespace quelmar::percentiles
