#pragma once
// What both clustering routes (the file and the arrays) share once a
// membership's node has been looked up: the unknown-node rule, applied in
// input order, and the grouping of known members into clusters. Readers hand
// over their known members in input order, grouped in runs of one cluster;
// finish groups the runs by cluster id, sorts and deduplicates each
// cluster's members on the pool, and drops clusters left with one member.
// The result never depends on how the input was cut or on the pool.

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <absl/container/flat_hash_set.h>

#include "runtime/result.h"
#include "runtime/worker_pool.h"
#include "src/base/clustering.h"
#include "src/base/line_rules.h"
#include "src/utils/node_id.h"

namespace quelmar::base {

// Consecutive known memberships of one cluster: members [begin, end).
struct MemberRun {
    ClusterId cluster;
    std::uint64_t begin;
    std::uint64_t end;
};

class MembershipBuilder {
public:
    explicit MembershipBuilder(bool strict) : strict_(strict) {}

    // Applies the rule to the next membership naming a node the graph lacks:
    // strict, it fails; otherwise one per cluster id is skipped and a second
    // fails. as_written() gives the node name as the input gave it.
    template <class AsWritten>
    runtime::Result<void> skip_unknown(ClusterId cluster, AsWritten&& as_written) {
        if (strict_) return runtime::Error(unknown_node_message(as_written(), cluster));
        if (!unresolved_.insert(cluster).second) {
            return runtime::Error(unresolved_node_message(as_written(), cluster));
        }
        return {};
    }

    // Room for this many members in all, when the caller knows it ahead.
    void reserve(std::size_t members) { members_.reserve(members); }

    // Appends known members that follow every member appended so far, with
    // their runs (positions relative to `members`).
    void append(std::span<const utils::NodeId> members, std::span<const MemberRun> runs);

    Clustering finish(runtime::WorkerPool* pool) &&;

private:
    bool strict_;
    std::vector<utils::NodeId> members_;
    std::vector<MemberRun> runs_;
    // Clusters that already had one membership naming an unknown node.
    absl::flat_hash_set<ClusterId> unresolved_;
};

}  // namespace quelmar::base
