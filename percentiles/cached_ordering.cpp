#include "percentiles/cached_ordering.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

namespace percentiles {

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

    const auto first = values_.begin() + static_cast<std::ptrdiff_t>(lo);
    const auto target = values_.begin() + static_cast<std::ptrdiff_t>(k);
    const auto last = values_.begin() + static_cast<std::ptrdiff_t>(hi);
    // A request usually asks for the neighbour just past a settled position
    // (the upper end of an interpolation); one scan finds that extreme, where a
    // general selection would partition the whole gap several times.
    if (target == first) {
        std::iter_swap(first, std::min_element(first, last));
    } else if (target + 1 == last) {
        std::iter_swap(target, std::max_element(first, last));
    } else {
        std::nth_element(first, target, last);
    }
    return values_[k];
}

}  // namespace percentiles
