#pragma once
// One token read as an unsigned 64-bit decimal: an optional single leading
// "+", then ASCII digits, leading zeros allowed. Characters are judged left to
// right and the first fault decides: a character that is not a digit makes it
// "invalid digit found in string", a digit that takes the value past
// 18446744073709551615 makes it "number too large to fit in target type". A
// lone "+" is an invalid digit.
//
// The token is fed one character at a time, so a token of any length is read
// in constant memory; a valid one keeps enough to be rewritten exactly as it
// was written (sign and leading zeros included).

#include <cstdint>
#include <string>
#include <string_view>

namespace quelmar::base {

struct NumberToken {
    enum class Status : std::uint8_t { kValid, kInvalidDigit, kTooLarge };

    Status status = Status::kValid;
    bool plus = false;
    std::uint64_t value = 0;
    // Digits written, when valid.
    std::uint64_t digits = 0;

    // Starts a token with its first character.
    void begin(char32_t first) {
        *this = NumberToken();
        if (first == U'+') {
            plus = true;
        } else {
            push(first);
        }
    }

    // Adds the token's next character.
    void push(char32_t c) {
        if (status != Status::kValid) return;
        const std::uint32_t digit = static_cast<std::uint32_t>(c) - U'0';
        if (digit > 9) {
            status = Status::kInvalidDigit;
            return;
        }
        if (__builtin_mul_overflow(value, std::uint64_t{10}, &value) ||
            __builtin_add_overflow(value, std::uint64_t{digit}, &value)) {
            status = Status::kTooLarge;
            return;
        }
        ++digits;
    }

    bool valid() const { return status == Status::kValid && digits > 0; }

    // The number parser's message for an invalid token.
    std::string_view error_message() const;

    // A valid token exactly as it was written.
    std::string as_written() const;
};

}  // namespace quelmar::base
