#pragma once
// A graph given as pairs of node names in memory, ready to be written as a
// snapshot. The pairs go through the edge-list loader's own builder in
// order, so node ids, repeats, reversed pairs and self-loops come out
// exactly as from the edge list with one line per pair. Names in
// `extra_names` that no pair mentions become nodes without edges, with the
// next ids in their order (an edge list cannot hold such nodes).
//
// Errors: base::GraphBuilder::kTooManyNodes, and TaskMonitor::kInterrupted when
// the monitor says stop (asked every kPairsPerCheckpoint pairs as well as
// at the builder's own checkpoints).

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "runtime/result.h"
#include "src/base/graph.h"
#include "src/utils/snapshot_writer.h"
#include "src/utils/task_monitor.h"

namespace quelmar::exposure::tools {

inline constexpr std::size_t kPairsPerCheckpoint = std::size_t{1} << 20;

class PairGraph {
public:
    // `pairs` holds 2k names: from, to, from, to, ...
    static runtime::Result<PairGraph> build(std::span<const std::uint64_t> pairs,
                                            std::span<const std::uint64_t> extra_names,
                                            utils::TaskMonitor& monitor);

    // Borrows from this object.
    utils::SnapshotContent content() const;

private:
    explicit PairGraph(base::Graph graph) : graph_(std::move(graph)) {}

    base::Graph graph_;
    // Set only when there are nodes without edges: the graph's names and
    // offsets extended by them (the neighbour array stays the graph's).
    std::optional<utils::NameSet> names_;
    std::vector<std::uint64_t> offsets_;
};

}  // namespace quelmar::exposure::tools
