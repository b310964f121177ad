#pragma once
// Reads the tokens of one line from its bytes, given in pieces of any size:
// the general path for lines that are not plain ASCII or that do not fit in
// the line reader's buffer. It decodes UTF-8 strictly (no overlong forms, no
// surrogates, nothing above U+10FFFF, no truncated sequence at the line's
// end) and keeps constant memory whatever the line's length.

#include <cstddef>
#include <cstdint>

#include "src/base/line_tokens.h"

namespace quelmar::base {

class LineScanner {
public:
    // Starts a new line.
    void reset();
    // The line's next bytes (never containing the line feed).
    void feed(const unsigned char* bytes, std::size_t size);
    // Ends the line. False when it was not valid UTF-8.
    bool finish(LineTokens& tokens);

private:
    void on_char(char32_t c);

    LineTokens tokens_;
    NumberToken* current_ = nullptr;  // the token being read, if one of the first two
    bool in_token_ = false;
    bool broken_ = false;
    char32_t code_point_ = 0;
    std::uint8_t continuations_left_ = 0;
    std::uint8_t next_lowest_ = 0x80;
    std::uint8_t next_highest_ = 0xBF;
};

}  // namespace quelmar::base
