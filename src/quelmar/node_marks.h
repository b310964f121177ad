#pragma once
// The dense bitset over node ids, and its main use: per-worker scratch for
// "is this node a member of the cluster at hand?". Other passes mark a node
// set once and test it (the universe of an agreement, the covered nodes).
//
// Walking a cluster's adjacency tests every neighbour for membership. A dense
// bitset over all node ids (mark the members, test the neighbours, unmark the
// members) answers that several times faster than a Roaring lookup, but costs
// node_count / 8 bytes per worker: 512 MiB at 2^32 nodes. So:
//   * the bitset is taken from the system (utils::PageArray: untouched pages
//     cost no memory) on the first mark, once per worker and pass;
//   * marks_pay_off() sends a cluster to the bitset when the graph is modest
//     (up to 2^28 nodes, 32 MiB per worker) or the cluster is large enough to
//     amortise touching it (at least node_count / 2^16 members); a small
//     cluster of a huge graph uses its own (cache-resident) Roaring bitmap.
// Either way the answers are identical; only speed and memory differ. Even at
// the extreme the bitset is 1/64 of the graph's own offset array per worker.

#include <cstdint>
#include <span>

#include <roaring/roaring.hh>

#include "src/base/graph.h"
#include "src/utils/page_memory.h"

namespace quelmar {

class NodeMarks {
public:
    explicit NodeMarks(std::uint64_t node_count) : words_((node_count + 63) / 64) {}

    // Whether the dense marks beat a Roaring lookup for a cluster of
    // `member_count` members in a graph of `node_count` nodes.
    static bool marks_pay_off(std::uint64_t node_count, std::uint64_t member_count) noexcept {
        constexpr std::uint64_t kAlwaysDenseNodes = std::uint64_t{1} << 28;
        return node_count <= kAlwaysDenseNodes || member_count >= (node_count >> 16);
    }

    // Marks every id (each below node_count). Throws std::bad_alloc when the
    // bitset cannot be had, as any allocation does.
    void mark(std::span<const utils::NodeId> ids);
    void mark(const Roaring& ids);
    // Marks every id and returns how many were not marked before.
    std::uint64_t mark_counting_new(std::span<const utils::NodeId> ids);
    // Clears exactly the marks set by mark(ids), leaving the bitset all zero.
    void unmark(std::span<const utils::NodeId> ids) noexcept;

    bool marked(utils::NodeId v) const noexcept { return (bits_[v >> 6] >> (v & 63)) & 1; }

private:
    std::uint64_t* words();

    std::uint64_t words_;
    utils::PageArray<std::uint64_t> bits_;
};

}  // namespace quelmar
