#include "src/utils/lz4_frame_reader.h"

#include <lz4frame.h>

#include <algorithm>
#include <string_view>
#include <utility>

#include "src/utils/lz4_error.h"

namespace quelmar::utils {
namespace {

constexpr std::size_t kInputBufferSize = 32 * 1024;
// At least one 256 KiB block, so that liblz4 decodes such blocks straight
// into it instead of through its own block buffer.
constexpr std::size_t kStagingBufferSize = 256 * 1024;

constexpr std::string_view kFailedToFill = "failed to fill whole buffer";

// "io error: X" with the single cause X.
runtime::Error io_error(std::string cause) {
    std::string message = "io error: " + cause;
    return runtime::Error(std::move(message), {std::move(cause)});
}

}  // namespace

struct Lz4FrameReader::Context {
    LZ4F_dctx* dctx;
};

runtime::Result<Lz4FrameReader> Lz4FrameReader::create(ByteSource& source) {
    LZ4F_dctx* dctx = nullptr;
    const std::size_t code = LZ4F_createDecompressionContext(&dctx, LZ4F_VERSION);
    if (LZ4F_isError(code)) return runtime::Error(lz4_error_text(code));
    return Lz4FrameReader(source, new Context{dctx});
}

Lz4FrameReader::Lz4FrameReader(ByteSource& source, Context* context)
    : source_(&source),
      context_(context),
      input_(new char[kInputBufferSize]),
      staging_(new char[kStagingBufferSize]),
      next_input_hint_(LZ4F_HEADER_SIZE_MIN) {}

Lz4FrameReader::Lz4FrameReader(Lz4FrameReader&& other) noexcept
    : source_(other.source_),
      context_(std::exchange(other.context_, nullptr)),
      input_(std::move(other.input_)),
      staging_(std::move(other.staging_)),
      input_pos_(other.input_pos_),
      input_end_(other.input_end_),
      staged_pos_(other.staged_pos_),
      staged_end_(other.staged_end_),
      next_input_hint_(other.next_input_hint_),
      output_pending_(other.output_pending_),
      frame_ended_(other.frame_ended_),
      source_ended_(other.source_ended_) {}

Lz4FrameReader::~Lz4FrameReader() {
    if (context_) {
        LZ4F_freeDecompressionContext(context_->dctx);
        delete context_;
    }
}

std::uint64_t Lz4FrameReader::byteswap(std::uint64_t value) { return __builtin_bswap64(value); }

runtime::Result<std::uint64_t> Lz4FrameReader::read_u64_across_refill() {
    unsigned char bytes[sizeof(std::uint64_t)];
    std::size_t have = 0;
    while (have < sizeof bytes) {
        if (staged_pos_ == staged_end_) {
            runtime::Result<bool> refilled = refill();
            if (!refilled) return std::move(refilled).error();
            if (!*refilled) return io_error(std::string(kFailedToFill));
        }
        const std::size_t take = std::min(sizeof bytes - have, staged_end_ - staged_pos_);
        std::memcpy(bytes + have, staging_.get() + staged_pos_, take);
        staged_pos_ += take;
        have += take;
    }
    std::uint64_t value = 0;
    for (std::size_t i = sizeof bytes; i-- > 0;) value = (value << 8) | bytes[i];
    return value;
}

runtime::Result<void> Lz4FrameReader::drain() {
    for (;;) {
        staged_pos_ = staged_end_;
        runtime::Result<bool> refilled = refill();
        if (!refilled) return std::move(refilled).error();
        if (!*refilled) break;
    }
    if (!frame_ended_) return io_error(std::string(kFailedToFill));
    return {};
}

runtime::Result<bool> Lz4FrameReader::read_input() {
    const std::size_t wanted =
        std::min(kInputBufferSize, std::max<std::size_t>(next_input_hint_, 1));
    runtime::Result<std::size_t> got = source_->read(input_.get(), wanted);
    if (!got) return io_error(got.error().message());
    if (*got == 0) {
        source_ended_ = true;
        return false;
    }
    input_pos_ = 0;
    input_end_ = *got;
    return true;
}

runtime::Result<bool> Lz4FrameReader::refill() {
    staged_pos_ = staged_end_ = 0;
    for (;;) {
        if (frame_ended_ || source_ended_) return false;
        // liblz4 may still hold decoded output from input it already took.
        if (input_pos_ == input_end_ && !output_pending_) {
            runtime::Result<bool> read = read_input();
            if (!read || !*read) return read;
        }
        std::size_t produced = kStagingBufferSize;
        std::size_t consumed = input_end_ - input_pos_;
        const std::size_t hint = LZ4F_decompress(context_->dctx, staging_.get(), &produced,
                                                 input_.get() + input_pos_, &consumed, nullptr);
        if (LZ4F_isError(hint)) return io_error(lz4_error_text(hint));
        input_pos_ += consumed;
        output_pending_ = produced == kStagingBufferSize;
        if (hint == 0) {
            frame_ended_ = true;
        } else {
            next_input_hint_ = hint;
        }
        if (produced > 0) {
            staged_end_ = produced;
            return true;
        }
    }
}

}  // namespace quelmar::utils
