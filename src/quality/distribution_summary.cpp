#include "src/quality/distribution_summary.h"

#include <algorithm>
#include <utility>

#include "percentiles/percentiles.h"

namespace quelmar::quality {
namespace {

DistributionSummary::Entries make_fractions() {
    DistributionSummary::Entries fractions{};
    // Products rather than i / 20: they differ in the last bit at several
    // entries, and the products are the fractions this summary is defined by.
    for (std::size_t i = 1; i + 1 < DistributionSummary::kEntries; ++i) {
        fractions[i] = static_cast<double>(i) * 0.05;
    }
    fractions.back() = 1.0;
    return fractions;
}

}  // namespace

DistributionSummary::DistributionSummary() : entries_(std::make_unique<Entries>()) {}

DistributionSummary::DistributionSummary(std::unique_ptr<Entries> entries)
    : entries_(std::move(entries)) {}

DistributionSummary::DistributionSummary(const DistributionSummary& other)
    : entries_(other.entries_ ? std::make_unique<Entries>(*other.entries_) : nullptr) {}

DistributionSummary& DistributionSummary::operator=(const DistributionSummary& other) {
    if (this != &other) *this = DistributionSummary(other);
    return *this;
}

const std::array<double, DistributionSummary::kEntries>& DistributionSummary::fractions() noexcept {
    static const Entries fractions = make_fractions();
    return fractions;
}

DistributionSummary DistributionSummary::from_values(std::vector<double> values) {
    auto engine = percentiles::Percentiles::from_values(std::move(values));
    auto outcome = engine.percentiles(fractions());
    auto entries = std::make_unique<Entries>();
    // No usable value, or an engine error (impossible with these fractions),
    // leaves the all-zero summary.
    if (outcome.ok() && outcome.value().has_value()) {
        const std::vector<double>& results = *outcome.value();
        std::copy(results.begin(), results.end(), entries->begin());
    }
    return DistributionSummary(std::move(entries));
}

}  // namespace quelmar::quality
