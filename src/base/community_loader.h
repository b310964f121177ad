#pragma once
// A clustering file of one community per line: the node names of cluster k
// on data line k (k = 0, 1, 2, ...), separated by white space, as community
// detection tools and ground-truth collections publish them. The clustering
// file's rules (src/base/clustering.h) hold as if each name were a line
// "name k" of it, in the same order: repeated names count once, clusters left
// with one member are dropped, per cluster one name the graph lacks is
// skipped and a second is an error (every one under the strict option). The
// result equals that of the equivalent membership file, errors included,
// except that an empty line is "missing node_name" at its own line number
// rather than a skipped cluster id.
//
// The text is read as the clustering file is (blocks of whole lines parsed
// on the pool while the caller reads ahead), but a line is never cut: the
// reader's buffers grow to the longest line, whose bytes the input holds.

#include "runtime/result.h"
#include "src/base/clustering.h"
#include "src/base/graph.h"
#include "src/base/text_load.h"
#include "src/utils/byte_source.h"

namespace quelmar::base {

runtime::Result<Clustering> parse_communities_from_reader(const Graph& graph,
                                                          utils::ByteSource& input,
                                                          const TextLoadOptions& load = {},
                                                          bool strict = false);

}  // namespace quelmar::base
