#include "src/utils/gzip_source.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quelmar::utils {
namespace {

using Chunk = std::vector<unsigned char>;

// Compressed bytes read from the inner source at a time, and the most read
// ahead of the inflater: enough to keep it busy while the caller resolves a
// round of names or builds (a few hundred milliseconds).
constexpr std::size_t kInputBytes = std::size_t{1} << 18;
constexpr std::size_t kInputAhead = std::size_t{32} << 20;
// Inflated chunks held ready for the caller.
constexpr std::size_t kOutputBytes = std::size_t{1} << 20;
constexpr std::size_t kOutputChunks = 16;

}  // namespace

// The inflater's thread owns the stream; everything else is shared under
// the mutex. The caller reads compressed input (so the inner source and its
// monitor only ever run on the caller's thread) and takes inflated chunks.
struct GzipSource::State {
    z_stream stream{};
    bool in_member = false;  // a member has begun and not yet ended
    bool started = false;    // some member has begun

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Chunk> input;
    std::size_t input_bytes = 0;
    bool input_ended = false;
    std::deque<Chunk> output;
    std::size_t output_pos = 0;  // into output.front()
    std::vector<Chunk> spare;
    std::optional<std::string> failure;
    bool finished = false;  // the inflater has stopped: all inflated, or failed
    bool stop = false;
    std::thread inflater;

    void inflate_all();
    // Inflates `in` into `out`, as far as both go; the failure's message,
    // if any.
    std::optional<std::string> inflate_into(Chunk& out);
};

std::optional<std::string> GzipSource::State::inflate_into(Chunk& out) {
    z_stream& z = stream;
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    while (z.avail_out > 0 && z.avail_in > 0) {
        if (!in_member) {
            // The next member, after the first: the inflater starts over.
            if (started && inflateReset(&z) != Z_OK) throw std::bad_alloc();
            in_member = started = true;
        }
        const int status = inflate(&z, Z_NO_FLUSH);
        if (status == Z_STREAM_END) {
            in_member = false;
        } else if (status == Z_MEM_ERROR) {
            throw std::bad_alloc();
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            return std::string(kInvalidGzip) + ": " + (z.msg ? z.msg : "corrupt stream");
        }
    }
    out.resize(out.size() - z.avail_out);
    return std::nullopt;
}

void GzipSource::State::inflate_all() {
    Chunk in;
    for (;;) {
        Chunk out;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] {
                return stop || (output.size() < kOutputChunks &&
                                (stream.avail_in > 0 || !input.empty() || input_ended));
            });
            if (stop) return;
            if (stream.avail_in == 0) {
                if (input.empty()) {
                    // A member left open is cut short; an input without any
                    // member is no gzip data at all.
                    if (in_member || !started) failure = std::string(kTruncatedGzip);
                    finished = true;
                    changed.notify_all();
                    return;
                }
                in = std::move(input.front());
                input.pop_front();
                input_bytes -= in.size();
                stream.next_in = in.data();
                stream.avail_in = static_cast<uInt>(in.size());
                changed.notify_all();
            }
            if (!spare.empty()) {
                out = std::move(spare.back());
                spare.pop_back();
            }
        }
        out.resize(kOutputBytes);
        std::optional<std::string> failed;
        try {
            failed = inflate_into(out);
        } catch (const std::bad_alloc&) {
            failed = "out of memory";
        }
        std::lock_guard lock(mutex);
        if (failed) {
            failure = std::move(failed);
            finished = true;
            changed.notify_all();
            return;
        }
        if (!out.empty()) {
            output.push_back(std::move(out));
            changed.notify_all();
        }
    }
}

GzipSource::GzipSource(ByteSource& inner, std::string_view already_read)
    : inner_(inner), state_(std::make_unique<State>()) {
    // 16 + 15: a gzip wrapper around the largest window.
    if (inflateInit2(&state_->stream, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
    if (!already_read.empty()) {
        state_->input.emplace_back(already_read.begin(), already_read.end());
        state_->input_bytes = already_read.size();
    }
    state_->inflater = std::thread([state = state_.get()] { state->inflate_all(); });
}

GzipSource::~GzipSource() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stop = true;
    }
    state_->changed.notify_all();
    state_->inflater.join();
    inflateEnd(&state_->stream);
}

// Reads one piece of compressed input on the caller's thread.
runtime::Result<void> GzipSource::refill() {
    Chunk chunk(kInputBytes);
    auto got = inner_.read(reinterpret_cast<char*>(chunk.data()), chunk.size());
    if (!got) return std::move(got).error();
    chunk.resize(got.value());
    std::lock_guard lock(state_->mutex);
    if (chunk.empty()) {
        state_->input_ended = true;
    } else {
        state_->input_bytes += chunk.size();
        state_->input.push_back(std::move(chunk));
    }
    state_->changed.notify_all();
    return {};
}

runtime::Result<std::size_t> GzipSource::read(char* buffer, std::size_t capacity) {
    State& s = *state_;
    if (capacity == 0) return std::size_t{0};
    std::unique_lock lock(s.mutex);
    for (;;) {
        // Keep the inflater supplied: it runs on while the caller is away.
        while (!s.input_ended && s.input_bytes < kInputAhead &&
               (s.output.empty() || s.input.empty())) {
            lock.unlock();
            auto refilled = refill();
            lock.lock();
            if (!refilled) return std::move(refilled).error();
        }
        if (!s.output.empty()) {
            Chunk& front = s.output.front();
            const std::size_t count = std::min(capacity, front.size() - s.output_pos);
            std::memcpy(buffer, front.data() + s.output_pos, count);
            s.output_pos += count;
            if (s.output_pos == front.size()) {
                s.spare.push_back(std::move(front));
                s.output.pop_front();
                s.output_pos = 0;
                s.changed.notify_all();
            }
            return count;
        }
        if (s.finished) {
            if (s.failure) return runtime::Error(*s.failure);
            return std::size_t{0};
        }
        s.changed.wait(lock, [&] {
            return !s.output.empty() || s.finished ||
                   (!s.input_ended && s.input_bytes < kInputAhead && s.input.empty());
        });
    }
}

}  // namespace quelmar::utils
