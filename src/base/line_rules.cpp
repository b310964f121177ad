#include "src/base/line_rules.h"

#include "src/base/line_tokenizer.h"

namespace quelmar::base {
namespace {

constexpr std::string_view kMissingFrom = "missing from";
constexpr std::string_view kMissingTo = "missing to";
constexpr std::string_view kMissingNodeName = "missing node_name";
constexpr std::string_view kMissingClusterId = "missing cluster_id";
constexpr std::string_view kInvalidClusterId = "invalid cluster_id";

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

std::string unknown_node_message(std::string_view node_as_written, std::uint64_t cluster) {
    return "node " + std::string(node_as_written) + " requested in cluster " +
           std::to_string(cluster) + " not found in graph";
}

std::string unresolved_node_message(std::string_view node_as_written, std::uint64_t cluster) {
    return unknown_node_message(node_as_written, cluster) + ", and is not singleton";
}

}  // namespace quelmar::base
