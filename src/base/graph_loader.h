#pragma once
// Loading a graph file. The format follows the path's extension: "lz4"
// (case-sensitive, last path component) is a compressed snapshot; anything
// else is an edge list: UTF-8 text, one edge per line, two decimal node names
// separated by Unicode whitespace, further tokens ignored. Node ids are given
// in order of first appearance, from name before to name, line by line.
//
// Error messages (exact): "missing from", "missing to", "invalid digit found
// in string", "number too large to fit in target type", "stream did not
// contain valid UTF-8", and operating-system errors as "<description> (os
// error N)". Snapshot errors are those of utils/snapshot_reader.h.

#include <istream>
#include <string>

#include "base/graph.h"
#include "runtime/result.h"

namespace quelmar {

Result<Graph> parse_from_file(const std::string& path);

// The edge-list reader on an already opened stream.
Result<Graph> parse_edgelist_from_reader(std::istream& input);

}  // namespace quelmar
