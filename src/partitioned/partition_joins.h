#pragma once
// The joins of one partition of the companion's Dask path, over plain
// arrays. Every value is an opaque 64-bit key (a scrambled node name or
// cluster id) that is only compared, so any total order works; outputs are
// sorted by key where said, and their row order is otherwise unspecified
// (the next step only sums, counts and takes minima).
//
// The path moves rows between tasks itself: a step's rows bound for other
// tasks come out grouped by destination (`Routing`: partition_of their key,
// each group in the order the rows were made), and the receiving task reads
// the groups it is sent as pieces (`Pieces`), in order, as if concatenated,
// without joining them first. Partition i of every node-keyed step
// therefore holds the same nodes.
//
// An edge is (lo, hi) with lo <= hi; lo == hi is a self-loop. Repeated
// edges and repeated memberships count once. A node's degree counts each of
// its distinct edges once, a self-loop included.
//
// The steps, as the partitions meet them:
// - lo_side: the edges keyed by lo with the memberships keyed by node. Per
//   lo node its lo-side degree and self-loop flag, and the hi-side rows,
//   routed by hi: for every distinct non-loop edge one row per distinct
//   selected cluster of lo (tag kCluster), or one bare row when lo is in
//   none; the first row of each edge is tagged kDegree, and an edge's rows
//   stay together, so a receiver tells edges apart without lo.
// - degrees: the lo-side nodes with the hi-side rows keyed by hi: every node
//   of the partition with its degree and self-loop flag.
// - node_side: the memberships with the partition's nodes (and, for the
//   clustering that made the hi-side rows, those rows): partial counts per
//   cluster and the lines naming unknown nodes, both routed by cluster;
//   coverage per node; the covered links.
// - cluster_side: a cluster partition's partial counts and unknown lines
//   added up: the counts of every cluster of two or more members, the
//   members of one-member clusters (routed by node), and the lines that make
//   a cluster unresolved.

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace quelmar::partitioned {

using Keys = std::span<const std::uint64_t>;
using Column = std::vector<std::uint64_t>;

// A column received in pieces, one per sender, read in order as if they
// were concatenated. Parallel columns (lo and hi, say) have pieces of equal
// lengths. A whole column converts to one piece.
template <class T>
struct Pieces {
    std::vector<std::span<const T>> spans;

    Pieces() = default;
    Pieces(std::span<const T> whole) : spans{whole} {}                          // NOLINT: implicit
    Pieces(const std::vector<T>& whole) : spans{std::span<const T>(whole)} {}   // NOLINT
    Pieces(std::vector<std::span<const T>> parts) : spans(std::move(parts)) {}  // NOLINT

    std::size_t size() const noexcept {
        std::size_t n = 0;
        for (const auto& s : spans) n += s.size();
        return n;
    }
};
using KeyPieces = Pieces<std::uint64_t>;
using TagPieces = Pieces<std::uint8_t>;

inline constexpr std::uint8_t kDegree = 1;          // counts once towards the degree of hi
inline constexpr std::uint8_t kCluster = 2;         // carries a selected cluster of lo
inline constexpr std::uint64_t kNone = UINT64_MAX;  // "no value" in minimum columns

// The partition, of `parts`, that a key belongs to: the high word of
// mixed * parts, mixed the key times an odd constant (mod 2^64). Keys are
// scrambled, so any of their bits are evenly spread; the multiplication
// makes the partition unrelated to the keys' order, so that the lesser end
// of an edge (lo, by which edges are routed) is no likelier in one
// partition than in another. (By the key's own high bits, the first
// partition got twice the average of edges and the last almost none.)
inline std::uint64_t partition_of(std::uint64_t key, std::uint64_t parts) {
    const std::uint64_t mixed = key * 0x9E3779B97F4A7C15ULL;
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(mixed) * parts) >> 64);
}

