// The percentile engine and the 21-point summary against a plain full sort
// with the same interpolation, and the selection step against its contract.
//
// The first byte picks what the rest of the input drives:
//   0  a request over values read from the input: values added one by one or
//      handed over whole, the request repeated (the cache of settled positions
//      must not change an answer), more values added, asked again;
//   1  the same over many values (past the size where selection first narrows
//      the range around two sampled pivots), expanded from a small pool the
//      input gives, so that duplicates and awkward values stay common;
//   2  the narrowing step with pivots chosen by the input, which must select
//      correctly whatever the pivots are.
// Every outcome is compared with the reference: results bit for bit (two
// zeros compare with ==, since -0 and +0 are equal to the selection), the
// errors by kind, and the fraction quoted in a range error by reading it back.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "percentiles/percentiles.h"
#include "percentiles/selection.h"
#include "src/quality/distribution_summary.h"

namespace {

using quelmar::fuzz::check;
using quelmar::fuzz::fail;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
const std::string kNanMessage = "percentiles can't be nan";
const std::string kRangePrefix = "all percentiles must be between 0 and 1, but got: ";

bool same_result(double actual, double expected) {
    if (actual == 0 && expected == 0) return true;
    return std::bit_cast<std::uint64_t>(actual) == std::bit_cast<std::uint64_t>(expected);
}

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

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

std::vector<double> sorted_usable(const std::vector<double>& values) {
    std::vector<double> sorted;
    for (const double v : values) {
        if (!std::isnan(v)) sorted.push_back(v);
    }
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

// Sorted positions 0 .. n - 1 in the order the engine visits them: coarse
// levels of a bisection first.
std::vector<std::size_t> bisection_order(std::size_t n) {
    std::size_t top = 1;
    while (top < n + 1) top *= 2;
    std::vector<std::size_t> order;
    for (std::size_t stride = top; stride >= 2; stride /= 2) {
        for (std::size_t at = stride / 2 - 1; at < n; at += stride) order.push_back(at);
    }
    return order;
}

// What a request must give: the results, or the error text's kind.
struct Expected {
    std::optional<std::vector<double>> results;  // absent with nothing stored
    std::optional<double> out_of_range;          // the fraction a range error quotes
    bool nan_fraction = false;
};

Expected expect(const std::vector<double>& sorted, std::span<const double> fractions) {
    Expected expected;
    if (sorted.empty()) return expected;
    if (std::any_of(fractions.begin(), fractions.end(), [](double p) { return std::isnan(p); })) {
        expected.nan_fraction = true;
        return expected;
    }
    std::vector<double> by_value(fractions.begin(), fractions.end());
    std::sort(by_value.begin(), by_value.end());
    for (const std::size_t at : bisection_order(by_value.size())) {
        if (by_value[at] < 0 || by_value[at] > 1) {
            expected.out_of_range = by_value[at];
            return expected;
        }
    }
    std::vector<double> results;
    for (const double p : fractions) results.push_back(reference_percentile(sorted, p));
    expected.results = std::move(results);
    return expected;
}

void check_request(quelmar::percentiles::Percentiles& engine, const std::vector<double>& sorted,
                   std::span<const double> fractions) {
    const Expected expected = expect(sorted, fractions);
    auto outcome = engine.percentiles(fractions);
    if (expected.nan_fraction) {
        check(!outcome.ok(), "a NaN fraction was accepted");
        check(outcome.error().message() == kNanMessage, "NaN fraction message",
              outcome.error().message());
        return;
    }
    if (expected.out_of_range) {
        check(!outcome.ok(), "an out-of-range fraction was accepted");
        const std::string& message = outcome.error().message();
        check(message.starts_with(kRangePrefix), "range message", message);
        const std::string quoted = message.substr(kRangePrefix.size());
        check(quoted.find_first_of("eE") == std::string::npos, "exponent in the quoted fraction",
              quoted);
        const double read_back = std::strtod(quoted.c_str(), nullptr);
        check(same_bits(read_back, *expected.out_of_range) ||
                  (read_back == 0 && *expected.out_of_range == 0),
              "the range error quotes another fraction", message);
        return;
    }
    if (!outcome.ok()) fail("a valid request failed", outcome.error().message());
    if (!expected.results) {
        check(!outcome.value().has_value(), "a result over no stored value");
        return;
    }
    check(outcome.value().has_value(), "no result over stored values");
    const std::vector<double>& actual = *outcome.value();
    check(actual.size() == expected.results->size(), "result count");
    for (std::size_t i = 0; i < actual.size(); ++i) {
        if (!same_result(actual[i], (*expected.results)[i])) {
            fail("percentile differs from the full-sort reference",
                 "fraction " + std::to_string(fractions[i]) + ": " + std::to_string(actual[i]) +
                     " instead of " + std::to_string((*expected.results)[i]));
        }
    }
}

void check_summary(const std::vector<double>& values, const std::vector<double>& sorted) {
    const auto summary = quelmar::quality::DistributionSummary::from_values(values);
    const auto entries = summary.percentiles();
    const auto& fractions = quelmar::quality::DistributionSummary::fractions();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const double expected = sorted.empty() ? 0.0 : reference_percentile(sorted, fractions[i]);
        if (!same_result(entries[i], expected)) {
            fail("summary entry differs from the full-sort reference", std::to_string(i));
        }
    }
}

double special_value(std::uint8_t which) {
    static constexpr double kSpecials[] = {0.0,   -0.0,   kInf,   -kInf,   kNan,
                                           1e308, -1e308, 5e-324, -5e-324, 1.0};
    return kSpecials[which % std::size(kSpecials)];
}

double consume_value(FuzzedDataProvider& input) {
    const std::uint8_t kind = input.ConsumeIntegral<std::uint8_t>();
    if (kind < 128) return static_cast<double>(static_cast<int>(kind % 16) - 8) * 0.5;
    if (kind < 192) return special_value(kind);
    return input.ConsumeFloatingPoint<double>();
}

double consume_fraction(FuzzedDataProvider& input) {
    const std::uint8_t kind = input.ConsumeIntegral<std::uint8_t>();
    if (kind < 150) return input.ConsumeProbability<double>();
    if (kind < 200) return static_cast<double>(kind % 21) * 0.05;
    switch (kind % 8) {
        case 0: return kNan;
        case 1: return -0.0;
        case 2: return std::nextafter(0.0, -1.0);
        case 3: return std::nextafter(1.0, 2.0);
        case 4: return kInf;
        case 5: return -kInf;
        case 6: return 1.0;
        default: return input.ConsumeFloatingPoint<double>();
    }
}

std::vector<double> consume_fractions(FuzzedDataProvider& input) {
    std::vector<double> fractions(input.ConsumeIntegralInRange<std::size_t>(0, 40));
    for (double& p : fractions) p = consume_fraction(input);
    return fractions;
}

// Many values from a pool of at most 16: values repeat a lot, as measures of
// real clusterings do, and the pool may hold infinities, zeros and NaN.
std::vector<double> expand_values(FuzzedDataProvider& input) {
    std::vector<double> pool(input.ConsumeIntegralInRange<std::size_t>(1, 16));
    for (double& v : pool) v = consume_value(input);
    const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(1, 70000);
    std::uint64_t state = input.ConsumeIntegral<std::uint64_t>();
    const bool spread = input.ConsumeBool();
    std::vector<double> values(count);
    for (double& v : values) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const std::uint64_t draw = state >> 33;
        // "spread" mixes distinct values in, so that not every pivot equals
        // its neighbours.
        v = spread && draw % 4 == 0 ? static_cast<double>(draw % 100000) : pool[draw % pool.size()];
    }
    return values;
}

