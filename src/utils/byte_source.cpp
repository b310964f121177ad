#include "utils/byte_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace quelmar {

Result<FileSource> FileSource::open(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Error(os_error_text(errno));
    return FileSource(fd);
}

FileSource::FileSource(FileSource&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileSource& FileSource::operator=(FileSource&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

FileSource::~FileSource() {
    if (fd_ >= 0) ::close(fd_);
}

Result<std::size_t> FileSource::read(char* buffer, std::size_t capacity) {
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, capacity);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) return Error(os_error_text(errno));
    }
}

Result<std::size_t> MemorySource::read(char* buffer, std::size_t capacity) {
    const std::size_t count = std::min({capacity, max_piece_, data_.size() - position_});
    std::memcpy(buffer, data_.data() + position_, count);
    position_ += count;
    return count;
}

}  // namespace quelmar
