#pragma once
// A loop whose every item touches a random place of a table far larger than
// the caches (a name lookup, a counter of a random node): each access would
// miss, so the place of the item kLookaheadDistance ahead is prefetched while
// the current one is visited.

#include <algorithm>
#include <cstddef>

namespace quelmar::base {

inline constexpr std::size_t kLookaheadDistance = 16;

// Calls prefetch(i) for each i in [0, count) `distance` items ahead of
// visit(i), in order.
template <std::size_t distance = kLookaheadDistance, class Prefetch, class Visit>
void visit_with_lookahead(std::size_t count, Prefetch&& prefetch, Visit&& visit) {
    for (std::size_t i = 0; i < std::min(count, distance); ++i) prefetch(i);
    for (std::size_t i = 0; i < count; ++i) {
        if (i + distance < count) prefetch(i + distance);
        visit(i);
    }
}

}  // namespace quelmar::base
