#pragma once
// Stored doubles plus the positions already known to hold their final sorted
// value. A settled position k holds the k-th smallest value (0-based), nothing
// before it is greater and nothing after it is smaller; every settled position
// satisfies this at once. Order statistics are placed by selection inside the
// gap between the nearest settled positions, so earlier settlements stay valid
// and the values are never fully sorted.
//
// NaN is never stored: it has no place in the order. Storing any value empties
// the settled positions, since the new value may belong anywhere.

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <vector>

namespace quelmar::percentiles {

class CachedOrdering {
public:
    CachedOrdering() = default;
    CachedOrdering(const CachedOrdering&) = delete;
    CachedOrdering& operator=(const CachedOrdering&) = delete;
    CachedOrdering(CachedOrdering&&) noexcept = default;
    CachedOrdering& operator=(CachedOrdering&&) noexcept = default;

    // Stores the value unless it is NaN.
    void add(double value);
    // Stores every non-NaN value of `values`. When nothing is stored yet the
    // array itself is taken over (NaNs removed in place), so no copy is made.
    void adopt(std::vector<double> values);

    // The k-th smallest stored value; k becomes settled. Empty when k is not a
    // position of the stored values.
    std::optional<double> order_index(std::uint64_t k);

    std::size_t size() const noexcept { return values_.size(); }
    bool empty() const noexcept { return values_.empty(); }
    // In insertion order until order_index rearranges them.
    std::span<const double> values() const noexcept { return values_; }
    const std::set<std::uint64_t>& settled_positions() const noexcept { return settled_; }

private:
    std::vector<double> values_;
    std::set<std::uint64_t> settled_;
};

}  // namespace quelmar::percentiles
