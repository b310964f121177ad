#pragma once
// A clustering file read against a graph: UTF-8 lines "node_name cluster_id"
// (further tokens ignored), tokenised like the edge list. Per cluster id, one
// line naming a node the graph does not know is skipped; a second such line
// for the same cluster id fails (lines are counted, not names). Clusters left
// with a single distinct member are dropped. Clusters may overlap. The cluster
// id of a line is checked before its node name. The file is streamed
// (src/base/text_load.h tells how the work is spread): memory grows with the
// clusters and their members, not with the file. Reads the graph without
// locking.
//
// Error messages (exact): "missing node_name", "missing cluster_id",
// "invalid cluster_id", "invalid digit found in string", "number too large to
// fit in target type", "stream did not contain valid UTF-8", "node {token}
// requested in cluster {id} not found in graph, and is not singleton", and
// operating-system errors as "<description> (os error N)".

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/result.h"
#include "src/base/graph.h"
#include "src/base/text_load.h"
#include "src/utils/byte_source.h"

namespace quelmar::base {

using ClusterId = std::uint64_t;

struct Cluster {
    // Distinct member node ids, ascending once loading has finished.
    std::vector<utils::NodeId> core;
};

// Transient: produced by the loader, consumed by packing.
struct Clustering {
    // Every surviving cluster (at least two members), ascending by id.
    std::vector<std::pair<ClusterId, Cluster>> clusters;

    static runtime::Result<Clustering> parse_from_file(const Graph& graph, const std::string& path);
    static runtime::Result<Clustering> parse_from_reader(const Graph& graph,
                                                         utils::ByteSource& input,
                                                         const TextLoadOptions& options = {});
};

}  // namespace quelmar::base
