#include "src/utils/snapshot_writer.h"

#include <fcntl.h>
#include <lz4frame.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <utility>

#include "src/utils/lz4_error.h"

namespace quelmar::utils {
namespace {

// Content is compressed in pieces of this size: a few 256 KiB blocks.
constexpr std::size_t kStagedBytes = std::size_t{1} << 20;

runtime::Error interrupted() { return runtime::Error::interrupted(); }

// A new file beside the target, removed again unless commit() renamed it
// into place.
class TemporaryFile {
public:
    static runtime::Result<TemporaryFile> create(const std::string& target) {
        const std::size_t slash = target.rfind('/');
        const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
        const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
        std::random_device seed;
        std::mt19937_64 random((std::uint64_t{seed()} << 32) ^ seed() ^ ::getpid());
        for (int attempt = 0;; ++attempt) {
            char suffix[24];
            std::snprintf(suffix, sizeof suffix, ".%012llx",
                          static_cast<unsigned long long>(random() >> 16));
            std::string path = directory + "." + name + suffix + ".tmp";
            // 0666 less the umask, as for any new file.
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) return TemporaryFile(fd, std::move(path));
            if ((errno != EEXIST && errno != EINTR) || attempt == 100) {
                return runtime::Error::os(errno);
            }
        }
    }

    TemporaryFile(TemporaryFile&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {
        other.path_.clear();
    }
    TemporaryFile& operator=(TemporaryFile&&) = delete;
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!path_.empty()) ::unlink(path_.c_str());
    }

    int fd() const noexcept { return fd_; }

    // Flushes the file to disk, closes it and renames it onto `target`, so
    // that the target never names a partly written file, even after a crash.
    runtime::Result<void> commit(const std::string& target) {
        if (::fsync(fd_) != 0) return runtime::Error::os(errno);
        const int status = ::close(std::exchange(fd_, -1));
        if (status != 0 && errno != EINTR) return runtime::Error::os(errno);
        if (::rename(path_.c_str(), target.c_str()) != 0) return runtime::Error::os(errno);
        path_.clear();
        return {};
    }

private:
    TemporaryFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    int fd_;
    std::string path_;
};

// The frame under construction: values are staged, compressed a staging
// buffer at a time and written out, with a checkpoint of the monitor every
// few MiB. A failure is returned by the call that meets it (the put() that
// flushes, or finish()); the writer is not used after that.
class FrameWriter {
public:
    FrameWriter(int fd, TaskMonitor& monitor, std::uint64_t content_size,
                SnapshotCompression compression = SnapshotCompression::kCompact)
        : fd_(fd), monitor_(monitor), content_size_(content_size), staged_(new char[kStagedBytes]) {
        preferences_.frameInfo.blockSizeID = LZ4F_max256KB;
        preferences_.frameInfo.blockMode = LZ4F_blockLinked;
        preferences_.frameInfo.contentChecksumFlag = LZ4F_contentChecksumEnabled;
        preferences_.frameInfo.contentSize = content_size;
        // Negative levels are accelerations of the fast compressor.
        if (compression == SnapshotCompression::kFastest) preferences_.compressionLevel = -65537;
    }
    ~FrameWriter() {
        if (context_) LZ4F_freeCompressionContext(context_);
    }
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    // Creates liblz4's context and writes the frame header.
    runtime::Result<void> begin() {
        const std::size_t code = LZ4F_createCompressionContext(&context_, LZ4F_VERSION);
        if (LZ4F_isError(code)) {
            context_ = nullptr;
            return runtime::Error(lz4_error_text(code));
        }
        compressed_size_ = LZ4F_compressBound(kStagedBytes, &preferences_);
        compressed_.reset(new char[compressed_size_]);
        return emit(
            LZ4F_compressBegin(context_, compressed_.get(), compressed_size_, &preferences_));
    }

    // Stages the values in order, stopping at the first failure.
    template <class... Values>
    runtime::Result<void> put(Values... values) {
        runtime::Result<void> staged;
        ((staged = put_one(static_cast<std::uint64_t>(values))) && ...);
        return staged;
    }

    // Compresses what is staged and ends the frame.
    runtime::Result<void> finish() {
        if (auto flushed = flush(); !flushed) return flushed;
        return emit(LZ4F_compressEnd(context_, compressed_.get(), compressed_size_, nullptr));
    }

private:
    runtime::Result<void> put_one(std::uint64_t value) {
        if (staged_count_ + sizeof value > kStagedBytes) [[unlikely]] {
            if (auto flushed = flush(); !flushed) return flushed;
        }
        if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
        std::memcpy(staged_.get() + staged_count_, &value, sizeof value);
        staged_count_ += sizeof value;
        return {};
    }

