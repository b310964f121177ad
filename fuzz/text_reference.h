#pragma once
// A deliberately plain model of the text formats (edge list and clustering
// file) that the fuzz targets hold the real loaders to. It favours obvious
// correctness over speed: the whole input is split into lines first, each
// line is checked for UTF-8 as a whole, decoded into code points and split at
// Unicode White_Space; names are parsed digit by digit, so the first problem
// met from the left decides between a bad digit and an overflow.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

namespace quelmar::fuzz {

inline const std::string kBadUtf8 = "stream did not contain valid UTF-8";
inline const std::string kInvalidDigit = "invalid digit found in string";
inline const std::string kTooLarge = "number too large to fit in target type";

// Lines of the input: split at "\n"; no line after a final "\n"; one "\r"
// before the "\n" dropped.
inline std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Code points of a well-formed UTF-8 text (no overlong forms, no surrogates,
// nothing above U+10FFFF, no truncated sequence); absent otherwise.
inline std::optional<std::vector<char32_t>> decode_utf8(std::string_view text) {
    std::vector<char32_t> out;
    std::size_t i = 0;
    auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    while (i < text.size()) {
        const unsigned char lead = byte(i);
        std::size_t length;
        char32_t code;
        char32_t minimum;
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, code = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, code = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, code = lead & 0x07, minimum = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + length > text.size()) return std::nullopt;
        for (std::size_t k = 1; k < length; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80) return std::nullopt;
            code = (code << 6) | (byte(i + k) & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return std::nullopt;
        }
        out.push_back(code);
        i += length;
    }
    return out;
}

// The Unicode White_Space property.
inline bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

using Tokens = std::vector<std::u32string>;

inline Tokens split_tokens(const std::vector<char32_t>& line) {
    Tokens tokens;
    std::u32string current;
    for (const char32_t c : line) {
        if (is_white_space(c)) {
            if (!current.empty()) tokens.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) tokens.push_back(std::move(current));
    return tokens;
}

inline std::string to_utf8(const std::u32string& text) {
    std::string out;
    for (const char32_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// An unsigned 64-bit decimal: one optional "+", then ASCII digits only.
inline std::variant<std::uint64_t, std::string> parse_u64(const std::u32string& token) {
    std::u32string_view digits = token;
    if (!digits.empty() && digits.front() == U'+') digits.remove_prefix(1);
    if (digits.empty()) return kInvalidDigit;
    std::uint64_t value = 0;
    for (const char32_t c : digits) {
        if (c < U'0' || c > U'9') return kInvalidDigit;
        const std::uint64_t digit = c - U'0';
        if (value > (UINT64_MAX - digit) / 10) return kTooLarge;
        value = value * 10 + digit;
    }
    return value;
}

// ---- Edge list ----

struct ReferenceGraph {
    std::vector<std::uint64_t> id_to_name;
    std::vector<std::set<std::uint64_t>> neighbours;
    std::uint64_t m_cache = 0;
};

inline std::variant<ReferenceGraph, std::string> reference_edge_list(std::string_view text) {
    ReferenceGraph graph;
    std::unordered_map<std::uint64_t, std::uint64_t> ids;
    auto request = [&](std::uint64_t name) {
        auto [it, inserted] = ids.try_emplace(name, graph.id_to_name.size());
        if (inserted) {
            graph.id_to_name.push_back(name);
            graph.neighbours.emplace_back();
        }
        return it->second;
    };
    for (const std::string_view line : split_lines(text)) {
        const auto decoded = decode_utf8(line);
        if (!decoded) return kBadUtf8;
        const Tokens tokens = split_tokens(*decoded);
        if (tokens.empty()) return std::string("missing from");
        if (tokens.size() < 2) return std::string("missing to");
        const auto from = parse_u64(tokens[0]);
        if (auto* error = std::get_if<std::string>(&from)) return *error;
        const std::uint64_t from_id = request(std::get<std::uint64_t>(from));
        const auto to = parse_u64(tokens[1]);
        if (auto* error = std::get_if<std::string>(&to)) return *error;
        const std::uint64_t to_id = request(std::get<std::uint64_t>(to));
        graph.neighbours[from_id].insert(to_id);
        graph.neighbours[to_id].insert(from_id);
    }
    std::uint64_t entries = 0;
    for (const auto& adjacent : graph.neighbours) entries += adjacent.size();
    graph.m_cache = entries / 2;
    return graph;
}

// ---- Clustering file ----

// Cluster id -> ascending distinct member ids, every cluster with two or more.
using ReferenceClustering = std::map<std::uint64_t, std::set<std::uint64_t>>;

// `lookup` maps a node name to its node id when the graph knows it.
template <class Lookup>
std::variant<ReferenceClustering, std::string> reference_clustering(std::string_view text,
                                                                    Lookup&& lookup) {
    ReferenceClustering clusters;
    std::set<std::uint64_t> unresolved;
    for (const std::string_view line : split_lines(text)) {
        const auto decoded = decode_utf8(line);
        if (!decoded) return kBadUtf8;
        const Tokens tokens = split_tokens(*decoded);
        if (tokens.empty()) return std::string("missing node_name");
        if (tokens.size() < 2) return std::string("missing cluster_id");
        const auto cluster = parse_u64(tokens[1]);
        if (std::holds_alternative<std::string>(cluster)) return std::string("invalid cluster_id");
        const std::uint64_t cluster_id = std::get<std::uint64_t>(cluster);
        const auto name = parse_u64(tokens[0]);
        if (auto* error = std::get_if<std::string>(&name)) return *error;
        if (const std::optional<std::uint64_t> id = lookup(std::get<std::uint64_t>(name))) {
            clusters[cluster_id].insert(*id);
        } else if (!unresolved.insert(cluster_id).second) {
            return "node " + to_utf8(tokens[0]) + " requested in cluster " +
                   std::to_string(cluster_id) + " not found in graph, and is not singleton";
        }
    }
    std::erase_if(clusters, [](const auto& entry) { return entry.second.size() < 2; });
    return clusters;
}

}  // namespace quelmar::fuzz
