#pragma once
// Splits a byte source into lines and reads each line's tokens. A line ends
// at a line feed (a carriage return before it is whitespace anyway); the last
// line needs none, and an empty input has no line. Bytes come through one
// fixed buffer: plain ASCII lines that fit in it take a fast path, and every
// other line goes through LineScanner, piece by piece, so a single huge line
// costs no more memory than a short one.
//
// A line that is not valid UTF-8 fails with "stream did not contain valid
// UTF-8" once its end is reached (a read failure before that wins); a failed
// read fails with the operating system's text.

#include <cstddef>
#include <memory>
#include <optional>

#include "runtime/result.h"
#include "src/base/line_scanner.h"
#include "src/base/line_tokens.h"
#include "src/utils/byte_source.h"

namespace quelmar::base {

class LineReader {
public:
    static constexpr std::size_t kDefaultBufferSize = 64 * 1024;

    explicit LineReader(utils::ByteSource& source, std::size_t buffer_size = kDefaultBufferSize);

    enum class Step { kLine, kEnd, kFailed };

    // Reads the next line into `tokens`.
    Step next(LineTokens& tokens);

    // The failure after next() returned kFailed.
    runtime::Error take_error();

private:
    Step whole_line(const unsigned char* begin, const unsigned char* end, LineTokens& tokens);
    Step long_line(LineTokens& tokens);
    Step end_scanned_line(LineTokens& tokens);
    // Reads more bytes after end_; false at the end of input or on failure.
    bool read_more();
    Step fail(runtime::Error error);

    utils::ByteSource& source_;
    std::size_t capacity_;
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool input_ended_ = false;
    LineScanner scanner_;
    std::optional<runtime::Error> error_;
};

}  // namespace quelmar::base
