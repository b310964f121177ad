#pragma once
// The joins of one node partition of the companion's Dask path, over plain
// arrays. Every value is an opaque 64-bit key (a scrambled node name or
// cluster id) that is only compared, so any total order works; outputs are
// sorted by key where said, and their row order is otherwise unspecified
// (the next step only sums, counts and takes minima).
//
// An edge is (lo, hi) with lo <= hi; lo == hi is a self-loop. Repeated
// edges and repeated memberships count once. A node's degree counts each of
// its distinct edges once, a self-loop included.
//
// The steps, as the partitions meet them:
// - lo_side: the edges keyed by lo with the memberships keyed by node. Per
//   lo node its lo-side degree and self-loop flag, and the hi-side rows: for
//   every distinct non-loop edge one row per distinct selected cluster of lo
//   (tag kCluster), the first row of each edge also tagged kDegree; an edge
//   whose lo is in no selected cluster gets one row (kDegree, cluster 0).
// - degrees: the lo-side nodes with the hi-side rows keyed by hi: every node
//   of the partition with its degree and self-loop flag.
// - node_side: the memberships with the partition's nodes (and, for the
//   clustering that made the hi-side rows, those rows): partial counts per
//   cluster, coverage per node, and the covered links.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quelmar::partition {

using Keys = std::span<const std::uint64_t>;
using Column = std::vector<std::uint64_t>;

inline constexpr std::uint8_t kDegree = 1;          // counts once towards the degree of hi
inline constexpr std::uint8_t kCluster = 2;         // carries a selected cluster of lo
inline constexpr std::uint64_t kNone = UINT64_MAX;  // "no value" in minimum columns

// Selected cluster ids, sorted and unique; nullopt selects every cluster.
using Selection = std::optional<Keys>;

// One row per node, ascending by node; loop is 0 or 1.
struct NodeColumns {
    Column node, deg, loop;
};

struct NodeKeys {  // a NodeColumns as input, same contract
    Keys node, deg, loop;
};

struct HiRows {
    Column hi, lo, cluster;
    std::vector<std::uint8_t> tag;
};

struct HiRowKeys {  // HiRows as input; all four the same length
    Keys hi, lo, cluster;
    std::span<const std::uint8_t> tag;
};

struct LoSide {
    NodeColumns nodes;
    HiRows hi_rows;
};

// lo.size() == hi.size(), m_node.size() == m_cluster.size().
LoSide lo_side(Keys lo, Keys hi, Keys m_node, Keys m_cluster, Selection selected);

NodeColumns degrees(NodeKeys lo_nodes, Keys hi, std::span<const std::uint8_t> tag);

// Partial counts of a cluster from one partition, columns in this order.
// Member rows: one per cluster with selected known members here (n members,
// vol and mcd the sum and least of their degrees, minnode the least member,
// loops the members with a self-loop, internal the internal non-loop edges
// whose hi is here; unknown 0, pos kNone). Unknown rows: one per membership
// line naming a node not in the partition, selected cluster or not (unknown
// 1, pos the line's position; counts 0, minima kNone).
enum PartialColumn { kClusterId, kN, kVol, kMcd, kMinNode, kLoops, kInternal, kUnknown, kPos };
inline constexpr int kPartialColumns = 9;

struct NodeSide {
    std::vector<Column> partials;  // kPartialColumns columns
    // Per node in a selected cluster: the number of such clusters and its
    // self-loop flag, ascending by node.
    Column node, clusters, loop;
    std::uint64_t covered_links = 0;  // distinct internal non-loop edges with hi here
};

struct MemberKeys {  // parallel columns of membership lines
    Keys node, cluster, pos;
};

// graph: the partition's nodes (degrees' output). hi_rows: the rows keyed by
// hi for this clustering, or nullopt (no internal edges counted, links 0).
NodeSide node_side(NodeKeys graph, MemberKeys members, Selection selected,
                   std::optional<HiRowKeys> hi_rows);

}  // namespace quelmar::partition
