#include "src/utils/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace quelmar::utils {

runtime::Result<FileSource> FileSource::open(const std::string& path, TaskMonitor& monitor) {
    int fd;
    for (;;) {
        // Opening a pipe blocks until a writer comes.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0 || errno != EINTR) break;
        if (!monitor.checkpoint({TaskProgress::Stage::kReading, 0, 0})) {
            return runtime::Error::interrupted();
        }
    }
    if (fd < 0) return runtime::Error::os(errno);
    struct stat status;
    const bool sized = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    return FileSource(fd, sized ? static_cast<std::uint64_t>(status.st_size) : 0, monitor);
}

FileSource::FileSource(FileSource&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      size_(other.size_),
      monitor_(other.monitor_),
      bytes_read_(other.bytes_read_),
      next_checkpoint_(other.next_checkpoint_) {}

FileSource& FileSource::operator=(FileSource&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
        monitor_ = other.monitor_;
        bytes_read_ = other.bytes_read_;
        next_checkpoint_ = other.next_checkpoint_;
    }
    return *this;
}

FileSource::~FileSource() {
    if (fd_ >= 0) ::close(fd_);
}

bool FileSource::checkpoint() {
    return monitor_->checkpoint({TaskProgress::Stage::kReading, bytes_read_, size_});
}

runtime::Result<std::size_t> FileSource::read(char* buffer, std::size_t capacity) {
    if (monitor_->stopped()) return runtime::Error::interrupted();
    if (bytes_read_ >= next_checkpoint_) {
        next_checkpoint_ = bytes_read_ + TaskMonitor::kCheckpointBytes;
        if (!checkpoint()) return runtime::Error::interrupted();
    }
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, capacity);
        if (got >= 0) {
            bytes_read_ += static_cast<std::uint64_t>(got);
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) return runtime::Error::os(errno);
        if (!checkpoint()) return runtime::Error::interrupted();
    }
}

runtime::Result<std::size_t> MemorySource::read(char* buffer, std::size_t capacity) {
    const std::size_t count = std::min({capacity, max_piece_, data_.size() - position_});
    std::memcpy(buffer, data_.data() + position_, count);
    position_ += count;
    return count;
}

}  // namespace quelmar::utils
