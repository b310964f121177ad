#include "src/utils/lz4_frame_reader.h"

#include <lz4frame.h>

#include <algorithm>
#include <string_view>
#include <utility>

namespace quelmar::utils {
namespace {

constexpr std::size_t kInputBufferSize = 32 * 1024;
// At least one 256 KiB block, so that liblz4 decodes such blocks straight
// into it instead of through its own block buffer.
constexpr std::size_t kStagingBufferSize = 256 * 1024;

constexpr std::string_view kFailedToFill = "failed to fill whole buffer";

// liblz4's name of an error code, in the "ERROR_..." form.
std::string lz4_error_name(std::size_t code) {
    std::string_view name = LZ4F_getErrorName(code);
    if (const auto at = name.find("ERROR_"); at != std::string_view::npos) name.remove_prefix(at);
    return std::string("LZ4 error: ").append(name);
}

}  // namespace

struct Lz4FrameReader::Context {
    LZ4F_dctx* dctx;
};

runtime::Result<Lz4FrameReader> Lz4FrameReader::create(ByteSource& source) {
    LZ4F_dctx* dctx = nullptr;
    const std::size_t code = LZ4F_createDecompressionContext(&dctx, LZ4F_VERSION);
    if (LZ4F_isError(code)) return runtime::Error(lz4_error_name(code));
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
      source_ended_(other.source_ended_),
      error_(std::move(other.error_)) {}

Lz4FrameReader::~Lz4FrameReader() {
    if (context_) {
        LZ4F_freeDecompressionContext(context_->dctx);
        delete context_;
    }
}

runtime::Error Lz4FrameReader::io_error(std::string cause) {
    std::string message = "io error: " + cause;
    return runtime::Error(std::move(message), {std::move(cause)});
}

runtime::Error Lz4FrameReader::take_error() {
    runtime::Error error = error_ ? std::move(*error_) : io_error(std::string(kFailedToFill));
    error_.reset();
    return error;
}

bool Lz4FrameReader::fail(std::string cause) {
    if (!error_) error_ = io_error(std::move(cause));
    return false;
}

std::uint64_t Lz4FrameReader::byteswap(std::uint64_t value) { return __builtin_bswap64(value); }

bool Lz4FrameReader::read_u64_across_refill(std::uint64_t& value) {
    unsigned char bytes[sizeof value];
    std::size_t have = 0;
    while (have < sizeof value) {
        if (staged_pos_ == staged_end_ && !refill()) {
            return error_ ? false : fail(std::string(kFailedToFill));
        }
        const std::size_t take = std::min(sizeof value - have, staged_end_ - staged_pos_);
        std::memcpy(bytes + have, staging_.get() + staged_pos_, take);
        staged_pos_ += take;
        have += take;
    }
    value = 0;
    for (std::size_t i = sizeof value; i-- > 0;) value = (value << 8) | bytes[i];
    return true;
}

bool Lz4FrameReader::drain() {
    staged_pos_ = staged_end_;
    while (refill()) staged_pos_ = staged_end_;
    if (error_) return false;
    if (!frame_ended_) return fail(std::string(kFailedToFill));
    return true;
}

bool Lz4FrameReader::read_input() {
    const std::size_t wanted =
        std::min(kInputBufferSize, std::max<std::size_t>(next_input_hint_, 1));
    auto got = source_->read(input_.get(), wanted);
    if (!got) return fail(got.error().message());
    if (got.value() == 0) {
        source_ended_ = true;
        return false;
    }
    input_pos_ = 0;
    input_end_ = got.value();
    return true;
}

// Makes the next decoded bytes available in the staging buffer. False at the
// end of the frame, at the end of the source, or on failure (error_ set).
bool Lz4FrameReader::refill() {
    staged_pos_ = staged_end_ = 0;
    for (;;) {
        if (frame_ended_ || source_ended_ || error_) return false;
        // liblz4 may still hold decoded output from input it already took.
        if (input_pos_ == input_end_ && !output_pending_ && !read_input()) return false;
        std::size_t produced = kStagingBufferSize;
        std::size_t consumed = input_end_ - input_pos_;
        const std::size_t hint = LZ4F_decompress(context_->dctx, staging_.get(), &produced,
                                                 input_.get() + input_pos_, &consumed, nullptr);
        if (LZ4F_isError(hint)) return fail(lz4_error_name(hint));
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
