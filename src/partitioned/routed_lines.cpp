// route_lines (routed_lines.h): the parser's two columns are scrambled in
// place, then every column is scattered once into its partition's group.

#include "src/partitioned/routed_lines.h"

#include <cstring>
#include <utility>

namespace quelmar::partitioned {
namespace {

// The byte offset of each of the first `count` lines of the block.
Column line_starts(std::span<const unsigned char> bytes, std::size_t count) {
    Column starts(count);
    std::size_t line = 0, at = 0;
    while (line < count) {
        starts[line++] = at;
        const void* feed = std::memchr(bytes.data() + at, '\n', bytes.size() - at);
        if (!feed) break;
        at = static_cast<const unsigned char*>(feed) - bytes.data() + 1;
    }
    return starts;
}

}  // namespace

RoutedLines route_lines(std::span<const unsigned char> bytes, base::LineFormat format,
                        std::uint64_t first_position, std::uint64_t parts) {
    const bool memberships = format == base::LineFormat::kMemberships;
    RoutedLines out;
    out.offsets.assign(parts + 1, 0);
    out.columns.resize(memberships ? 3 : 2);
    base::ParsedLines parsed = base::parse_line_block(bytes, format);
    if (parsed.failure) {
        out.failure = std::move(parsed.failure);
        return out;
    }
    Column& first = parsed.first;
    Column& second = parsed.second;
    const std::size_t n = first.size();
    for (std::size_t i = 0; i < n; ++i) {
        std::uint64_t a = scramble(first[i]), b = scramble(second[i]);
        if (!memberships && b < a) std::swap(a, b);
        first[i] = a;
        second[i] = b;
    }
    Column position;
    if (memberships) {
        position = line_starts(bytes, n);
        for (std::uint64_t& p : position) p += first_position;
    }

    Column part(n);
    for (std::size_t i = 0; i < n; ++i) {
        part[i] = partition_of(first[i], parts);
        ++out.offsets[part[i] + 1];
    }
    for (std::uint64_t p = 0; p < parts; ++p) out.offsets[p + 1] += out.offsets[p];
    const Column* sources[3] = {&first, &second, &position};
    for (std::size_t c = 0; c < out.columns.size(); ++c) {
        Column& column = out.columns[c];
        column.resize(n);
        Column next(out.offsets.begin(), out.offsets.end() - 1);
        const Column& source = *sources[c];
        for (std::size_t i = 0; i < n; ++i) column[next[part[i]]++] = source[i];
    }
    return out;
}

}  // namespace quelmar::partitioned
