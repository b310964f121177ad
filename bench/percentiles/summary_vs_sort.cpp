// Times the 21-point summary of many doubles against the same summary taken
// from a full std::sort, side by side in one run, and checks that both agree.
//
// Usage: bench_summary_vs_sort [count (default 10000000)] [rounds (default 5)]
//
// Each round gives both methods a fresh copy of the same values (copied
// outside the timed region); the summary consumes its copy by move. The best
// time of each method over the rounds is reported, with the ratio.

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <span>
#include <vector>

#include "src/quality/distribution_summary.h"

namespace {

using Clock = std::chrono::steady_clock;
using Entries = quelmar::quality::DistributionSummary::Entries;

Entries summary_by_full_sort(std::vector<double>& values) {
    std::sort(values.begin(), values.end());
    Entries entries{};
    const auto& fractions = quelmar::quality::DistributionSummary::fractions();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const double rank = fractions[i] * static_cast<double>(values.size() - 1);
        const auto lo = static_cast<std::size_t>(std::floor(rank));
        const auto hi = static_cast<std::size_t>(std::ceil(rank));
        if (lo == hi) {
            entries[i] = values[lo];
            continue;
        }
        const double weight = rank - static_cast<double>(lo);
        const double upper_part = weight * values[hi];
        const double lower_part = (1 - weight) * values[lo];
        entries[i] = upper_part + lower_part;
    }
    return entries;
}

bool same_entries(std::span<const double> a, const Entries& b) {
    for (std::size_t i = 0; i < b.size(); ++i) {
        const bool zeros = a[i] == 0 && b[i] == 0;
        if (!zeros && std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i])) {
            return false;
        }
    }
    return true;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Returns false when the two methods disagree.
bool compare(const char* label, const std::vector<double>& data, int rounds) {
    double best_summary = 1e300;
    double best_sort = 1e300;
    bool agree = true;
    for (int round = 0; round < rounds; ++round) {
        std::vector<double> for_summary = data;
        std::vector<double> for_sort = data;

        // Alternate which method runs first, so cache and frequency effects
        // do not favour one of them.
        quelmar::quality::DistributionSummary summary;
        Entries sorted_entries{};
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + round) % 2 == 0) {
                const auto start = Clock::now();
                summary =
                    quelmar::quality::DistributionSummary::from_values(std::move(for_summary));
                best_summary = std::min(best_summary, seconds_since(start));
            } else {
                const auto start = Clock::now();
                sorted_entries = summary_by_full_sort(for_sort);
                best_sort = std::min(best_sort, seconds_since(start));
            }
        }
        agree = agree && same_entries(summary.percentiles(), sorted_entries);
    }
    std::printf("%-22s n=%zu  summary %8.1f ms  full sort %8.1f ms  ratio %5.2fx  %s\n", label,
                data.size(), best_summary * 1e3, best_sort * 1e3, best_sort / best_summary,
                agree ? "results identical" : "RESULTS DIFFER");
    return agree;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10'000'000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (count == 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: %s [count > 0] [rounds > 0]\n", argv[0]);
        return 2;
    }

    std::mt19937_64 random(42);
    std::vector<double> data(count);

    std::uniform_real_distribution<double> uniform(-1e6, 1e6);
    for (double& v : data) v = uniform(random);
    bool agree = compare("uniform doubles", data, rounds);

    // Per-cluster statistics such as sizes and degrees repeat a lot.
    std::geometric_distribution<int> small_counts(0.01);
    for (double& v : data) v = static_cast<double>(small_counts(random));
    agree = compare("repeating integers", data, rounds) && agree;

    return agree ? 0 : 1;
}
