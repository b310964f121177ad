#pragma once
// A graph under construction from edges between named nodes. Names get dense
// ids in order of first appearance (from before to), through the builder's
// own name table (src/base/name_index.h); the graph's NameSet is built from them
// once, at its final size. Edges are kept as (from, to) id pairs in chunks
// (no doubling copies of one huge array) and turned into the compact
// finished form once, by into_permanent: degrees (tallied while names are
// looked up) are prefix-summed into offsets, both ends of every pair are laid
// out by bucket of node ids and then scattered within their bucket, and each
// node's list is sorted and deduplicated as the array is compacted in place.
// Repeated and reversed edges collapse to one; a self-loop is kept once, in
// its node's own list. A TaskMonitor hears of every pair chunk laid out and
// every bucket finished, and may stop the conversion there.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "runtime/result.h"
#include "src/base/graph.h"
#include "src/base/name_index.h"
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
        std::uint32_t max_tally = UINT32_MAX - 1;
    };

    GraphBuilder() : GraphBuilder(Limits{}) {}
    explicit GraphBuilder(Limits limits) : limits_(limits) {}

    // Hint that `name` will be looked up soon: its slot is loaded meanwhile.
    void prefetch(utils::NodeName name) const { index_.prefetch(name); }

    // Registers the names (from first) and records the undirected edge.
    // False when the graph would exceed max_nodes; the builder must then be
    // dropped.
    bool add_edge(utils::NodeName from, utils::NodeName to) {
        utils::NodeId u, v;
        if (!request_and_tally(from, u)) return false;
        NameIndex::Slot* to_slot;
        if (!request(to, v, to_slot)) return false;
        if (v != u) tally(*to_slot);
        if (next_ == limit_) [[unlikely]]
            add_chunk();
        *next_++ = {u, v};
        return true;
    }

    std::uint64_t node_count() const noexcept { return names_.size(); }

    Graph into_permanent() &&;
    // Fails with TaskMonitor::kInterrupted when the monitor says stop; the
    // builder's memory is released either way.
    runtime::Result<Graph> into_permanent(utils::TaskMonitor& monitor) &&;

private:
    struct EdgePair {
        utils::NodeId from;
        utils::NodeId to;
    };
    struct Chunk {
        utils::PageArray<EdgePair> pairs;
        std::size_t size;  // up to date once sealed
    };

    bool request(utils::NodeName name, utils::NodeId& id, NameIndex::Slot*& slot) {
        if (names_.size() >= limits_.max_nodes) [[unlikely]] {
            // Only a known name may still be looked up.
            bool claimed;
            slot = &index_.find_or_claim(name, 0, claimed);
            if (claimed) return false;
        } else {
            bool claimed;
            slot = &index_.find_or_claim(name, static_cast<utils::NodeId>(names_.size()), claimed);
            if (claimed) names_.push_back(name);
        }
        id = slot->id;
        return true;
    }
    bool request_and_tally(utils::NodeName name, utils::NodeId& id) {
        NameIndex::Slot* slot;
        if (!request(name, id, slot)) return false;
        tally(*slot);
        return true;
    }
    void tally(NameIndex::Slot& slot) {
        if (slot.tag <= limits_.max_tally) [[likely]] {
            ++slot.tag;
        } else {
            tallies_overflowed_ = true;
        }
    }

    void add_chunk();
    void seal_last_chunk();
    std::vector<std::uint64_t> degrees_from_pairs(std::uint64_t node_count) const;

    Limits limits_;
    NameIndex index_;
    std::vector<utils::NodeName> names_;
    bool tallies_overflowed_ = false;
    std::vector<Chunk> chunks_;
    EdgePair* next_ = nullptr;
    EdgePair* limit_ = nullptr;
};

}  // namespace quelmar::base
