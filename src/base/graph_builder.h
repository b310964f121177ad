#pragma once
// A graph under construction from edge lines between named nodes. Names get
// dense ids in order of first appearance (from before to, line by line),
// through the builder's own name table (src/base/name_shards.h), on the worker
// pool; the ids are written straight into the lines' (from, to) pairs. The
// graph's NameSet is built from the names once, at its final size, while the
// last step of the build runs beside it.
//
// into_permanent turns the pairs into the compact finished form: degrees
// (tallied while names are looked up) are prefix-summed into offsets, both
// ends of every pair are laid out by bucket of node ids (in 6 bytes each
// when buckets span at most 2^16 ids, 5 when besides the graph has at most
// 2^24 nodes), then ordered by
// their other end and scattered within their bucket, so that each node's
// list comes out sorted; lists are deduplicated in their bucket, and buckets
// are then closed up. Repeated and reversed edges collapse to one; a
// self-loop is kept once, in its node's own list. Every phase runs on the
// pool, and the result never depends on it. A TaskMonitor hears of every
// group of pairs laid out and every group of buckets finished, on the
// caller's thread, and may stop the conversion there.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "runtime/result.h"
#include "runtime/worker_pool.h"
#include "src/base/graph.h"
#include "src/base/name_shards.h"
#include "src/utils/mapped_vector.h"
#include "src/utils/page_memory.h"
#include "src/utils/task_monitor.h"

namespace quelmar::base {

class GraphBuilder {
public:
    static constexpr std::string_view kTooManyNodes =
        "graph has more than 4294967296 nodes (node ids are 32-bit)";

    struct Limits {
        std::uint64_t max_nodes = utils::kMaxNodes;
        // Edge ends tallied per node while loading; a node past it has its
        // degree recounted from the pairs. Lowered only by tests.
        std::uint32_t max_tally = NameIndex::kNew - 2;
        // Buckets of at most 2^this ids lay their ends out in 6 bytes (it
        // cannot exceed 16). Lowered only by tests.
        int max_narrow_shift = 16;
        // Graphs of at most 2^this nodes lay narrow ends out in 5 bytes (it
        // cannot exceed 24). Lowered only by tests.
        int max_packed_id_bits = 24;
    };

    GraphBuilder() : GraphBuilder(Limits{}) {}
    // Runs on `pool`, or on the caller's thread alone when it is null.
    explicit GraphBuilder(Limits limits, runtime::WorkerPool* pool = nullptr)
        : limits_(limits), pool_(pool), names_index_(limits.max_tally) {}

    // Registers the names and records the edges of consecutive lines, from
    // and to names alternately. False when the graph would exceed
    // max_nodes; the builder must then be dropped.
    bool add_lines(std::span<const utils::NodeName> names);
    // The same for lines given in parts that readers marked
    // (src/base/name_part.h), one after another.
    bool add_lines(std::span<const NamePart> parts);
    // One line.
    bool add_edge(utils::NodeName from, utils::NodeName to) {
        const utils::NodeName line[2] = {from, to};
        return add_lines(line);
    }

    std::uint64_t node_count() const noexcept { return names_.size(); }

    // Names to add at into_permanent as nodes without edges, after every
    // node of the lines, in order, skipping those the graph already has
    // (and repeats). Read in place: `names` must outlive into_permanent.
    void add_lone_names(std::span<const utils::NodeName> names) { lone_names_ = names; }

    Graph into_permanent() &&;
    // Fails with TaskMonitor::kInterrupted when the monitor says stop, and
    // with kTooManyNodes when lone names take the graph past max_nodes; the
    // builder's memory is released either way.
    runtime::Result<Graph> into_permanent(utils::TaskMonitor& monitor) &&;

private:
    struct HalfEdge {
        utils::NodeId owner;
        utils::NodeId other;
    };
    class Buckets;
    // Checkpoints of into_permanent: pair parts laid out, then buckets filled.
    struct BuildProgress {
        utils::TaskMonitor& monitor;
        std::uint64_t done;
        std::uint64_t total;
        bool advance(std::uint64_t steps) {
            done += steps;
            return monitor.checkpoint({utils::TaskProgress::Stage::kBuilding, done, total});
        }
    };

    bool add_round(std::span<const utils::NodeName> names);
    bool add_round(std::span<const NamePart> parts, std::size_t positions);

    std::vector<std::uint64_t> start_offsets();
    std::vector<std::uint64_t> degrees_from_pairs(std::uint64_t node_count) const;
    std::size_t part_count() const;
    // End is the layout's record of an edge end (graph_builder.cpp).
    template <class End>
    bool lay_out_ends(const Buckets& buckets, utils::PageArray<End>& ends, BuildProgress& progress);
    struct SortScratch;
    template <class End>
    std::span<const HalfEdge> sort_by_other(std::span<const End> ends, std::uint64_t first_node,
                                            SortScratch& scratch) const;
    template <class End>
    std::uint64_t fill_bucket(const Buckets& buckets, std::uint64_t b, utils::PageArray<End>& ends,
                              SortScratch& scratch, utils::GraphParts& parts) const;
    template <class End>
    bool fill_buckets(const Buckets& buckets, utils::PageArray<End>& ends, utils::GraphParts& parts,
                      std::vector<std::uint64_t>& kept, BuildProgress& progress);
    template <class End>
    bool lay_out_and_fill(const Buckets& buckets, utils::GraphParts& parts,
                          std::vector<std::uint64_t>& kept, BuildProgress& progress);
    void close_up(const Buckets& buckets, std::span<const std::uint64_t> kept,
                  utils::GraphParts& parts) const;
    utils::NameSet name_set_with_lone_names(const std::function<void()>& on_caller);

    Limits limits_;
    runtime::WorkerPool* pool_;
    NameShards names_index_;
    std::vector<utils::NodeName> names_;
    utils::MappedVector<utils::NodeId> line_ends_;  // from and to of every line
    std::span<const utils::NodeName> lone_names_;
};

}  // namespace quelmar::base