void run_direct(FuzzedDataProvider& input) {
    const std::uint8_t feeding = input.ConsumeIntegral<std::uint8_t>();
    std::vector<double> fractions = consume_fractions(input);
    std::vector<double> first;
    std::vector<double> later;
    while (input.remaining_bytes() > 0) {
        (input.ConsumeBool() ? first : later).push_back(consume_value(input));
    }

    quelmar::percentiles::Percentiles engine;
    if (feeding % 3 == 0) {
        for (const double v : first) engine.add(v);
    } else if (feeding % 3 == 1) {
        engine = quelmar::percentiles::Percentiles::from_values(first);
    } else {
        for (std::size_t i = 0; i < first.size() / 2; ++i) engine.add(first[i]);
        engine.adopt(std::vector<double>(first.begin() + first.size() / 2, first.end()));
    }
    std::vector<double> sorted = sorted_usable(first);
    check(engine.size() == sorted.size(), "NaN values were stored");
    check_request(engine, sorted, fractions);
    check_request(engine, sorted, fractions);

    for (const double v : later) engine.add(v);
    std::vector<double> everything = first;
    everything.insert(everything.end(), later.begin(), later.end());
    sorted = sorted_usable(everything);
    check_request(engine, sorted, fractions);
    check_request(engine, sorted, quelmar::quality::DistributionSummary::fractions());
    check_summary(everything, sorted);
}

void run_expanded(FuzzedDataProvider& input) {
    std::vector<double> fractions = consume_fractions(input);
    const std::vector<double> values = expand_values(input);
    const std::vector<double> sorted = sorted_usable(values);
    auto engine = quelmar::percentiles::Percentiles::from_values(values);
    check_request(engine, sorted, fractions);
    check_summary(values, sorted);
}

void run_narrowing(FuzzedDataProvider& input) {
    std::optional<double> lower;
    std::optional<double> upper;
    if (input.ConsumeBool()) lower = consume_value(input);
    if (input.ConsumeBool()) upper = consume_value(input);
    if ((lower && std::isnan(*lower)) || (upper && std::isnan(*upper))) return;
    const std::size_t k_seed = input.ConsumeIntegral<std::size_t>();
    std::vector<double> values = input.ConsumeBool() ? expand_values(input) : [&] {
        std::vector<double> direct;
        while (input.remaining_bytes() > 0) direct.push_back(consume_value(input));
        return direct;
    }();
    std::erase_if(values, [](double v) { return std::isnan(v); });
    if (values.empty()) return;
    const std::size_t k = k_seed % values.size();
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());

    quelmar::percentiles::select_nth_between(values, k, lower, upper);
    check(values[k] == sorted[k], "narrowing selected the wrong value");
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i < k) check(!(values[k] < values[i]), "a greater value before the selected one");
        if (i > k) check(!(values[i] < values[k]), "a smaller value after the selected one");
    }
    std::sort(values.begin(), values.end());
    for (std::size_t i = 0; i < values.size(); ++i) {
        check(values[i] == sorted[i], "narrowing lost or invented a value");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegral<std::uint8_t>() % 3) {
        case 0: run_direct(input); break;
        case 1: run_expanded(input); break;
        default: run_narrowing(input); break;
    }
    return 0;
}
