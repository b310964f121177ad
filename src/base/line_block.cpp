#include "src/base/line_block.h"

#include "src/base/line_blocks.h"
#include "src/base/line_rules.h"
#include "src/base/line_tokenizer.h"

namespace quelmar::base {

ParsedLines parse_line_block(std::span<const unsigned char> bytes, LineFormat format) {
    ParsedLines parsed;
    const std::size_t estimate = bytes.size() / 32;
    parsed.first.reserve(estimate);
    parsed.second.reserve(estimate);
    std::size_t index = 0;
    for_each_line(bytes, [&](const LineTokens* line) {
        const auto error =
            format == LineFormat::kEdges ? edge_line_error(line) : membership_line_error(line);
        if (error) {
            parsed.failure = LineFailure{index, std::string(*error)};
            return false;
        }
        parsed.first.push_back(line->first.value);
        parsed.second.push_back(line->second.value);
        ++index;
        return true;
    });
    return parsed;
}

std::string first_token_as_written(std::span<const unsigned char> line) {
    LineTokens tokens;
    if (!tokenize_line(line.data(), line.data() + line.size(), tokens) || tokens.count == 0 ||
        !tokens.first.valid()) {
        return {};
    }
    return tokens.first.as_written();
}

}  // namespace quelmar::base
