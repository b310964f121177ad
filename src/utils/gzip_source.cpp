#include "src/utils/gzip_source.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <string>

namespace quelmar::utils {
namespace {

// Compressed bytes read from the inner source at a time.
constexpr std::size_t kInputBytes = std::size_t{1} << 18;

}  // namespace

struct GzipSource::State {
    z_stream stream{};
    std::unique_ptr<unsigned char[]> input{new unsigned char[kInputBytes]};
    bool input_ended = false;
    bool in_member = false;  // a member has begun and not yet ended
    bool started = false;    // some member has begun
    bool finished = false;
};

GzipSource::GzipSource(ByteSource& inner, std::string_view already_read)
    : inner_(inner), state_(std::make_unique<State>()) {
    // 16 + 15: a gzip wrapper around the largest window.
    if (inflateInit2(&state_->stream, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
    const std::size_t kept = std::min(already_read.size(), kInputBytes);
    if (kept) std::memcpy(state_->input.get(), already_read.data(), kept);
    state_->stream.next_in = state_->input.get();
    state_->stream.avail_in = static_cast<uInt>(kept);
}

GzipSource::~GzipSource() { inflateEnd(&state_->stream); }

runtime::Result<void> GzipSource::refill() {
    auto got = inner_.read(reinterpret_cast<char*>(state_->input.get()), kInputBytes);
    if (!got) return std::move(got).error();
    state_->stream.next_in = state_->input.get();
    state_->stream.avail_in = static_cast<uInt>(got.value());
    if (got.value() == 0) state_->input_ended = true;
    return {};
}

runtime::Result<std::size_t> GzipSource::read(char* buffer, std::size_t capacity) {
    State& s = *state_;
    if (s.finished || capacity == 0) return std::size_t{0};
    z_stream& z = s.stream;
    z.next_out = reinterpret_cast<unsigned char*>(buffer);
    z.avail_out = static_cast<uInt>(std::min<std::size_t>(capacity, UINT_MAX));
    const uInt wanted = z.avail_out;
    while (z.avail_out > 0) {
        if (z.avail_in == 0 && !s.input_ended) {
            if (auto refilled = refill(); !refilled) return std::move(refilled).error();
            continue;
        }
        if (z.avail_in == 0) {
            // A member left open is cut short; an input without any member
            // is not gzip data at all.
            if (s.in_member || !s.started) {
                return runtime::Error(std::string(kTruncatedGzip));
            }
            s.finished = true;
            break;
        }
        if (!s.in_member) {
            // The next member, after the first: the inflater starts over.
            if (s.started && inflateReset(&z) != Z_OK) throw std::bad_alloc();
            s.in_member = s.started = true;
        }
        const int status = inflate(&z, Z_NO_FLUSH);
        if (status == Z_STREAM_END) {
            s.in_member = false;
        } else if (status == Z_MEM_ERROR) {
            throw std::bad_alloc();
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            return runtime::Error(std::string(kInvalidGzip) + ": " +
                                  (z.msg ? z.msg : "corrupt stream"));
        }
    }
    return static_cast<std::size_t>(wanted - z.avail_out);
}

}  // namespace quelmar::utils
