#pragma once
// What a tokenised line means in each text format, and the message of a line
// that breaks the format. The loaders, and any other reader of these formats,
// judge lines here, so the rules and their texts exist once. Null tokens
// stand for a line that is not valid UTF-8 (kInvalidUtf8).
//
// Edge list: two names, from and to; no token is "missing from", one token
// "missing to", then each name's number message, from first.
// Clustering: a node name then a cluster id; no token is "missing node_name",
// one token "missing cluster_id"; the id is judged before the name ("invalid
// cluster_id"), then the name's number message.
// One community per line: every token a node name; no token is "missing
// node_name", then the first invalid name's number message.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "src/base/line_tokens.h"

namespace quelmar::base {

// Null when the line is an edge.
std::optional<std::string_view> edge_line_error(const LineTokens* line);

// Null when the line is a membership.
std::optional<std::string_view> membership_line_error(const LineTokens* line);

// Null when the line (its tokens, or null when it is not UTF-8) is one
// community; else the message, and in `failing` the index of the token it is
// about (none for an empty or invalid line: the line's token count).
std::optional<std::string_view> community_line_error(const std::vector<NumberToken>* tokens,
                                                     std::size_t& failing);

// Token `index` (0-based) of a valid UTF-8 line exactly as written; empty
// when the line has fewer tokens.
std::string token_as_written(std::span<const unsigned char> line, std::size_t index);

// The token a failing line's message is about, exactly as written in the
// line's bytes: the number the message judges, or nothing for a line that
// lacks tokens or is not UTF-8.
std::string edge_failure_token(const LineTokens* tokens, std::span<const unsigned char> line);
std::string membership_failure_token(const LineTokens* tokens, std::span<const unsigned char> line);

// The failure of a cluster's second line naming a node the graph lacks: the
// node name exactly as written, the cluster id in decimal.
std::string unresolved_node_message(std::string_view node_as_written, std::uint64_t cluster);
// The failure of any line naming a node the graph lacks, under the strict
// rule.
std::string unknown_node_message(std::string_view node_as_written, std::uint64_t cluster);

}  // namespace quelmar::base
