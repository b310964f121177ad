#include "percentiles/percentiles.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "percentiles/checked_step.h"
#include "percentiles/shortest_decimal.h"

namespace quelmar::percentiles {
namespace {

constexpr const char* kNanFraction = "percentiles can't be nan";
constexpr const char* kTooManyFractions = "elems to long to efficiently alternate";
constexpr const char* kFractionOutOfRange = "all percentiles must be between 0 and 1, but got: ";

struct RequestedFraction {
    std::uint64_t request_position;
    double fraction;
};

// Saturating conversion: negative values (including -0.0) become position 0.
std::uint64_t to_position(double rounded_rank) {
    return rounded_rank > 0 ? static_cast<std::uint64_t>(rounded_rank) : 0;
}

}  // namespace

Percentiles Percentiles::from_values(std::vector<double> values) {
    Percentiles engine;
    engine.adopt(std::move(values));
    return engine;
}

runtime::Result<std::optional<std::vector<double>>> Percentiles::percentiles(
    std::span<const double> fractions) {
    if (ordering_.empty()) return std::optional<std::vector<double>>();

    std::vector<RequestedFraction> sorted;
    sorted.reserve(fractions.size());
    for (std::size_t i = 0; i < fractions.size(); ++i) {
        sorted.push_back({i, fractions[i]});
    }
    if (std::any_of(fractions.begin(), fractions.end(), [](double p) { return std::isnan(p); })) {
        return runtime::Error(kNanFraction);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const RequestedFraction& a, const RequestedFraction& b) {
                  return a.fraction < b.fraction;
              });

    std::vector<std::optional<double>> slots(sorted.size());
    const std::uint64_t count = sorted.size();
    const std::optional<std::uint64_t> step = checked_step(count);
    if (!step) return runtime::Error(kTooManyFractions);

    // Coarse levels first: by the time a fraction is evaluated, its nearest
    // neighbours at coarser levels have settled the positions that bound its
    // selections.
    for (std::uint64_t stride = *step / 2; stride >= 2; stride /= 2) {
        for (std::uint64_t at = stride / 2 - 1; at < count; at += stride) {
            const double fraction = sorted[at].fraction;
            if (fraction < 0 || fraction > 1) {
                return runtime::Error(kFractionOutOfRange + shortest_decimal(fraction));
            }
            slots[sorted[at].request_position] = evaluate(fraction);
        }
    }

    std::vector<double> results;
    results.reserve(slots.size());
    for (const std::optional<double>& slot : slots) results.push_back(*slot);
    return std::optional<std::vector<double>>(std::move(results));
}

double Percentiles::evaluate(double fraction) {
    const std::uint64_t last_position = ordering_.size() - 1;
    const double rank = fraction * static_cast<double>(last_position);
    const std::uint64_t lo = std::min(to_position(std::floor(rank)), last_position);
    const std::uint64_t hi = std::min(to_position(std::ceil(rank)), last_position);
    const double below = *ordering_.order_index(lo);
    // The interpolation weights one neighbour by zero when the rank is whole;
    // 0 x inf would turn an infinite order statistic into NaN.
    if (lo == hi) return below;
    const double above = *ordering_.order_index(hi);
    const double weight = rank - static_cast<double>(lo);
    const double upper_part = weight * above;
    const double lower_part = (1 - weight) * below;
    return upper_part + lower_part;
}

}  // namespace quelmar::percentiles
