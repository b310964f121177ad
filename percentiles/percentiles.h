#pragma once
// The percentile engine: collects doubles (NaN skipped) and answers requests
// for several percentiles at once. A percentile at fraction p (0 <= p <= 1) is
// the linear interpolation between the order statistics around the rank
// p x (n - 1), n being the number of stored values.
//
// The values are never fully sorted: fractions are visited in bisection order
// so that each one is placed by at most two selections inside the gap left
// between positions settled for earlier fractions.
//
// A request is logically read-only but rearranges the cached ordering, so an
// engine belongs to one thread at a time. Results do not depend on earlier
// requests.

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "percentiles/cached_ordering.h"
#include "runtime/result.h"

namespace quelmar::percentiles {

class Percentiles {
public:
    Percentiles() = default;
    // An engine that takes the array over, dropping its NaNs in place.
    static Percentiles from_values(std::vector<double> values);

    Percentiles(const Percentiles&) = delete;
    Percentiles& operator=(const Percentiles&) = delete;
    Percentiles(Percentiles&&) noexcept = default;
    Percentiles& operator=(Percentiles&&) noexcept = default;

    // Stores the value unless it is NaN.
    void add(double value) { ordering_.add(value); }
    // Stores every non-NaN value; the array is taken over when the engine is
    // still empty.
    void adopt(std::vector<double> values) { ordering_.adopt(std::move(values)); }

    std::size_t size() const noexcept { return ordering_.size(); }

    // One value per requested fraction, in request order. With nothing stored
    // the outcome is empty and the fractions are not examined. Otherwise fails
    // with "percentiles can't be nan" when any fraction is NaN, and with
    // "all percentiles must be between 0 and 1, but got: <p>" for the first
    // fraction outside [0, 1] met in bisection order. Every failure leaves the
    // stored values in place.
    runtime::Result<std::optional<std::vector<double>>> percentiles(
        std::span<const double> fractions);

private:
    double evaluate(double fraction);

    CachedOrdering ordering_;
};

}  // namespace quelmar::percentiles
