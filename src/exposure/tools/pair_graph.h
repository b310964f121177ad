#pragma once
// A graph given as pairs of node names in memory, written as a snapshot.
// The pairs go through the edge-list loader's own builder in order, so node
// ids, repeats, reversed pairs and self-loops come out exactly as from the
// edge list with one line per pair. Names in `extra_names` that no pair
// mentions become nodes without edges, with the next ids in their order
// (an edge list cannot hold such nodes). The snapshot is written by the
// project's writer, atomically.
//
// Errors: GraphBuilder::kTooManyNodes, the snapshot writer's errors, and
// TaskMonitor::kInterrupted when the monitor says stop (checked every
// kPairsPerCheckpoint pairs as well as at the builder's and writer's own
// checkpoints).

#include <cstdint>
#include <span>
#include <string>

#include "runtime/result.h"
#include "src/utils/task_monitor.h"

namespace quelmar::exposure::tools {

inline constexpr std::size_t kPairsPerCheckpoint = std::size_t{1} << 20;

// `pairs` holds 2k names: from, to, from, to, ...
runtime::Result<void> write_pair_graph_snapshot(const std::string& path,
                                                std::span<const std::uint64_t> pairs,
                                                std::span<const std::uint64_t> extra_names,
                                                utils::TaskMonitor& monitor);

}  // namespace quelmar::exposure::tools
