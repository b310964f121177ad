#pragma once
// The decompressed content of the first LZ4 frame of a byte source, handed
// out in order. Compressed input goes through one 32 KiB buffer and decoded
// output through one fixed staging buffer, so memory stays constant whatever
// the content size. Input is read in pieces no larger than liblz4 asks for
// next, so nothing past the frame's end mark is consumed.
//
// liblz4 verifies every checksum the frame declares; the content checksum is
// checked only when the end mark is decoded, which is why a reader that has
// taken all it needs finishes with drain().
//
// Failures carry the message "io error: X" with the single cause X, where X
// is "LZ4 error: <liblz4 error name>" (invalid frame, corrupt block, checksum
// mismatch), "failed to fill whole buffer" (content or file ended too early)
// or the operating system's text of a failed read.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "runtime/result.h"
#include "src/utils/byte_source.h"

namespace quelmar::utils {

class Lz4FrameReader {
public:
    // Fails with the plain message "LZ4 error: <name>" when liblz4 cannot
    // create its decompression context.
    static runtime::Result<Lz4FrameReader> create(ByteSource& source);

    Lz4FrameReader(Lz4FrameReader&& other) noexcept;
    Lz4FrameReader& operator=(Lz4FrameReader&&) = delete;
    Lz4FrameReader(const Lz4FrameReader&) = delete;
    Lz4FrameReader& operator=(const Lz4FrameReader&) = delete;
    ~Lz4FrameReader();

    // The next 8 content bytes as a little-endian value. False on failure.
    bool read_u64(std::uint64_t& value) {
        if (staged_end_ - staged_pos_ >= sizeof value) [[likely]] {
            std::memcpy(&value, staging_.get() + staged_pos_, sizeof value);
            staged_pos_ += sizeof value;
            if constexpr (std::endian::native == std::endian::big) value = byteswap(value);
            return true;
        }
        return read_u64_across_refill(value);
    }

    // Decodes and discards the rest of the frame, so that its end mark and
    // content checksum are verified. A file that ends before the end mark
    // fails with "failed to fill whole buffer". False on failure.
    bool drain();

    // The failure of the last call that returned false.
    runtime::Error take_error();

    // Errors other than those of decoding are reported by the caller with the
    // same "io error: X" shape.
    static runtime::Error io_error(std::string cause);

private:
    struct Context;
    Lz4FrameReader(ByteSource& source, Context* context);

    bool read_u64_across_refill(std::uint64_t& value);
    bool refill();
    bool read_input();
    bool fail(std::string cause);

    static std::uint64_t byteswap(std::uint64_t value);

    ByteSource* source_;
    Context* context_;
    std::unique_ptr<char[]> input_;
    std::unique_ptr<char[]> staging_;
    std::size_t input_pos_ = 0;
    std::size_t input_end_ = 0;
    std::size_t staged_pos_ = 0;
    std::size_t staged_end_ = 0;
    std::size_t next_input_hint_;
    bool output_pending_ = false;
    bool frame_ended_ = false;
    bool source_ended_ = false;
    std::optional<runtime::Error> error_;
};

}  // namespace quelmar::utils
