#pragma once
// Reading a graph snapshot: one LZ4 frame whose content is a sequence of
// 8-byte little-endian values:
//   next_id, N, N pairs (name, id), K, K names (id order), n,
//   n node records (id, d, then d neighbour ids), m_cache.
// The content is decoded straight into the graph's containers and is never
// held whole. A stated count reserves memory only when data already read
// backs it; otherwise the container grows with the elements that actually
// arrive, so a damaged count ends in a read failure, not a huge reservation.
//
// Every loaded snapshot is checked against the graph invariants that the
// analysis relies on (see src/base/graph.h): the counts agree and stay within
// 2^32 nodes, the name map (a repeated name's last entry counting) and the
// name array describe the same names, node
// record i has id i, neighbour ids are in range and strictly ascending, the
// lists are symmetric (by a keyed fingerprint: an asymmetric snapshot passes
// with probability about 2^-64), and m_cache is half the neighbour count,
// rounded down. A snapshot of a well-formed graph loads unchanged. After the last value the
// rest of the frame is decoded and discarded, so that its content checksum is
// verified; bytes after the frame's end mark are never read, and a file that
// ends before that mark fails like a short one.
//
// Errors: opening the file fails with the operating system's text; "LZ4
// error: <name>" when liblz4 cannot create its context; the decoding errors
// of utils/lz4_frame_reader.h ("io error: ..." with one cause); and the
// "invalid snapshot: ..." messages below for content that breaks an
// invariant. When the frame itself is damaged, its error is the one reported.
// A file read under a TaskMonitor that says stop fails with
// TaskMonitor::kInterrupted.

#include <string>
#include <string_view>

#include "runtime/result.h"
#include "runtime/worker_pool.h"
#include "src/utils/byte_source.h"
#include "src/utils/graph_parts.h"
#include "src/utils/task_monitor.h"

namespace quelmar::utils {

// The name table is filled on `pool` (null: the caller's thread).
runtime::Result<GraphParts> read_compressed_bincode(const std::string& path,
                                                    TaskMonitor& monitor = TaskMonitor::unwatched(),
                                                    runtime::WorkerPool* pool = nullptr);
runtime::Result<GraphParts> read_compressed_bincode(ByteSource& source,
                                                    runtime::WorkerPool* pool = nullptr);

namespace snapshot_errors {
inline constexpr std::string_view kTooManyNodes =
    "invalid snapshot: more than 4294967296 nodes (node ids are 32-bit)";
inline constexpr std::string_view kMapCount =
    "invalid snapshot: name_to_id holds fewer entries than next_id";
inline constexpr std::string_view kNameCount =
    "invalid snapshot: id_to_name count differs from next_id";
inline constexpr std::string_view kNodeCount = "invalid snapshot: node count differs from next_id";
inline constexpr std::string_view kMapIdOutOfRange =
    "invalid snapshot: name_to_id holds an id not below next_id";
inline constexpr std::string_view kDuplicateName =
    "invalid snapshot: id_to_name holds a name twice";
inline constexpr std::string_view kMapDisagrees =
    "invalid snapshot: name_to_id and id_to_name describe different names";
inline constexpr std::string_view kNodeIdMismatch =
    "invalid snapshot: node record i does not hold id i";
inline constexpr std::string_view kDegreeTooLarge =
    "invalid snapshot: a node has more neighbours than there are nodes";
inline constexpr std::string_view kNeighbourOutOfRange =
    "invalid snapshot: a neighbour id is not below the node count";
inline constexpr std::string_view kNeighboursUnsorted =
    "invalid snapshot: a neighbour list is not strictly ascending";
inline constexpr std::string_view kAsymmetric =
    "invalid snapshot: neighbour lists are not symmetric";
inline constexpr std::string_view kEdgeCount =
    "invalid snapshot: m_cache is not half the number of neighbour entries";
}  // namespace snapshot_errors

}  // namespace quelmar::utils
