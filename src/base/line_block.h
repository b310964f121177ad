#pragma once
// Parses a block of whole lines held in memory, such as one piece of a file
// that is read in parallel: lines end at a line feed (the last needs none, so
// a block that ends in one has no empty last line), and each is tokenised and
// judged exactly as the loaders do (LineScanner, line_rules.h). The values of
// the first two tokens of every line come out in line order: (from, to) for
// an edge list, (node name, cluster id) for a clustering.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quelmar::base {

enum class LineFormat { kEdges, kMemberships };

struct LineFailure {
    std::size_t line_index;  // 0-based, within the block
    std::string message;     // the loader's message for that line
};

struct ParsedLines {
    std::vector<std::uint64_t> first;
    std::vector<std::uint64_t> second;
    std::optional<LineFailure> failure;  // the first bad line; values then incomplete
};

ParsedLines parse_line_block(std::span<const unsigned char> bytes, LineFormat format);

// The first token of a line, exactly as written; empty when the line has no
// valid first token.
std::string first_token_as_written(std::span<const unsigned char> line);

}  // namespace quelmar::base
