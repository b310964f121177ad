#pragma once
// Splits a byte source into runs of whole lines, for readers that parse many
// lines at once on the worker pool. A line ends at a line feed; the last line
// needs none, and an empty input has no line. Bytes come through one buffer
// of a fixed size, filled by reads of at most TaskMonitor::kCheckpointBytes
// (so a monitored file keeps its checkpoint spacing): every piece handed out
// holds the whole lines the buffer has, and the next read keeps the started
// line. A line that does not fit in the buffer is scanned piece by piece on
// the caller's thread (src/base/line_scanner.h) and handed out as its tokens, so
// a single huge line costs no more memory than a short one.
//
// Readers that need every token of a line (one community per line) ask for
// whole lines instead: the buffers then grow to the longest line, which the
// input holds, so memory still grows only with bytes actually read.
//
// A failed read fails with the operating system's text, after the whole lines
// read before it were handed out; a line left unfinished by the failure is
// dropped. Runs on the caller's thread, which may read the next piece into a
// second buffer while workers parse the current one.

#include <cstddef>
#include <memory>
#include <optional>
#include <span>

#include "runtime/result.h"
#include "src/base/line_tokens.h"
#include "src/utils/byte_source.h"

namespace quelmar::base {

class LineChunkReader {
public:
    static constexpr std::size_t kDefaultBufferSize = std::size_t{8} << 20;

    // What next() hands out: whole lines (each with its line feed, except the
    // input's last line), or one line too long for the buffer, already read.
    struct Piece {
        std::span<const unsigned char> lines;
        bool long_line = false;
        bool long_line_valid = false;  // false: not valid UTF-8
        LineTokens long_line_tokens;

        bool at_end() const { return lines.empty() && !long_line; }
    };

    enum class LongLines { kScanned, kWhole };

    explicit LineChunkReader(utils::ByteSource& source,
                             std::size_t buffer_size = kDefaultBufferSize,
                             LongLines long_lines = LongLines::kScanned);

    // The next piece; at_end() once the input is exhausted. The bytes stay
    // valid until the next call.
    runtime::Result<Piece> next();
    // Reads the bytes that follow the current piece into the second buffer,
    // leaving the piece's bytes untouched; next() then starts from them.
    // Pieces and failures come out as without it.
    void read_ahead();

private:
    void fill(unsigned char* buffer, std::size_t& end);
    void grow();
    runtime::Result<Piece> long_line();
    runtime::Result<std::size_t> read_some(unsigned char* into, std::size_t capacity);

    utils::ByteSource& source_;
    std::size_t capacity_;
    LongLines long_lines_;
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    // Taken on the first read_ahead; holds the next bytes while ahead_.
    std::unique_ptr<unsigned char[]> spare_;
    std::size_t spare_end_ = 0;
    bool ahead_ = false;
    bool input_ended_ = false;
    std::optional<runtime::Error> failure_;  // a read failure not yet reported
};

}  // namespace quelmar::base
