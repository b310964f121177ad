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

}  // namespace

std::string token_as_written(std::span<const unsigned char> line, std::size_t index) {
    std::size_t at = 0, seen = 0;
    char32_t c;
    while (at < line.size()) {
        const std::size_t length =
            decode_valid_utf8(line.data() + at, line.data() + line.size(), c);
        if (is_white_space(c)) {
            at += length;
            continue;
        }
        const std::size_t begin = at;
        while (at < line.size()) {
            const std::size_t next =
                decode_valid_utf8(line.data() + at, line.data() + line.size(), c);
            if (is_white_space(c)) break;
            at = std::min(line.size(), at + next);
        }
        if (seen++ == index) {
            return std::string(reinterpret_cast<const char*>(line.data()) + begin, at - begin);
        }
    }
    return {};
}

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

std::optional<std::string_view> community_line_error(const std::vector<NumberToken>* tokens,
                                                     std::size_t& failing) {
    failing = tokens ? tokens->size() : 0;
    if (!tokens) return kInvalidUtf8;
    if (tokens->empty()) return kMissingNodeName;
    for (std::size_t i = 0; i < tokens->size(); ++i) {
        if (!(*tokens)[i].valid()) {
            failing = i;
            return (*tokens)[i].error_message();
        }
    }
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
