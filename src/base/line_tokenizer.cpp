#include "src/base/line_tokenizer.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "src/base/line_scanner.h"

namespace quelmar::base {
namespace {

inline bool is_ascii_space(unsigned char b) { return b == ' ' || (b >= 0x09 && b <= 0x0D); }

// Whether the 8 bytes at `p` are all ASCII digits.
inline bool eight_digits(std::uint64_t chunk) {
    return ((chunk & 0xF0F0F0F0F0F0F0F0ULL) |
            (((chunk + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) >> 4)) ==
           0x3333333333333333ULL;
}

// The value of 8 ASCII digits, first digit in the lowest byte.
inline std::uint64_t eight_digit_value(std::uint64_t chunk) {
    chunk -= 0x3030303030303030ULL;
    chunk = chunk * 10 + (chunk >> 8);
    chunk = (((chunk & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
             (((chunk >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
            32;
    return chunk;
}

// Reads the token starting at `p` (not white space). Returns the end of the
// token, or nullptr when it holds a byte that is not ASCII. Plain tokens of
// up to 20 digits take the fast way: the first 16 digits eight at a time
// where the line has room, the rest one by one, checking overflow only at the
// 20th digit (19 digits never overflow). Anything else is judged character by
// character.
inline const unsigned char* scan_ascii_token(const unsigned char* p, const unsigned char* end,
                                             NumberToken& token) {
    constexpr std::size_t kSafeDigits = 19;
    const unsigned char* const start = p;
    const bool plus = *p == '+';
    p += plus;
    const unsigned char* const digits = p;
    std::uint64_t value = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (int round = 0; round < 2 && end - p >= 8; ++round) {
            std::uint64_t chunk;
            std::memcpy(&chunk, p, sizeof chunk);
            if (!eight_digits(chunk)) break;
            value = value * 100000000 + eight_digit_value(chunk);
            p += 8;
        }
    }
    const unsigned char* const safe_end =
        static_cast<std::size_t>(end - digits) > kSafeDigits ? digits + kSafeDigits : end;
    std::uint32_t d;
    for (; p < safe_end && (d = *p - '0') <= 9; ++p) value = value * 10 + d;
    bool fits = true;
    if (p == safe_end && p < end && (d = *p - '0') <= 9) {
        fits = !__builtin_mul_overflow(value, std::uint64_t{10}, &value) &&
               !__builtin_add_overflow(value, std::uint64_t{d}, &value);
        ++p;
    }
    if (fits && p > digits && (p == end || is_ascii_space(*p))) [[likely]] {
        token.status = NumberToken::Status::kValid;
        token.plus = plus;
        token.value = value;
        token.digits = p - digits;
        return p;
    }
    if (*start >= 0x80) return nullptr;
    token.begin(*start);
    for (p = start + 1; p < end && !is_ascii_space(*p); ++p) {
        if (*p >= 0x80) return nullptr;
        token.push(*p);
    }
    return p;
}

// The fast path: tokens of a line made of ASCII bytes only. False, with
// `tokens` unspecified, when the line holds any other byte.
inline bool scan_ascii_line(const unsigned char* p, const unsigned char* end, LineTokens& tokens) {
    tokens.count = 0;
    while (p < end && is_ascii_space(*p)) ++p;
    if (p == end) return true;
    tokens.count = 1;
    if (!(p = scan_ascii_token(p, end, tokens.first))) return false;
    while (p < end && is_ascii_space(*p)) ++p;
    if (p == end) return true;
    tokens.count = 2;
    if (!(p = scan_ascii_token(p, end, tokens.second))) return false;
    // Later tokens are ignored, but must still be checked for UTF-8.
    for (; p < end; ++p) {
        if (*p >= 0x80) return false;
    }
    return true;
}

inline bool is_digit(unsigned char b) { return static_cast<unsigned>(b - '0') <= 9; }

inline std::uint64_t load_chunk(const unsigned char* p) {
    std::uint64_t chunk;
    std::memcpy(&chunk, p, sizeof chunk);
    return chunk;
}

// How many of the chunk's bytes, from the lowest, are ASCII digits (0 to 8).
// A carry out of a byte only ever comes from a byte that is not a digit, so
// the first such byte is found exactly.
inline int leading_digits(std::uint64_t chunk) {
    const std::uint64_t marks = ((chunk & 0xF0F0F0F0F0F0F0F0ULL) |
                                 (((chunk + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) >> 4)) ^
                                0x3333333333333333ULL;
    return marks == 0 ? 8 : std::countr_zero(marks) / 8;
}

// The value of the chunk's lowest `count` bytes, all digits (0 < count < 8):
// the digits are moved to the top and led by zeros.
inline std::uint64_t digits_value(std::uint64_t chunk, int count) {
    return eight_digit_value((chunk << (8 * (8 - count))) | (0x3030303030303030ULL >> (8 * count)));
}

constexpr std::uint64_t kPowersOfTen[9] = {1,      10,      100,      1000,     10000,
                                           100000, 1000000, 10000000, 100000000};

// A run of 1 to 20 plain digits at `p`, read three chunks at a time without
// a loop; the caller guarantees 24 readable bytes. Returns the end of the
// run, or null when it is empty, longer than 20 digits or too large.
inline const unsigned char* scan_plain_number(const unsigned char* p, NumberToken& token) {
    const std::uint64_t first = load_chunk(p);
    const int first_digits = leading_digits(first);
    std::uint64_t value;
    int digits;
    if (first_digits < 8) {
        if (first_digits == 0) return nullptr;
        value = digits_value(first, first_digits);
        digits = first_digits;
    } else {
        const std::uint64_t second = load_chunk(p + 8);
        const int second_digits = leading_digits(second);
        const std::uint64_t high = eight_digit_value(first);
        if (second_digits < 8) {
            value = high * kPowersOfTen[second_digits] +
                    (second_digits ? digits_value(second, second_digits) : 0);
            digits = 8 + second_digits;
        } else {
            const std::uint64_t third = load_chunk(p + 16);
            const int third_digits = leading_digits(third);
            if (third_digits > 4) return nullptr;
            // 16 digits never overflow; 20 may.
            value = high * 100000000 + eight_digit_value(second);
            if (third_digits &&
                (__builtin_mul_overflow(value, kPowersOfTen[third_digits], &value) ||
                 __builtin_add_overflow(value, digits_value(third, third_digits), &value))) {
                return nullptr;
            }
            digits = 16 + third_digits;
        }
    }
    token.status = NumberToken::Status::kValid;
    token.plus = false;
    token.value = value;
    token.digits = static_cast<std::uint64_t>(digits);
    return p + digits;
}

// A token of plain digits: straight through when the line has room for three
// chunks, else (or when that way declines) as any token.
inline const unsigned char* scan_digits(const unsigned char* p, const unsigned char* end,
                                        NumberToken& token) {
    if constexpr (std::endian::native == std::endian::little) {
        if (end - p >= 24) {
            if (const unsigned char* after = scan_plain_number(p, token)) return after;
        }
    }
    return scan_ascii_token(p, end, token);
}
inline bool is_blank(unsigned char b) { return b == ' ' || b == '\t'; }

}  // namespace

const unsigned char* tokenize_plain_line(const unsigned char* p, const unsigned char* end,
                                         LineTokens& tokens) {
    if (p == end || !is_digit(*p)) return nullptr;
    p = scan_digits(p, end, tokens.first);
    if (!p || p == end || !is_blank(*p) || !tokens.first.valid()) return nullptr;
    while (++p < end && is_blank(*p)) {
    }
    if (p == end || !is_digit(*p)) return nullptr;
    p = scan_digits(p, end, tokens.second);
    if (!p || p == end || *p != '\n' || !tokens.second.valid()) return nullptr;
    tokens.count = 2;
    return p;
}

namespace {

// Any line: checked strictly by LineScanner first, then split at Unicode
// white space.
bool tokenize_all_unicode(const unsigned char* p, const unsigned char* end,
                          std::vector<NumberToken>& tokens) {
    LineScanner scanner;
    scanner.feed(p, end - p);
    LineTokens unused;
    if (!scanner.finish(unused)) return false;
    tokens.clear();
    bool in_token = false;
    while (p < end) {
        char32_t c;
        p += decode_valid_utf8(p, end, c);
        if (is_white_space(c)) {
            in_token = false;
        } else if (in_token) {
            tokens.back().push(c);
        } else {
            in_token = true;
            tokens.emplace_back().begin(c);
        }
    }
    return true;
}

}  // namespace

bool tokenize_all(const unsigned char* begin, const unsigned char* end,
                  std::vector<NumberToken>& tokens) {
    tokens.clear();
    const unsigned char* p = begin;
    for (;;) {
        while (p < end && is_ascii_space(*p)) ++p;
        if (p == end) return true;
        NumberToken& token = tokens.emplace_back();
        const unsigned char* after = is_digit(*p) ? scan_digits(p, end, token) : nullptr;
        // Digits followed by anything but white space are judged as a whole.
        if (!after || (after < end && !is_ascii_space(*after)))
            after = scan_ascii_token(p, end, token);
        if (!after) return tokenize_all_unicode(begin, end, tokens);
        p = after;
    }
}

bool tokenize_line(const unsigned char* begin, const unsigned char* end, LineTokens& tokens) {
    if (scan_ascii_line(begin, end, tokens)) [[likely]]
        return true;
    LineScanner scanner;
    scanner.feed(begin, end - begin);
    return scanner.finish(tokens);
}

}  // namespace quelmar::base
