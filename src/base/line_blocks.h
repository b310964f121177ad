#pragma once
// Whole lines cut into blocks that worker threads read side by side, and the
// walk over the lines of one block. A block ends just after a line feed, or
// at the end of the text: no line is ever split between two blocks.

#include <cstddef>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

#include "runtime/prefetch.h"
#include "src/base/line_tokenizer.h"

namespace quelmar::base {

using TextBlock = std::span<const unsigned char>;

// Cuts `text` into blocks of about `block_bytes` (at least one line each).
inline std::vector<TextBlock> cut_into_blocks(TextBlock text, std::size_t block_bytes) {
    std::vector<TextBlock> blocks;
    const unsigned char* begin = text.data();
    const unsigned char* const end = text.data() + text.size();
    while (begin < end) {
        const unsigned char* cut = end;
        if (static_cast<std::size_t>(end - begin) > block_bytes) {
            const void* feed =
                std::memchr(begin + block_bytes - 1, '\n', end - (begin + block_bytes - 1));
            if (feed) cut = static_cast<const unsigned char*>(feed) + 1;
        }
        blocks.emplace_back(begin, cut);
        begin = cut;
    }
    return blocks;
}

// Calls on_line(tokens) for every line of `block` in order, with null tokens
// for a line that is not valid UTF-8, until on_line returns false. An on_line
// that takes a second argument also gets the line's bytes (without its line
// feed).
template <class OnLine>
void for_each_line(TextBlock block, OnLine&& on_line) {
    const unsigned char* begin = block.data();
    const unsigned char* const end = block.data() + block.size();
    LineTokens tokens;
    while (begin < end) {
        // The block was copied in on another core.
        runtime::prefetch_ahead(begin);
        const unsigned char* line_end = tokenize_plain_line(begin, end, tokens);
        bool valid = true;
        if (!line_end) {
            const void* feed = std::memchr(begin, '\n', end - begin);
            line_end = feed ? static_cast<const unsigned char*>(feed) : end;
            valid = tokenize_line(begin, line_end, tokens);
        }
        const LineTokens* read = valid ? &tokens : nullptr;
        if constexpr (std::is_invocable_v<OnLine&, const LineTokens*, TextBlock>) {
            if (!on_line(read, TextBlock(begin, line_end))) return;
        } else {
            if (!on_line(read)) return;
        }
        begin = line_end + 1;
    }
}

}  // namespace quelmar::base
