#include "src/base/line_chunks.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "src/base/line_scanner.h"
#include "src/base/line_tokenizer.h"
#include "src/utils/task_monitor.h"

namespace quelmar::base {

LineChunkReader::LineChunkReader(utils::ByteSource& source, std::size_t buffer_size,
                                 LongLines long_lines)
    : source_(source),
      capacity_(buffer_size == 0 ? 1 : buffer_size),
      long_lines_(long_lines),
      buffer_(new unsigned char[capacity_]) {}

runtime::Result<std::size_t> LineChunkReader::read_some(unsigned char* into, std::size_t capacity) {
    const std::size_t piece = std::min<std::size_t>(capacity, utils::TaskMonitor::kCheckpointBytes);
    return source_.read(reinterpret_cast<char*>(into), piece);
}

// Reads into `buffer`, holding `end` bytes, until it is full, the input ends
// or a read fails.
void LineChunkReader::fill(unsigned char* buffer, std::size_t& end) {
    while (end < capacity_ && !input_ended_ && !failure_) {
        auto got = read_some(buffer + end, capacity_ - end);
        if (!got) {
            failure_ = std::move(got).error();
        } else if (got.value() == 0) {
            input_ended_ = true;
        } else {
            end += got.value();
        }
    }
}

// Doubles both buffers, keeping the bytes of the current one.
void LineChunkReader::grow() {
    const std::size_t larger = capacity_ * 2;
    std::unique_ptr<unsigned char[]> bigger(new unsigned char[larger]);
    std::memcpy(bigger.get(), buffer_.get(), end_);
    buffer_ = std::move(bigger);
    capacity_ = larger;
    spare_.reset();
}

void LineChunkReader::read_ahead() {
    if (ahead_ || input_ended_ || failure_) return;
    if (!spare_) spare_.reset(new unsigned char[capacity_]);
    // The started line goes first.
    spare_end_ = end_ - pos_;
    std::memcpy(spare_.get(), buffer_.get() + pos_, spare_end_);
    fill(spare_.get(), spare_end_);
    ahead_ = true;
}

runtime::Result<LineChunkReader::Piece> LineChunkReader::next() {
    if (ahead_) {
        std::swap(buffer_, spare_);
        end_ = spare_end_;
        ahead_ = false;
    } else {
        // Keep the started line at the front.
        std::memmove(buffer_.get(), buffer_.get() + pos_, end_ - pos_);
        end_ -= pos_;
        fill(buffer_.get(), end_);
    }
    pos_ = 0;
    if (long_lines_ == LongLines::kWhole) {
        while (end_ == capacity_ && !::memrchr(buffer_.get(), '\n', end_)) {
            grow();
            fill(buffer_.get(), end_);
        }
    }
    const unsigned char* data = buffer_.get();
    Piece piece;
    if (input_ended_ && !failure_) {
        piece.lines = {data, end_};
        pos_ = end_;
        return piece;
    }
    if (const void* feed = end_ ? ::memrchr(data, '\n', end_) : nullptr) {
        pos_ = static_cast<const unsigned char*>(feed) + 1 - data;
        piece.lines = {data, pos_};
        return piece;
    }
    if (failure_) {
        runtime::Error failure = std::move(*failure_);
        failure_.reset();
        input_ended_ = true;
        end_ = 0;
        return failure;
    }
    return long_line();
}

// The buffer is full and holds no line feed: scan the line piece by piece.
runtime::Result<LineChunkReader::Piece> LineChunkReader::long_line() {
    LineScanner scanner;
    for (;;) {
        scanner.feed(buffer_.get(), end_);
        pos_ = end_ = 0;
        auto got = read_some(buffer_.get(), capacity_);
        if (!got) return std::move(got).error();
        if (got.value() == 0) {
            input_ended_ = true;
            break;
        }
        end_ = got.value();
        if (auto* feed = static_cast<unsigned char*>(std::memchr(buffer_.get(), '\n', end_))) {
            scanner.feed(buffer_.get(), feed - buffer_.get());
            pos_ = feed + 1 - buffer_.get();
            break;
        }
    }
    Piece piece;
    piece.long_line = true;
    piece.long_line_valid = scanner.finish(piece.long_line_tokens);
    return piece;
}

}  // namespace quelmar::base
