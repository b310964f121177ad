#include "src/exposure/tools/membership_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <vector>

namespace quelmar::exposure::tools {
namespace {

constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
// Two 20-digit numbers, a space and a line feed.
constexpr std::size_t kMaxLineBytes = 42;

class OutputFile {
public:
    explicit OutputFile(const std::string& path)
        : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)) {
        buffer_.reserve(kBufferBytes);
    }
    ~OutputFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool opened() const noexcept { return fd_ >= 0; }

    bool append_line(std::uint64_t node, std::uint64_t cluster) {
        if (buffer_.size() + kMaxLineBytes > kBufferBytes && !flush()) return false;
        char line[kMaxLineBytes];
        char* end = std::to_chars(line, line + kMaxLineBytes, node).ptr;
        *end++ = ' ';
        end = std::to_chars(end, line + kMaxLineBytes, cluster).ptr;
        *end++ = '\n';
        buffer_.insert(buffer_.end(), line, end);
        return true;
    }

    bool flush() {
        std::size_t done = 0;
        while (done < buffer_.size()) {
            ssize_t written = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
            if (written < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            done += static_cast<std::size_t>(written);
        }
        buffer_.clear();
        return true;
    }

    bool close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
    std::vector<char> buffer_;
};

}  // namespace

runtime::Result<void> write_memberships(const std::string& path,
                                        std::span<const std::uint64_t> nodes,
                                        std::span<const std::uint64_t> clusters) {
    OutputFile file(path);
    if (!file.opened()) return runtime::Error(runtime::os_error_text(errno));
    for (std::size_t i = 0; i < nodes.size() && i < clusters.size(); ++i) {
        if (!file.append_line(nodes[i], clusters[i]))
            return runtime::Error(runtime::os_error_text(errno));
    }
    if (!file.flush() || !file.close()) return runtime::Error(runtime::os_error_text(errno));
    return {};
}

}  // namespace quelmar::exposure::tools
