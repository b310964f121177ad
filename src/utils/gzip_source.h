#pragma once
// A byte source that inflates gzip data read from another source: one gzip
// member or several end to end (as `cat a.gz b.gz` and block compressors
// write them), each checked against its CRC and length. A thread of its own
// inflates, so that decompression goes on while the caller parses, resolves
// names or builds; the inner source is only ever read on the caller's thread
// (its monitor may need that), up to 32 MiB ahead of the inflater, which
// keeps up to 16 MiB inflated ahead of the caller. Bytes come out exactly as
// a plain inflate gives them.
//
// Failures: the inner source's own, kTruncatedGzip when the input ends inside
// a member, and kInvalidGzip followed by the inflater's reason for corrupt
// data or bytes after the last member that begin no new one.

#include <cstddef>
#include <memory>
#include <string_view>

#include "runtime/result.h"
#include "src/utils/byte_source.h"

namespace quelmar::utils {

inline constexpr std::string_view kTruncatedGzip = "gzip data ends before its last member does";
inline constexpr std::string_view kInvalidGzip = "invalid gzip data";

// Whether bytes start with the gzip magic number.
constexpr bool is_gzip_magic(unsigned char first, unsigned char second) {
    return first == 0x1F && second == 0x8B;
}

class GzipSource final : public ByteSource {
public:
    // `inner` must outlive the source. `already_read` are bytes taken from
    // the inner source before (the magic number a caller peeked at).
    explicit GzipSource(ByteSource& inner, std::string_view already_read = {});
    GzipSource(const GzipSource&) = delete;  // owns the inflater's state
    GzipSource& operator=(const GzipSource&) = delete;
    ~GzipSource() override;

    runtime::Result<std::size_t> read(char* buffer, std::size_t capacity) override;

private:
    struct State;
    runtime::Result<void> refill();

    ByteSource& inner_;
    std::unique_ptr<State> state_;
};

}  // namespace quelmar::utils
