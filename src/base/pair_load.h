#pragma once
// A graph from name pairs already in memory (from, to, from, to, ...): the
// graph the edge-list loader makes of one line per pair, with the same node
// ids (order of first appearance, from before to), repeated and reversed
// pairs collapsed and self-loops kept. Names in `lone_names` that no pair
// mentions follow as nodes without edges, with the next ids in their order.
//
// The names are read in place and never copied; both spans must stay
// unchanged until the call returns. The work runs on the pool chosen by the
// text loads' rule (src/base/text_load.h, LoadPool), and the result never
// depends on it. The monitor is asked on the caller's thread between rounds
// of pairs and between building steps; when it says stop, the build releases
// everything and fails with TaskMonitor::kInterrupted. Past 2^32 nodes it
// fails with GraphBuilder::kTooManyNodes.

#include <cstddef>
#include <cstdint>
#include <span>

#include "runtime/result.h"
#include "runtime/worker_pool.h"
#include "src/base/graph.h"
#include "src/base/text_load.h"
#include "src/utils/name_set.h"
#include "src/utils/node_id.h"
#include "src/utils/task_monitor.h"

namespace quelmar::base {

struct PairLoadOptions {
    // The pool to run on; null for the text loads' rule.
    runtime::WorkerPool* pool = nullptr;
    // The most pair ends resolved together (as TextLoadOptions::round_names).
    // A quarter of the text load's: the caller's array stays resident beside
    // the build, and the last round's scratch (9 bytes per end) sets the
    // peak, just under a tenth past the array plus the finished graph.
    std::size_t round_names = TextLoadOptions{}.round_names / 4;
    // Lowered only by tests.
    std::uint64_t max_nodes = utils::kMaxNodes;
};

// `pairs` holds an even number of names.
runtime::Result<Graph> graph_from_pairs(std::span<const utils::NodeName> pairs,
                                        std::span<const utils::NodeName> lone_names,
                                        utils::TaskMonitor& monitor,
                                        const PairLoadOptions& options = {});

}  // namespace quelmar::base