    runtime::Result<void> flush() {
        if (staged_count_ == 0) return {};
        if (auto emitted = emit(LZ4F_compressUpdate(context_, compressed_.get(), compressed_size_,
                                                    staged_.get(), staged_count_, nullptr));
            !emitted) {
            return emitted;
        }
        staged_total_ += staged_count_;
        staged_count_ = 0;
        if (staged_total_ >= next_checkpoint_) {
            next_checkpoint_ = staged_total_ + TaskMonitor::kCheckpointBytes;
            if (!monitor_.checkpoint(
                    {TaskProgress::Stage::kWriting, staged_total_, content_size_})) {
                return interrupted();
            }
        }
        return {};
    }

    // Writes the first `size` bytes of the compressed buffer, unless `size`
    // is liblz4's error code.
    runtime::Result<void> emit(std::size_t size) {
        if (LZ4F_isError(size)) return runtime::Error(lz4_error_text(size));
        const char* data = compressed_.get();
        while (size > 0) {
            const ssize_t wrote = ::write(fd_, data, size);
            if (wrote < 0) {
                if (errno != EINTR) return runtime::Error::os(errno);
                if (!monitor_.checkpoint(
                        {TaskProgress::Stage::kWriting, staged_total_, content_size_})) {
                    return interrupted();
                }
                continue;
            }
            data += wrote;
            size -= static_cast<std::size_t>(wrote);
        }
        return {};
    }

    int fd_;
    TaskMonitor& monitor_;
    const std::uint64_t content_size_;
    LZ4F_cctx* context_ = nullptr;
    LZ4F_preferences_t preferences_{};
    std::unique_ptr<char[]> staged_;
    std::size_t staged_count_ = 0;
    std::uint64_t staged_total_ = 0;
    std::uint64_t next_checkpoint_ = TaskMonitor::kCheckpointBytes;
    std::unique_ptr<char[]> compressed_;
    std::size_t compressed_size_ = 0;
};

bool consistent(const SnapshotContent& content) {
    const std::uint64_t n = content.name_set.next_id();
    return content.offsets.size() == n + 1 && content.offsets.front() == 0 &&
           content.offsets.back() == content.neighbours.size();
}

// next_id, N, the N (name, id) pairs in id order, K and the K names.
runtime::Result<void> write_names(FrameWriter& out, const std::vector<NodeName>& names) {
    const std::uint64_t n = names.size();
    if (auto put = out.put(n, n); !put) return put;
    for (std::uint64_t id = 0; id < n; ++id) {
        if (auto put = out.put(names[id], id); !put) return put;
    }
    if (auto put = out.put(n); !put) return put;
    for (std::uint64_t id = 0; id < n; ++id) {
        if (auto put = out.put(names[id]); !put) return put;
    }
    return {};
}

// n, then per node its id, its degree and its neighbour ids.
runtime::Result<void> write_nodes(FrameWriter& out, const SnapshotContent& content) {
    const std::uint64_t n = content.offsets.size() - 1;
    if (auto put = out.put(n); !put) return put;
    for (std::uint64_t u = 0; u < n; ++u) {
        const std::uint64_t begin = content.offsets[u];
        const std::uint64_t end = content.offsets[u + 1];
        if (auto put = out.put(u, end - begin); !put) return put;
        for (std::uint64_t k = begin; k < end; ++k) {
            if (auto put = out.put(content.neighbours[k]); !put) return put;
        }
    }
    return {};
}

runtime::Result<void> write_frame(FrameWriter& out, const SnapshotContent& content) {
    if (auto begun = out.begin(); !begun) return begun;
    if (auto names = write_names(out, content.name_set.id_to_name()); !names) return names;
    if (auto nodes = write_nodes(out, content); !nodes) return nodes;
    if (auto put = out.put(content.m_cache); !put) return put;
    return out.finish();
}

}  // namespace

std::uint64_t snapshot_content_size(const SnapshotContent& content) {
    const std::uint64_t n = content.name_set.next_id();
    return 8 * (5 + 2 * n + n + 2 * n + content.neighbours.size());
}

runtime::Result<void> write_compressed_bincode(const std::string& path,
                                               const SnapshotContent& content,
                                               TaskMonitor& monitor) {
    if (!consistent(content)) return runtime::Error(std::string(kInconsistent));
    auto file = TemporaryFile::create(path);
    if (!file) return std::move(file).error();
    {
        FrameWriter out(file.value().fd(), monitor, snapshot_content_size(content));
        runtime::Result<void> written = write_frame(out, content);
        if (!written) return written;
    }
    return file.value().commit(path);
}

runtime::Result<void> write_bincode_frame(int fd, const SnapshotContent& content,
                                          SnapshotCompression compression, TaskMonitor& monitor) {
    if (!consistent(content)) return runtime::Error(std::string(kInconsistent));
    FrameWriter out(fd, monitor, snapshot_content_size(content), compression);
    return write_frame(out, content);
}

}  // namespace quelmar::utils
