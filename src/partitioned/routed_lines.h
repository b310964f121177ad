#pragma once
// One block of text lines as the companion's Dask path sends it on, in one
// pass: parsed as the loaders do (base::parse_line_block), every name and id
// scrambled, an edge ordered as (lo, hi) with lo <= hi, a membership given
// its position, and the rows grouped by partition_of their first column
// (partition_joins.h), each group in line order.
//
// scramble is a bijection of the 64-bit integers that spreads a name's bits
// over the whole word (xor-shifts and odd multipliers, the finaliser of
// SplitMix64); the package's Python side inverts it where ids are shown.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "src/base/line_block.h"
#include "src/partitioned/partition_joins.h"

namespace quelmar::partitioned {

constexpr std::uint64_t scramble(std::uint64_t z) noexcept {
    z ^= z >> 30;
    z *= 0xBF58476D1CE4E5B9ULL;
    z ^= z >> 27;
    z *= 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return z;
}

struct RoutedLines {
    Column offsets;  // parts + 1 items, as in Routing
    // Edges: lo, hi. Memberships: node, cluster, pos (first_position plus the
    // byte offset of the line in the block).
    std::vector<Column> columns;
    std::optional<base::LineFailure> failure;  // the block's first bad line; no rows then
};

// parts >= 1.
RoutedLines route_lines(std::span<const unsigned char> bytes, base::LineFormat format,
                        std::uint64_t first_position, std::uint64_t parts);

}  // namespace quelmar::partitioned
