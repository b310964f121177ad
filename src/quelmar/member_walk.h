#pragma once
// The walk over a cluster's members and their neighbour lists, shared by
// packing (which counts entries) and the covered-slot count (which emits
// slots). Members are scattered over the node array, so the walk waits on
// memory: it fetches the offsets, then the neighbour lists, of members a
// little ahead. Each neighbour is tested for membership through the worker's
// dense marks when they pay off (node_marks.h), else through the cluster's own
// bitmap; the answers are the same either way, only speed and memory differ.

#include <cstddef>
#include <cstdint>
#include <span>

#include <roaring/roaring.hh>

#include "src/base/graph.h"
#include "src/quelmar/node_marks.h"

namespace quelmar {

// Calls visit(u, neighbours, is_member) for every member u, in the order of
// `members`, where neighbours is u's neighbour list and is_member(v) tells
// whether node v is a member. `members` are the ids of `bitmap`, ascending;
// `marks` (null: use the bitmap) must be made for the graph's node count and
// is left clear.
template <class Visit>
void walk_members(const base::Graph& graph, std::span<const utils::NodeId> members,
                  const Roaring& bitmap, NodeMarks* marks, Visit&& visit) {
    constexpr std::size_t kLookAhead = 8;
    const std::uint64_t* offsets = graph.offsets().data();
    const utils::NodeId* lists = graph.all_neighbours().data();
    auto walk = [&](auto is_member) {
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (i + 2 * kLookAhead < members.size()) {
                __builtin_prefetch(offsets + members[i + 2 * kLookAhead]);
            }
            if (i + kLookAhead < members.size()) {
                __builtin_prefetch(lists + offsets[members[i + kLookAhead]]);
            }
            const utils::NodeId u = members[i];
            visit(u, graph.neighbours(u), is_member);
        }
    };
    if (marks && NodeMarks::marks_pay_off(graph.node_count(), members.size())) {
        marks->mark(members);
        walk([marks](utils::NodeId v) { return marks->marked(v); });
        marks->unmark(members);
    } else {
        walk([&bitmap](utils::NodeId v) { return bitmap.contains(v); });
    }
}

}  // namespace quelmar
