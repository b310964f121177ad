#pragma once
// The walk over a cluster's members and their neighbour lists, shared by
// packing (which counts entries) and the covered-slot count (which emits
// slots). Members are scattered over the node array, so the walk waits on
// memory: it fetches the offsets, then the neighbour lists, of members a
// little ahead. Each neighbour is tested for membership through the worker's
// dense marks when they pay off (node_marks.h), else through the cluster's own
// bitmap or a binary search of its ids; the answers are the same either way,
// only speed and memory differ.
// Most clusters are small (a few members), too small to fetch ahead within
// one, so runs of clusters laid end to end are walked with the fetching
// running on into the next clusters (walk_clusters).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "runtime/prefetch.h"
#include "src/base/graph.h"
#include "src/quelmar/member_bitmap.h"
#include "src/quelmar/node_marks.h"

namespace quelmar {

// How many members ahead a walk fetches a member's list; where the list
// starts is fetched twice as far ahead, so that it has arrived by then. A
// tuning of its own, apart from the loaders' (src/base/lookahead.h): each
// step here waits on two dependent misses.
inline constexpr std::size_t kMemberLookAhead = 8;

// Before visiting upcoming[i]: fetch_start(v) for the member 2 *
// kMemberLookAhead ahead and fetch_list(v) for the one kMemberLookAhead
// ahead, where they exist.
template <class Id, class FetchStart, class FetchList>
inline void fetch_members_ahead(std::span<const Id> upcoming, std::size_t i,
                                FetchStart&& fetch_start, FetchList&& fetch_list) {
    if (i + 2 * kMemberLookAhead < upcoming.size()) fetch_start(upcoming[i + 2 * kMemberLookAhead]);
    if (i + kMemberLookAhead < upcoming.size()) fetch_list(upcoming[i + kMemberLookAhead]);
}

// The same for neighbour lists of `graph`: its offsets, then its lists.
inline void fetch_neighbours_ahead(const base::Graph& graph,
                                   std::span<const utils::NodeId> upcoming, std::size_t i) {
    fetch_members_ahead(
        upcoming, i, [&](utils::NodeId v) { runtime::prefetch(graph.offsets().data() + v); },
        [&](utils::NodeId v) { graph.prefetch_neighbours(v); });
}

namespace detail {

// Visits the first `count` members of `upcoming`, which goes on with the
// members walked next, if any: those are fetched ahead too.
template <class IsMember, class Visit>
void walk_in_order(const base::Graph& graph, std::span<const utils::NodeId> upcoming,
                   std::size_t count, IsMember is_member, Visit& visit) {
    for (std::size_t i = 0; i < count; ++i) {
        fetch_neighbours_ahead(graph, upcoming, i);
        const utils::NodeId u = upcoming[i];
        visit(u, graph.neighbours(u), is_member);
    }
}

// Through the marks when they pay off, else through `fallback`. `members`
// begins `upcoming`.
template <class Fallback, class Visit>
void walk_marked_or(const base::Graph& graph, std::span<const utils::NodeId> members,
                    std::span<const utils::NodeId> upcoming, NodeMarks* marks, Fallback fallback,
                    Visit& visit) {
    if (marks && NodeMarks::marks_pay_off(graph.node_count(), members.size())) {
        marks->mark(members);
        walk_in_order(
            graph, upcoming, members.size(), [marks](utils::NodeId v) { return marks->marked(v); },
            visit);
        marks->unmark(members);
    } else {
        walk_in_order(graph, upcoming, members.size(), fallback, visit);
    }
}

inline auto binary_search_in(std::span<const utils::NodeId> members) {
    return [members](utils::NodeId v) {
        return std::binary_search(members.begin(), members.end(), v);
    };
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
        graph, members, members, marks, [&bitmap](utils::NodeId v) { return bitmap.contains(v); },
        visit);
}

// Walks a run of clusters laid end to end: cluster k's members (ascending,
// distinct) are ids[bounds[k] - bounds[0], bounds[k + 1] - bounds[0]). Calls
// per_cluster(k, members, walk) for each cluster in order, where
// walk(visit) walks cluster k's members as walk_members does, fetching ahead
// into the clusters after it. No bitmap is needed: without the marks, a
// member is found in the cluster's ids by binary search.
template <class PerCluster>
void walk_clusters(const base::Graph& graph, std::span<const utils::NodeId> ids,
                   std::span<const std::uint64_t> bounds, NodeMarks* marks,
                   PerCluster&& per_cluster) {
    const std::uint64_t first = bounds.front();
    for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
        const std::span<const utils::NodeId> upcoming = ids.subspan(bounds[k] - first);
        const std::span<const utils::NodeId> members = upcoming.first(bounds[k + 1] - bounds[k]);
        per_cluster(k, members, [&](auto&& visit) {
            detail::walk_marked_or(graph, members, upcoming, marks,
                                   detail::binary_search_in(members), visit);
        });
    }
}

}  // namespace quelmar
