#include "src/exposure/tools/snapshot_pipe.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace quelmar::exposure::tools {

SnapshotPipeWriter::SnapshotPipeWriter(std::string path, utils::SnapshotContent content)
    : path_(std::move(path)), content_(content) {
    // The new thread inherits the signal mask.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    try {
        thread_ = std::thread([this] { run(); });
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

SnapshotPipeWriter::~SnapshotPipeWriter() {
    stopped_ = true;
    if (thread_.joinable()) thread_.join();
}

runtime::Result<void> SnapshotPipeWriter::finish() {
    stopped_ = true;
    if (thread_.joinable()) thread_.join();
    if (error_) return *error_;
    return {};
}

// Opening for writing without a reader fails at once (ENXIO) in
// non-blocking mode; a blocking open could wait for ever.
int SnapshotPipeWriter::open_when_read() {
    while (!stopped_) {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        if (errno != ENXIO && errno != EINTR) {
            error_ = runtime::Error(runtime::os_error_text(errno));
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    error_ = runtime::Error(std::string(utils::TaskMonitor::kInterrupted));
    return -1;
}

void SnapshotPipeWriter::run() {
    const int fd = open_when_read();
    if (fd < 0) return;
    runtime::Result<void> written =
        utils::write_bincode_frame(fd, content_, utils::SnapshotCompression::kFastest);
    ::close(fd);
    if (!written) error_ = std::move(written).error();
}

}  // namespace quelmar::exposure::tools
