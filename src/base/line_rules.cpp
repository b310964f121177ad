#include "src/base/line_rules.h"

#include <algorithm>

#include "src/base/line_tokenizer.h"

namespace quelmar::base {
namespace {

constexpr std::string_view kMissingFrom = "missing from";
constexpr std::string_view kMissingTo = "missing to";
constexpr std::string_view kMissingNodeName = "missing node_name";
constexpr std::string_view kMissingClusterId = "missing cluster_id";
constexpr std::string_view kInvalidClusterId = "invalid cluster_id";

// The length of the UTF-8 sequence at `at` (the line is valid UTF-8) and its
// code point.
std::size_t decode(std::span<const unsigned char> line, std::size_t at, char32_t& c) {
    const unsigned char lead = line[at];
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length && at + i < line.size(); ++i)
        c = (c << 6) | (line[at + i] & 0x3F);
    return length;
}

// Token `index` (0-based) of a valid UTF-8 line, as its bytes; empty when
// the line has fewer tokens.
std::string token_as_written(std::span<const unsigned char> line, std::size_t index) {
    std::size_t at = 0, seen = 0;
    char32_t c;
    while (at < line.size()) {
        const std::size_t length = decode(line, at, c);
        if (is_white_space(c)) {
            at += length;
            continue;
        }
        const std::size_t begin = at;
        while (at < line.size()) {
            const std::size_t next = decode(line, at, c);
            if (is_white_space(c)) break;
            at = std::min(line.size(), at + next);
        }
        if (seen++ == index) {
            return std::string(reinterpret_cast<const char*>(line.data()) + begin, at - begin);
        }
    }
    return {};
}

}  // namespace

std::optional<std::string_view> edge_line_error(const LineTokens* line) {
    if (!line) return kInvalidUtf8;
    if (line->count == 0) return kMissingFrom;
    if (line->count == 1) return kMissingTo;
    if (!line->first.valid()) return line->first.error_message();
    if (!line->second.valid()) return line->second.error_message();
    return std::nullopt;
}

std::optional<std::string_view> membership_line_error(const LineTokens* line) {
    if (!line) return kInvalidUtf8;
    if (line->count == 0) return kMissingNodeName;
    if (line->count == 1) return kMissingClusterId;
    if (!line->second.valid()) return kInvalidClusterId;
    if (!line->first.valid()) return line->first.error_message();
    return std::nullopt;
}

std::string edge_failure_token(const LineTokens* tokens, std::span<const unsigned char> line) {
    if (!tokens || tokens->count < 2) return {};
    return token_as_written(line, tokens->first.valid() ? 1 : 0);
}

std::string membership_failure_token(const LineTokens* tokens,
                                     std::span<const unsigned char> line) {
    if (!tokens || tokens->count < 2) return {};
    return token_as_written(line, tokens->second.valid() ? 0 : 1);
}

std::string unknown_node_message(std::string_view node_as_written, std::uint64_t cluster) {
    return "node " + std::string(node_as_written) + " requested in cluster " +
           std::to_string(cluster) + " not found in graph";
}

std::string unresolved_node_message(std::string_view node_as_written, std::uint64_t cluster) {
    return unknown_node_message(node_as_written, cluster) + ", and is not singleton";
}

}  // namespace quelmar::base
