#pragma once
// Loading a graph file. The format follows the path's extension: "lz4"
// (case-sensitive, last path component) is a compressed snapshot
// (src/utils/snapshot_reader.h); anything else is an edge list: UTF-8 text, one
// edge per line, two decimal node names separated by Unicode whitespace,
// further tokens ignored. Node ids are given in order of first appearance,
// from name before to name, line by line. Duplicate and reversed lines add
// nothing; a line naming one node twice is a self-loop.
//
// Error messages (exact), from the first failing line: "missing from",
// "missing to", "invalid digit found in string", "number too large to fit in
// target type", "stream did not contain valid UTF-8", operating-system errors
// as "<description> (os error N)", and GraphBuilder::kTooManyNodes past 2^32
// nodes. Snapshot errors are those of src/utils/snapshot_reader.h.
//
// A TaskMonitor hears how far reading and building got, every few MiB of
// input and between building steps; when it says stop, the load releases
// everything it built and fails with TaskMonitor::kInterrupted.

#include <string>

#include "runtime/result.h"
#include "src/base/graph.h"
#include "src/base/text_load.h"
#include "src/utils/byte_source.h"
#include "src/utils/task_monitor.h"

namespace quelmar::base {

runtime::Result<Graph> parse_from_file(
    const std::string& path, utils::TaskMonitor& monitor = utils::TaskMonitor::unwatched());

// The edge-list reader on an already opened source (src/base/text_load.h
// tells how it spreads its work). `max_nodes` is lowered only by tests.
runtime::Result<Graph> parse_edgelist_from_reader(utils::ByteSource& input,
                                                  std::uint64_t max_nodes = utils::kMaxNodes);
runtime::Result<Graph> parse_edgelist_from_reader(utils::ByteSource& input,
                                                  utils::TaskMonitor& monitor,
                                                  std::uint64_t max_nodes = utils::kMaxNodes,
                                                  const TextLoadOptions& options = {});

}  // namespace quelmar::base
