#pragma once
// A clustering read against a graph, from a clustering file or from arrays of
// (node, cluster) memberships. A file holds UTF-8 lines "node_name
// cluster_id" (further tokens ignored), tokenised like the edge list; line i
// of the file and position i of the arrays are the same membership, and both
// routes give the same result for the same memberships. Per cluster id, one
// membership naming a node the graph does not know is skipped; a second such
// one for the same cluster id fails (memberships are counted, not names).
// Under the strict option any such membership fails, the first in input
// order. Clusters left with a single distinct member are dropped. Clusters
// may overlap. The cluster id of a line is checked before its node name. The
// file is streamed (src/base/text_load.h tells how the work is spread):
// memory grows with the clusters and their members, not with the file. Both
// routes read the graph without locking and run on the pool chosen by the
// text loads' rule; the result never depends on it.
//
// Error messages (exact): "missing node_name", "missing cluster_id",
// "invalid cluster_id", "invalid digit found in string", "number too large to
// fit in target type", "stream did not contain valid UTF-8", "node {name}
// requested in cluster {id} not found in graph, and is not singleton", under
// the strict option "node {name} requested in cluster {id} not found in
// graph", and operating-system errors as "<description> (os error N)". The
// node name is given as the file wrote it, and in decimal from arrays.

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "runtime/result.h"
#include "runtime/worker_pool.h"
#include "src/base/graph.h"
#include "src/base/text_load.h"
#include "src/utils/byte_source.h"

namespace quelmar::base {

using ClusterId = std::uint64_t;

struct ClusteringOptions {
    // Every membership naming a node the graph lacks fails.
    bool strict = false;
    // The pool to run on; null for the text loads' rule.
    runtime::WorkerPool* pool = nullptr;
};

// Transient: produced by the loader, consumed by packing. The clusters'
// members lie end to end in one array: no allocation per cluster, and
// packing takes the array over as it is.
struct Clustering {
    // Cluster k has the id ids[k] and the members
    // members[starts[k] .. starts[k + 1]). From the loaders: every surviving
    // cluster (at least two members), ascending by id, its members distinct
    // and ascending.
    std::vector<ClusterId> ids;
    std::vector<std::uint64_t> starts{0};
    std::vector<utils::NodeId> members;
    // Memberships skipped because the graph lacks their node.
    std::uint64_t unknown_memberships = 0;
    // Clusters dropped for having a single distinct member.
    std::uint64_t dropped_singletons = 0;
    // Nodes its source marked as in no cluster (a membership vector's
    // negative entries); the loaders here never see any.
    std::uint64_t unassigned_nodes = 0;

    std::size_t size() const { return ids.size(); }
    std::span<const utils::NodeId> members_of(std::size_t k) const {
        return std::span<const utils::NodeId>(members).subspan(starts[k],
                                                               starts[k + 1] - starts[k]);
    }
    // Appends cluster `id` with `cluster_members`, as given.
    void add(ClusterId id, std::span<const utils::NodeId> cluster_members) {
        ids.push_back(id);
        members.insert(members.end(), cluster_members.begin(), cluster_members.end());
        starts.push_back(members.size());
    }

    static runtime::Result<Clustering> parse_from_file(const Graph& graph, const std::string& path,
                                                       const ClusteringOptions& options = {});
    static runtime::Result<Clustering> parse_from_reader(const Graph& graph,
                                                         utils::ByteSource& input,
                                                         const TextLoadOptions& load = {},
                                                         bool strict = false);
    // Membership i is (nodes[i], clusters[i]); the spans are as long as each
    // other and stay unchanged until the call returns.
    static runtime::Result<Clustering> from_memberships(const Graph& graph,
                                                        std::span<const utils::NodeName> nodes,
                                                        std::span<const ClusterId> clusters,
                                                        const ClusteringOptions& options = {});
    // The same from one row-major (n, 2) array: node, cluster, node,
    // cluster, ... (an odd last value is ignored).
    static runtime::Result<Clustering> from_membership_rows(const Graph& graph,
                                                            std::span<const std::uint64_t> rows,
                                                            const ClusteringOptions& options = {});
};

}  // namespace quelmar::base
