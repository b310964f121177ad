#pragma once
// Loading a graph file. The format follows the path's extension: "lz4"
// (case-sensitive, last path component) is a compressed snapshot
// (utils/snapshot_reader.h); anything else is an edge list: UTF-8 text, one
// edge per line, two decimal node names separated by Unicode whitespace,
// further tokens ignored. Node ids are given in order of first appearance,
// from name before to name, line by line. Duplicate and reversed lines add
// nothing; a line naming one node twice is a self-loop.
//
// Error messages (exact), from the first failing line: "missing from",
// "missing to", "invalid digit found in string", "number too large to fit in
// target type", "stream did not contain valid UTF-8", operating-system errors
// as "<description> (os error N)", and GraphBuilder::kTooManyNodes past 2^32
// nodes. Snapshot errors are those of utils/snapshot_reader.h.

#include <string>

#include "base/graph.h"
#include "runtime/result.h"
#include "utils/byte_source.h"

namespace quelmar {

Result<Graph> parse_from_file(const std::string& path);

// The edge-list reader on an already opened source. `max_nodes` is lowered
// only by tests.
Result<Graph> parse_edgelist_from_reader(ByteSource& input, std::uint64_t max_nodes = kMaxNodes);

}  // namespace quelmar
