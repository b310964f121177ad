#pragma once
// Per cluster of one side, its best match on the other side by Jaccard index
// (ties to the smallest id), from a contingency. Rows are the real clusters
// of the row side, ascending by id; candidates are the real clusters of the
// other side (a singleton of the kSingletons policy has no id to name).
// Sizes are members in the universe. For row cluster r and match m:
//   intersection |r ∩ m|, jaccard |r ∩ m| / |r ∪ m|,
//   precision |r ∩ m| / |m| (the share of the match that lies in r),
//   recall |r ∩ m| / |r| (the share of r that the match recovers),
//   f1 = 2 |r ∩ m| / (|r| + |m|), the harmonic mean of the two.
// A cluster sharing no node with any candidate has no match: matched 0,
// intersection 0, NaN in the four ratios. Columns, so that a binding hands
// them on as arrays.

#include <cstdint>
#include <vector>

#include "src/agreement/contingency.h"
#include "src/base/clustering.h"

namespace quelmar::agreement {

enum class MatchDirection { kAToB, kBToA };

struct MatchTable {
    std::vector<base::ClusterId> id;
    std::vector<std::uint8_t> matched;
    std::vector<base::ClusterId> match;  // 0 where unmatched
    std::vector<std::uint64_t> intersection;
    std::vector<double> jaccard;
    std::vector<double> precision;
    std::vector<double> recall;
    std::vector<double> f1;
};

MatchTable match_table(const Contingency& table, MatchDirection direction);

}  // namespace quelmar::agreement
