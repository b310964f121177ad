#include "percentiles/selection.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace quelmar::percentiles {
namespace {

// Below this size std::nth_element alone is as fast as narrowing first.
constexpr std::size_t kNarrowingThreshold = std::size_t{1} << 15;

// Independent accumulators break the dependency chain of a running minimum.
double smallest(std::span<const double> range) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    double m0 = kInf, m1 = kInf, m2 = kInf, m3 = kInf;
    std::size_t i = 0;
    for (; i + 4 <= range.size(); i += 4) {
        m0 = range[i] < m0 ? range[i] : m0;
        m1 = range[i + 1] < m1 ? range[i + 1] : m1;
        m2 = range[i + 2] < m2 ? range[i + 2] : m2;
        m3 = range[i + 3] < m3 ? range[i + 3] : m3;
    }
    for (; i < range.size(); ++i) m0 = range[i] < m0 ? range[i] : m0;
    m0 = m1 < m0 ? m1 : m0;
    m2 = m3 < m2 ? m3 : m2;
    return m2 < m0 ? m2 : m0;
}

double largest(std::span<const double> range) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    double m0 = -kInf, m1 = -kInf, m2 = -kInf, m3 = -kInf;
    std::size_t i = 0;
    for (; i + 4 <= range.size(); i += 4) {
        m0 = range[i] > m0 ? range[i] : m0;
        m1 = range[i + 1] > m1 ? range[i + 1] : m1;
        m2 = range[i + 2] > m2 ? range[i + 2] : m2;
        m3 = range[i + 3] > m3 ? range[i + 3] : m3;
    }
    for (; i < range.size(); ++i) m0 = range[i] > m0 ? range[i] : m0;
    m0 = m1 > m0 ? m1 : m0;
    m2 = m3 > m2 ? m3 : m2;
    return m2 > m0 ? m2 : m0;
}

// Moves an element equal to `value` (which the range holds) to `target`.
void place(std::span<double> range, std::size_t target, double value) {
    const auto found = std::find(range.begin(), range.end(), value);
    std::iter_swap(range.begin() + static_cast<std::ptrdiff_t>(target), found);
}

// Moves the elements satisfying `keep_front` to the front and returns their
// count. Swapping unconditionally avoids the branch mispredictions that make
// a classic partition slow on unpredictable data.
template <class Predicate>
std::size_t partition_front(std::span<double> range, Predicate keep_front) {
    double* const values = range.data();
    std::size_t front = 0;
    for (std::size_t i = 0; i < range.size(); ++i) {
        const double value = values[i];
        values[i] = values[front];
        values[front] = value;
        front += keep_front(value) ? 1 : 0;
    }
    return front;
}

std::uint64_t next_random(std::uint64_t& state) {
    // splitmix64: cheap, well mixed, and fixed so outcomes are reproducible.
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

struct Pivots {
    std::optional<double> lower;
    std::optional<double> upper;
};

// Two values from a sample whose ranks straddle k's expected rank in the
// sample by a few standard deviations, so k almost always falls between them.
Pivots choose_pivots(std::span<const double> range, std::size_t k) {
    const double size = static_cast<double>(range.size());
    const auto sample_size = static_cast<std::size_t>(std::pow(size, 2.0 / 3.0));
    const std::size_t stride = range.size() / sample_size;
    std::vector<double> sample(sample_size);
    std::uint64_t state = range.size() ^ (std::uint64_t{k} << 1);
    for (std::size_t i = 0; i < sample_size; ++i) {
        sample[i] = range[i * stride + next_random(state) % stride];
    }

    const double expected_rank = static_cast<double>(k) / size * static_cast<double>(sample_size);
    const double margin = 2.0 * std::sqrt(static_cast<double>(sample_size));
    auto at_rank = [&](std::size_t from, std::size_t rank) {
        std::nth_element(sample.begin() + static_cast<std::ptrdiff_t>(from),
                         sample.begin() + static_cast<std::ptrdiff_t>(rank), sample.end());
        return sample[rank];
    };
    Pivots pivots;
    std::size_t lower_rank = 0;
    if (expected_rank - margin >= 0) {
        lower_rank = static_cast<std::size_t>(expected_rank - margin);
        pivots.lower = at_rank(0, lower_rank);
    }
    if (expected_rank + margin <= static_cast<double>(sample_size - 1)) {
        pivots.upper = at_rank(lower_rank, static_cast<std::size_t>(expected_rank + margin));
    }
    return pivots;
}

void select_nth_element(std::span<double> range, std::size_t k) {
    std::nth_element(range.begin(), range.begin() + static_cast<std::ptrdiff_t>(k), range.end());
}

}  // namespace

// Splits the range into values below the lower pivot, values between the
// pivots and values above the upper pivot; then selects in the part holding k.
void select_nth_between(std::span<double> range, std::size_t k, std::optional<double> lower,
                        std::optional<double> upper) {
    const auto below = [&](double v) { return v < *lower; };
    const auto not_above = [&](double v) { return !(*upper < v); };

    // The full pass goes first; the second pass then covers only the side
    // nearer to k's end, the smaller one.
    std::size_t window_begin = 0;
    std::size_t window_end = range.size();
    if (k < range.size() / 2) {
        if (upper) window_end = partition_front(range, not_above);
        if (lower) window_begin = partition_front(range.first(window_end), below);
    } else {
        if (lower) window_begin = partition_front(range, below);
        if (upper) {
            window_end = window_begin + partition_front(range.subspan(window_begin), not_above);
        }
    }

    std::span<double> part = range.subspan(window_begin, window_end - window_begin);
    std::size_t k_in_part = k - window_begin;
    if (k < window_begin) {
        part = range.first(window_begin);
        k_in_part = k;
    } else if (k >= window_end) {
        part = range.subspan(window_end);
        k_in_part = k - window_end;
    } else if (lower && upper && *lower == *upper) {
        return;  // every value in the window equals the pivot, so k holds its value
    }
    // Narrowing again pays only while it keeps shrinking the range; a part
    // holding most of it (many equal values) goes straight to nth_element.
    if (part.size() <= range.size() / 2) {
        select_nth(part, k_in_part);
    } else {
        select_nth_element(part, k_in_part);
    }
}

void select_nth(std::span<double> range, std::size_t k) {
    if (k == 0) {
        place(range, 0, smallest(range));
    } else if (k + 1 == range.size()) {
        place(range, k, largest(range));
    } else if (range.size() < kNarrowingThreshold) {
        select_nth_element(range, k);
    } else {
        const Pivots pivots = choose_pivots(range, k);
        select_nth_between(range, k, pivots.lower, pivots.upper);
    }
}

}  // namespace quelmar::percentiles
