#pragma once
// A distribution condensed into 21 percentiles: entry i holds the percentile
// at fraction 0.0 (i = 0), i * 0.05 as a double product (i = 1 .. 19), or 1.0
// (i = 20), interpolated linearly between the order statistics around the
// rank fraction x (n - 1). Entry 0 is the minimum, 10 the median, 20 the
// maximum. NaN values are left out; with no usable value every entry is 0.0.
// Building never fails.
// The record is 21 doubles behind one pointer; copies are deep. A moved-from
// summary may only be assigned to, copied or destroyed.

#include <array>
#include <memory>
#include <span>
#include <vector>

namespace quelmar::quality {

class DistributionSummary {
public:
    static constexpr std::size_t kEntries = 21;
    using Entries = std::array<double, kEntries>;

    // All zeros.
    DistributionSummary();
    // Consumes the values: the array itself becomes the engine's storage (NaNs
    // dropped in place, order statistics selected, never fully sorted).
    static DistributionSummary from_values(std::vector<double> values);

    DistributionSummary(const DistributionSummary& other);
    DistributionSummary& operator=(const DistributionSummary& other);
    DistributionSummary(DistributionSummary&&) noexcept = default;
    DistributionSummary& operator=(DistributionSummary&&) noexcept = default;

    double minimum() const noexcept { return (*entries_)[0]; }
    double median() const noexcept { return (*entries_)[10]; }
    double maximum() const noexcept { return (*entries_)[20]; }
    std::span<const double, kEntries> percentiles() const noexcept { return *entries_; }

    // The 21 requested fractions, in entry order.
    static const std::array<double, kEntries>& fractions() noexcept;

private:
    explicit DistributionSummary(std::unique_ptr<Entries> entries);
    std::unique_ptr<Entries> entries_;
};

using SummarizedDistribution = DistributionSummary;

}  // namespace quelmar::quality
