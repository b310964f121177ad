#pragma once
// Reads the tokens of one whole line held in memory (without its line feed; a
// carriage return before it is whitespace anyway). Plain ASCII lines take a
// fast path; every other line goes through LineScanner, which decodes UTF-8
// strictly. Safe to call from any number of threads at once.

#include <vector>

#include "src/base/line_tokens.h"

namespace quelmar::base {

// The message of a line that is not valid UTF-8.
inline constexpr const char* kInvalidUtf8 = "stream did not contain valid UTF-8";

// Reads the tokens of [begin, end) into `tokens`. False when the line is not
// valid UTF-8 (`tokens` is then unspecified).
bool tokenize_line(const unsigned char* begin, const unsigned char* end, LineTokens& tokens);

// The common line in one pass, without looking for its end first: two
// valid unsigned numbers of plain digits, separated by spaces or tabs, then a
// line feed. Reads them into `tokens` and returns where the line feed is;
// returns null for any other line (which tokenize_line then reads), having
// read no byte past `end`.
const unsigned char* tokenize_plain_line(const unsigned char* begin, const unsigned char* end,
                                         LineTokens& tokens);

// Every token of [begin, end), in order, read as numbers into `tokens`
// (which it clears): the tokens of a line of one community's node names.
// False when the line is not valid UTF-8 (`tokens` is then unspecified).
bool tokenize_all(const unsigned char* begin, const unsigned char* end,
                  std::vector<NumberToken>& tokens);

}  // namespace quelmar::base
