#pragma once
// Writing a graph snapshot in the layout that src/utils/snapshot_reader.h reads:
// one LZ4 frame whose content is the 8-byte little-endian values
//   next_id, N, N pairs (name, id), K, K names (id order), n,
//   n node records (id, d, then d neighbour ids), m_cache.
// The map pairs are written in id order, so the file depends on the graph
// alone. The frame has linked 256 KiB blocks (the reader's staging size),
// declares its content size and carries a content checksum. The content is
// compressed as it is produced and never held whole.
//
// The write is atomic: the frame goes to a new temporary file in the target's
// directory, which is flushed to disk and then renamed onto the target. On
// any failure, or when the monitor says stop, the temporary file is removed
// and whatever the target held before stays as it was.
//
// Errors: the operating system's text ("<description> (os error N)") when
// creating, writing, syncing or renaming fails; "LZ4 error: <name>" from
// liblz4; kInconsistent when the parts do not fit together;
// TaskMonitor::kInterrupted.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "runtime/result.h"
#include "src/utils/name_set.h"
#include "src/utils/node_id.h"
#include "src/utils/task_monitor.h"

namespace quelmar::utils {

// A finished graph's fields, borrowed for the write (see src/base/graph.h).
struct SnapshotContent {
    const NameSet& name_set;
    std::span<const std::uint64_t> offsets;  // n + 1 running degree sums
    std::span<const NodeId> neighbours;
    std::uint64_t m_cache;
};

inline constexpr std::string_view kInconsistent =
    "cannot write snapshot: node offsets do not match the names and neighbours";

// Bytes of decompressed content the snapshot of `content` holds.
std::uint64_t snapshot_content_size(const SnapshotContent& content);

runtime::Result<void> write_compressed_bincode(const std::string& path,
                                               const SnapshotContent& content,
                                               TaskMonitor& monitor = TaskMonitor::unwatched());

// How hard the frame's blocks are compressed.
enum class SnapshotCompression {
    kCompact,  // liblz4's default: the smaller file
    kFastest,  // liblz4's largest acceleration: for a frame read back at once
};

// The same frame written to an open descriptor (a pipe, say) as it is
// produced: no temporary file, no flush to disk. The descriptor stays open.
runtime::Result<void> write_bincode_frame(int fd, const SnapshotContent& content,
                                          SnapshotCompression compression,
                                          TaskMonitor& monitor = TaskMonitor::unwatched());

}  // namespace quelmar::utils
