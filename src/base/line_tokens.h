#pragma once
// The part of a text line the loaders look at: how many whitespace-separated
// tokens it has (counted up to two) and its first two tokens read as numbers.
// Tokens are separated by runs of Unicode whitespace (the White_Space
// property); whitespace at either end of the line is ignored. Later tokens
// are not interpreted.

#include <cstddef>
#include <cstdint>

#include "src/base/number_token.h"

namespace quelmar::base {

struct LineTokens {
    std::uint8_t count = 0;
    NumberToken first;
    NumberToken second;
};

// U+0009-000D, U+0020, U+0085, U+00A0, U+1680, U+2000-200A, U+2028, U+2029,
// U+202F, U+205F and U+3000.
constexpr bool is_white_space(char32_t c) {
    if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    if (c < 0x85) return false;
    switch (c) {
        case 0x85:
        case 0xA0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000: return true;
        default: return c >= 0x2000 && c <= 0x200A;
    }
}

// The code point of the UTF-8 sequence at `p` in text known to be valid
// UTF-8 (never reading past `end`), and the sequence's length.
inline std::size_t decode_valid_utf8(const unsigned char* p, const unsigned char* end,
                                     char32_t& c) {
    const unsigned char lead = *p;
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length && p + i < end; ++i) c = (c << 6) | (p[i] & 0x3F);
    return length;
}

}  // namespace quelmar::base
