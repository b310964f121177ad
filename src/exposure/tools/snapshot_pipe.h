#pragma once
// Feeds a snapshot into a named pipe from a thread of its own, so that the
// reader at the other end (quelmar.Graph on the calling thread) decodes the
// frame while it is still being produced, and nothing touches a disk. The
// frame's blocks are compressed as lightly as liblz4 allows: they are read
// back at once.
//
// The thread waits for a reader to open the pipe, writes, and closes its
// end. It blocks every signal, so they reach the interpreter's thread, and a
// reader that goes away early ends the write with EPIPE instead of killing
// the process. Destroying the writer stops it and waits for the thread.

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "runtime/result.h"
#include "src/utils/snapshot_writer.h"

namespace quelmar::exposure::tools {

class SnapshotPipeWriter {
public:
    // `content` must outlive the writer.
    SnapshotPipeWriter(std::string path, utils::SnapshotContent content);
    ~SnapshotPipeWriter();
    SnapshotPipeWriter(const SnapshotPipeWriter&) = delete;
    SnapshotPipeWriter& operator=(const SnapshotPipeWriter&) = delete;

    // Stops waiting for a reader (the write itself ends when the reader
    // closes its end), waits for the thread, and tells how the write went.
    runtime::Result<void> finish();

private:
    void run();
    int open_when_read();

    const std::string path_;
    const utils::SnapshotContent content_;
    std::atomic<bool> stopped_{false};
    std::optional<runtime::Error> error_;
    std::thread thread_;
};

}  // namespace quelmar::exposure::tools
