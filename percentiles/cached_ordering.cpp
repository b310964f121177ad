#include "percentiles/cached_ordering.h"

#include <cmath>
#include <iterator>
#include <utility>

#include "percentiles/selection.h"

namespace quelmar::percentiles {

void CachedOrdering::add(double value) {
    if (std::isnan(value)) return;
    values_.push_back(value);
    settled_.clear();
}

void CachedOrdering::adopt(std::vector<double> values) {
    std::erase_if(values, [](double v) { return std::isnan(v); });
    if (values.empty()) return;
    if (values_.empty()) {
        values_ = std::move(values);
    } else {
        values_.insert(values_.end(), values.begin(), values.end());
    }
    settled_.clear();
}

std::optional<double> CachedOrdering::order_index(std::uint64_t k) {
    if (k >= values_.size()) return std::nullopt;
    const auto [position, inserted] = settled_.insert(k);
    if (!inserted) return values_[k];

    const std::uint64_t lo = position == settled_.begin() ? 0 : *std::prev(position) + 1;
    const auto after = std::next(position);
    const std::uint64_t hi = after == settled_.end() ? values_.size() : *after;

    select_nth(std::span<double>(values_).subspan(lo, hi - lo), k - lo);
    return values_[k];
}

}  // namespace quelmar::percentiles
