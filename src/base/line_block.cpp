#include "src/base/line_block.h"

#include <cstring>

#include "src/base/line_rules.h"
#include "src/base/line_scanner.h"

namespace quelmar::base {
namespace {

// The tokens of one line, or false when it is not valid UTF-8.
bool tokenise(LineScanner& scanner, const unsigned char* begin, std::size_t size,
              LineTokens& tokens) {
    scanner.reset();
    scanner.feed(begin, size);
    return scanner.finish(tokens);
}

}  // namespace

ParsedLines parse_line_block(std::span<const unsigned char> bytes, LineFormat format) {
    ParsedLines parsed;
    const std::size_t estimate = bytes.size() / 32;
    parsed.first.reserve(estimate);
    parsed.second.reserve(estimate);
    LineScanner scanner;
    LineTokens tokens;
    const unsigned char* line = bytes.data();
    const unsigned char* const end = line + bytes.size();
    for (std::size_t index = 0; line < end; ++index) {
        const auto* feed = static_cast<const unsigned char*>(std::memchr(line, '\n', end - line));
        const unsigned char* const line_end = feed ? feed : end;
        std::optional<std::string_view> error;
        if (!tokenise(scanner, line, line_end - line, tokens)) {
            error = kInvalidUtf8;
        } else {
            error = format == LineFormat::kEdges ? edge_line_error(tokens)
                                                 : membership_line_error(tokens);
        }
        if (error) {
            parsed.failure = LineFailure{index, std::string(*error)};
            return parsed;
        }
        parsed.first.push_back(tokens.first.value);
        parsed.second.push_back(tokens.second.value);
        line = line_end + 1;
    }
    return parsed;
}

std::string first_token_as_written(std::span<const unsigned char> line) {
    LineScanner scanner;
    LineTokens tokens;
    if (!tokenise(scanner, line.data(), line.size(), tokens) || tokens.count == 0 ||
        !tokens.first.valid()) {
        return {};
    }
    return tokens.first.as_written();
}

}  // namespace quelmar::base
