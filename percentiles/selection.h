#pragma once
// Selection of the k-th smallest double inside one range: afterwards range[k]
// holds the k-th smallest value (0-based), no element before it is greater and
// no element after it is smaller. Doubles compare numerically (-0 == +0); the
// range must hold no NaN. Elements outside the range are never touched.
//
// Large ranges are first narrowed around k between two pivots drawn from a
// sample (a branchless partition pass or two), so std::nth_element only works
// on a small window; the extremes of a range take one scan. The outcome is
// deterministic: the sample positions come from a fixed pseudo-random sequence.

#include <cstddef>
#include <optional>
#include <span>

namespace quelmar::percentiles {

void select_nth(std::span<double> range, std::size_t k);

// The narrowing step with given pivots (absent: no bound on that side); the
// selection is correct whatever the pivots, good pivots only make it fast.
// Exposed so the paths taken when k falls outside the pivots can be tested.
void select_nth_between(std::span<double> range, std::size_t k, std::optional<double> lower,
                        std::optional<double> upper);

}  // namespace quelmar::percentiles
