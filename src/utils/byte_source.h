#pragma once
// Where loaders get their bytes from. FileSource reads a POSIX file descriptor
// directly, so a failed open or read keeps its errno and reports it as
// "<description> (os error N)". It reports to a TaskMonitor every few MiB it
// reads and whenever a signal interrupts a read (so that a read blocked on a
// pipe can be stopped too); once the monitor says stop, reads fail with
// TaskMonitor::kInterrupted. MemorySource serves bytes already in memory,
// optionally in small pieces (to exercise a reader's buffer boundaries).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/result.h"
#include "src/utils/task_monitor.h"

namespace quelmar::utils {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads at most `capacity` bytes into `buffer`; 0 means end of input.
    // On failure the error message is the operating system's error text.
    virtual runtime::Result<std::size_t> read(char* buffer, std::size_t capacity) = 0;
};

// An open file, closed when the object is destroyed.
class FileSource final : public ByteSource {
public:
    // `monitor` must outlive the source.
    static runtime::Result<FileSource> open(const std::string& path,
                                            TaskMonitor& monitor = TaskMonitor::unwatched());

    FileSource(FileSource&& other) noexcept;
    FileSource& operator=(FileSource&& other) noexcept;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    ~FileSource() override;

    runtime::Result<std::size_t> read(char* buffer, std::size_t capacity) override;

private:
    FileSource(int fd, std::uint64_t size, TaskMonitor& monitor)
        : fd_(fd), size_(size), monitor_(&monitor) {}
    bool checkpoint();

    int fd_ = -1;
    std::uint64_t size_ = 0;  // of a regular file; 0 when unknown
    TaskMonitor* monitor_;
    std::uint64_t bytes_read_ = 0;
    std::uint64_t next_checkpoint_ = TaskMonitor::kCheckpointBytes;
};

class MemorySource final : public ByteSource {
public:
    // `data` must outlive the source. Each read returns at most `max_piece`
    // bytes.
    explicit MemorySource(std::string_view data, std::size_t max_piece = SIZE_MAX)
        : data_(data), max_piece_(max_piece == 0 ? 1 : max_piece) {}

    runtime::Result<std::size_t> read(char* buffer, std::size_t capacity) override;

private:
    std::string_view data_;
    std::size_t max_piece_;
    std::size_t position_ = 0;
};

}  // namespace quelmar::utils