// Rows grouped by destination: those bound for partition p are the rows
// [offsets[p], offsets[p + 1]) of every column. offsets has parts + 1 items.
struct Routing {
    Column offsets;
    std::vector<std::size_t> order;  // the source row of each routed row
};

// Orders rows by partition_of(key[i], parts), keeping their order within a
// partition. parts >= 1.
Routing route(Keys key, std::uint64_t parts);

// Selected cluster ids, sorted and unique; nullopt selects every cluster.
using Selection = std::optional<Keys>;

// One row per node, ascending by node; loop is 0 or 1.
struct NodeColumns {
    Column node, deg, loop;
};

struct NodeKeys {  // a NodeColumns as input, same contract
    Keys node, deg, loop;
};

struct HiRows {          // routed by hi
    Column hi, cluster;  // cluster: 0 in bare rows
    std::vector<std::uint8_t> tag;
    Column offsets;
    Column lo;  // filled only when asked for: rows that may be reordered in transit
};

struct HiRowKeys {  // the rows one partition was sent, all the same length
    KeyPieces hi, cluster;
    TagPieces tag;
    KeyPieces lo;  // empty: each edge's rows arrive together, its kDegree row first
};

struct LoSide {
    NodeColumns nodes;
    HiRows hi_rows;
};

// lo.size() == hi.size(), m_node.size() == m_cluster.size(); parts >= 1.
// with_lo: the hi-side rows carry lo, for a transport that reorders rows.
LoSide lo_side(const KeyPieces& lo, const KeyPieces& hi, const KeyPieces& m_node,
               const KeyPieces& m_cluster, Selection selected, std::uint64_t parts,
               bool with_lo = false);

NodeColumns degrees(NodeKeys lo_nodes, const KeyPieces& hi, const TagPieces& tag);

// Partial counts of a cluster from one partition, columns in this order:
// one row per cluster with selected known members here (n members, vol and
// mcd the sum and least of their degrees, minnode the least member, loops
// the members with a self-loop, internal the internal non-loop edges whose
// hi is here).
enum PartialColumn { kClusterId, kN, kVol, kMcd, kMinNode, kLoops, kInternal };
inline constexpr int kPartialColumns = 7;

struct NodeSide {
    std::vector<Column> partials;  // kPartialColumns columns, routed by cluster
    Column partial_offsets;
    // One row per membership line naming a node not in the partition,
    // selected cluster or not: its cluster and position, routed by cluster.
    Column unknown_cluster, unknown_pos, unknown_offsets;
    // Per node in a selected cluster: the number of such clusters and its
    // self-loop flag, ascending by node.
    Column node, clusters, loop;
    std::uint64_t covered_links = 0;  // distinct internal non-loop edges with hi here
};

struct MemberKeys {  // parallel columns of membership lines
    KeyPieces node, cluster, pos;
};

// graph: the partition's nodes (degrees' output). hi_rows: the rows keyed by
// hi for this clustering, or nullopt (no internal edges counted, links 0).
NodeSide node_side(NodeKeys graph, const MemberKeys& members, Selection selected,
                   const std::optional<HiRowKeys>& hi_rows, std::uint64_t parts);

struct PartialKeys {  // the partial rows and unknown lines one partition was sent
    std::span<const KeyPieces> partials;  // kPartialColumns columns
    KeyPieces unknown_cluster, unknown_pos;
};

struct ClusterSide {
    // Clusters of two or more members, ascending by cluster: inside counts
    // the ends of internal edges (2 per edge, 1 per self-loop), c = vol -
    // inside.
    Column cluster, n, inside, c, mcd, vol;
    Column singles, single_offsets;  // the member of each one-member cluster, routed by node
    // Per cluster with two or more unknown lines: its second line's position.
    Column unresolved_cluster, unresolved_pos;
};

ClusterSide cluster_side(const PartialKeys& partials, std::uint64_t parts);

}  // namespace quelmar::partitioned
