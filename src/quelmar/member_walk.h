#pragma once
// The walk over a cluster's members and their neighbour lists, shared by
// packing (which counts entries) and the covered-slot count (which emits
// slots). Members are scattered over the node array, so the walk waits on
// memory: it fetches the offsets, then the neighbour lists, of members a
// little ahead. Each neighbour is tested for membership through the worker's
// dense marks when they pay off (node_marks.h), else through the cluster's own
// bitmap; the answers are the same either way, only speed and memory differ.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "src/base/graph.h"
#include "src/quelmar/member_bitmap.h"
#include "src/quelmar/node_marks.h"

namespace quelmar {
namespace detail {

template <class IsMember, class Visit>
void walk_in_order(const base::Graph& graph, std::span<const utils::NodeId> members,
                   IsMember is_member, Visit& visit) {
    constexpr std::size_t kLookAhead = 8;
    const std::uint64_t* offsets = graph.offsets().data();
    const utils::NodeId* lists = graph.all_neighbours().data();
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
}

// Through the marks when they pay off, else through `fallback`.
template <class Fallback, class Visit>
void walk_marked_or(const base::Graph& graph, std::span<const utils::NodeId> members,
                    NodeMarks* marks, Fallback fallback, Visit& visit) {
    if (marks && NodeMarks::marks_pay_off(graph.node_count(), members.size())) {
        marks->mark(members);
        walk_in_order(
            graph, members, [marks](utils::NodeId v) { return marks->marked(v); }, visit);
        marks->unmark(members);
    } else {
        walk_in_order(graph, members, fallback, visit);
    }
}

}  // namespace detail

// Calls visit(u, neighbours, is_member) for every member u, in the order of
// `members`, where neighbours is u's neighbour list and is_member(v) tells
// whether node v is a member. `members` are the ids of `bitmap`, ascending;
// `marks` (null: use the bitmap) must be made for the graph's node count and
// is left clear.
template <class Visit>
void walk_members(const base::Graph& graph, std::span<const utils::NodeId> members,
                  const MemberBitmap& bitmap, NodeMarks* marks, Visit&& visit) {
    detail::walk_marked_or(
        graph, members, marks, [&bitmap](utils::NodeId v) { return bitmap.contains(v); }, visit);
}

// The same before the bitmap exists: a member is found in `members`
// (ascending, distinct) by binary search when the marks do not pay off.
template <class Visit>
void walk_members(const base::Graph& graph, std::span<const utils::NodeId> members,
                  NodeMarks* marks, Visit&& visit) {
    detail::walk_marked_or(
        graph, members, marks,
        [members](utils::NodeId v) {
            return std::binary_search(members.begin(), members.end(), v);
        },
        visit);
}

}  // namespace quelmar
