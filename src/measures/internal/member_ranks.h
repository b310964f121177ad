#pragma once
// Per-worker scratch that numbers the members of the cluster at hand: the
// entry of a member node holds its rank + 1 (its local id in the induced
// subgraph, internal/local_graph.h), every other entry 0. One lookup per
// neighbour then answers both "member?" and "which one?", where searching the
// sorted member list costs a binary search per inside entry.
//
// The array is node_count entries of 4 bytes, taken from the system on first
// use (untouched pages cost nothing), so it is used only on graphs of up to
// 2^25 nodes (128 MiB per worker at most); larger graphs search instead.

#include <cstdint>
#include <span>

#include "src/utils/node_id.h"
#include "src/utils/page_memory.h"

namespace quelmar::measures::internal {

class MemberRanks {
public:
    static bool pays_off(std::uint64_t node_count) noexcept {
        return node_count <= (std::uint64_t{1} << 25);
    }

    explicit MemberRanks(std::uint64_t node_count) : node_count_(node_count) {}

    // Numbers `members` (ascending ids below node_count) 1, 2, ...
    void assign(std::span<const utils::NodeId> members) {
        if (!ranks_.data()) ranks_ = utils::PageArray<std::uint32_t>(node_count_ ? node_count_ : 1);
        std::uint32_t* ranks = ranks_.data();
        for (std::size_t i = 0; i < members.size(); ++i) {
            ranks[members[i]] = static_cast<std::uint32_t>(i + 1);
        }
    }
    // Clears exactly what assign(members) set.
    void clear(std::span<const utils::NodeId> members) noexcept {
        std::uint32_t* ranks = ranks_.data();
        for (utils::NodeId v : members) ranks[v] = 0;
    }
    // Rank + 1 of member v; 0 when v is no member.
    std::uint32_t rank_plus_one(utils::NodeId v) const noexcept { return ranks_[v]; }

private:
    std::uint64_t node_count_;
    utils::PageArray<std::uint32_t> ranks_;
};

}  // namespace quelmar::measures::internal
