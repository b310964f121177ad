"""What each task does to its partition: the native joins (_native.lo_side,
degrees, node_side, cluster_side) and the routing of rows between tasks.

Nothing here loads pandas (frames are _frames' business): a worker that
runs only these steps stays about 100 MiB smaller.

Names and ids are scrambled (see _scramble); every function here only compares
them, so the scrambling never shows. Rows move between tasks as pieces: a
step that sends rows on returns one piece per partition (a tuple of column
arrays, the rows bound there, see partition_joins.h), and the native step
that receives them reads the pieces it is given in order, as if they were
one array per column, without joining them. Partitions come
in two keyings, of the same count, so that partition i of every node-keyed
step holds the same nodes:

* by node: raw edges keyed by their lower end, the hi-side rows keyed by
  their higher end, memberships keyed by node, singleton members;
* by cluster: the per-cluster partial counts and the unknown-node lines.

An edge is held as (lo, hi) with lo <= hi; lo == hi is a self-loop.
"""

from __future__ import annotations

from typing import Any, NamedTuple, Sequence

import numpy as np
import numpy.typing as npt

from quelmar_tools import _native
from quelmar_tools.integers import U64

# The columns of rows bound for one partition.
Piece = tuple[npt.NDArray[Any], ...]
# The columns of cluster_side's counts.
COUNT_COLUMNS = ("cluster", "n", "inside", "c", "mcd", "vol")


def _keys(column: Any) -> U64:
    """A column as the contiguous uint64 array the native joins read."""
    return np.ascontiguousarray(column, dtype=np.uint64)


def _u64(buffer: bytearray) -> U64:
    return np.frombuffer(buffer, np.uint64)


def _selection(selected: U64 | None) -> U64 | None:
    return None if selected is None else _keys(selected)


def _pieces(routed: list[tuple[bytearray, ...]], tag: int = -1) -> list[Piece]:
    """A native step's routed output (per partition, one bytearray per
    column, see pieces.h) as pieces of arrays; column tag holds uint8."""
    return [tuple(np.frombuffer(c, np.uint8 if i == tag else np.uint64) for i, c in enumerate(p))
            for p in routed]


def piece(pieces: Sequence[Piece], partition: int) -> Piece:
    """The piece for one partition. Its arrays are its own, shared with no
    other piece (the steps make them so): once the sender's list is gone, the
    piece is all that holds them, so Dask counts a worker's memory right and
    spilling a piece frees it. (A view into one array for all partitions
    would keep that array alive, and a worker short of memory would spill
    without end.)"""
    return pieces[partition]


def joined(pieces: Sequence[Piece]) -> Piece:
    """The pieces one partition was sent, as one array per column."""
    if len(pieces) == 1:
        return pieces[0]
    return tuple(np.concatenate(columns) for columns in zip(*pieces, strict=True))


def routed(rows: Piece, key: int, parts: int) -> list[Piece]:
    """A parsed block's rows (all columns, uint64) routed by column key."""
    offsets, order = _native.route(_keys(rows[key]), parts)
    take = np.frombuffer(order, np.int64)
    bounds = np.frombuffer(offsets, np.uint64).tolist()
    columns = [_keys(c) for c in rows]
    return [tuple(np.take(c, take[bounds[p]:bounds[p + 1]]) for c in columns)
            for p in range(parts)]


class LoSide(NamedTuple):
    """What one lo-keyed partition of edges yields."""

    nodes: Piece  # node, deg (lo-side), loop (0/1): one row per node, ascending
    hi_rows: list[Piece]  # per partition (hi, cluster, tag), see partition_joins.h
    members: list[Piece] | None  # the membership pieces the partition was sent, for node_side


def lo_side(edges: Sequence[Piece], members: Sequence[Piece] | None, selected: U64 | None,
            parts: int, with_lo: bool = False) -> LoSide:
    """Distinct edges of the partition's lo nodes, their lo-side degrees, and
    one hi-side row per (edge, selected cluster of lo), or one bare row for an
    edge whose lo is in no selected cluster; with_lo, the rows carry lo as a
    fourth column (for a transport that may reorder them)."""
    nodes, rows = _native.lo_side(list(edges), list(members or ()), _selection(selected), parts,
                                  with_lo)
    return LoSide(tuple(_u64(c) for c in nodes), _pieces(rows, tag=2),
                  list(members) if members is not None else None)


def checked_lo_side(edges: Sequence[Piece], members: Sequence[Piece] | None,
                    selected: U64 | None, parts: int, with_lo: bool,
                    _inputs_ok: None) -> LoSide:
    """lo_side once the inputs were found good (_inputs_ok is that check's task)."""
    return lo_side(edges, members, selected, parts, with_lo)


def degrees(lo_nodes: Piece, hi_rows: Sequence[Piece]) -> Piece:
    """Every node of the partition with its degree and self-loop flag
    (node, deg, loop), ascending by node."""
    node, deg, loop = _native.degrees(lo_nodes[0], lo_nodes[1], lo_nodes[2], list(hi_rows))
    return _u64(node), _u64(deg), _u64(loop)


class NodeSide(NamedTuple):
    """What one node-keyed partition yields for one clustering."""

    partials: list[Piece]  # per cluster partition: 7 partial columns, unknown cluster, pos
    coverage: Piece  # node, clusters (selected, known), loop
    covered_links: int  # distinct internal non-loop edges whose hi is here


def node_side(members: Sequence[Piece], graph_nodes: Piece, hi_rows: Sequence[Piece] | None,
              selected: U64 | None, parts: int) -> NodeSide:
    """Joins the partition's membership lines with its nodes: per-cluster
    partial counts (members, volume, smallest degree, smallest member,
    self-loop members, internal edges), the lines naming an unknown node
    (all clusters, selected or not), and per node the number of selected
    clusters it is in."""
    partials, coverage, links = _native.node_side(
        graph_nodes[0], graph_nodes[1], graph_nodes[2], list(members), _selection(selected),
        list(hi_rows) if hi_rows is not None else None, parts)
    return NodeSide(_pieces(partials), tuple(_u64(c) for c in coverage), links)


def checked_node_side(members: Sequence[Piece], graph_nodes: Piece,
                      selected: U64 | None, parts: int, _inputs_ok: None) -> NodeSide:
    """node_side of a clustering other than the graph's own, once the inputs
    were found good."""
    return node_side(members, graph_nodes, None, selected, parts)


class JoinedSide(NamedTuple):
    """node_side of the clustering joined with the graph (the same first
    three fields), and the partition's nodes and degree sum."""

    partials: list[Piece]
    coverage: Piece
    covered_links: int
    totals: tuple[int, int]


def joined_side(lo_nodes: Piece, hi_rows: Sequence[Piece], members: Sequence[Piece],
                selected: U64 | None, parts: int) -> JoinedSide:
    """degrees, then node_side over the same hi-side rows, in one step: the
    rows are read where they arrive, never joined nor passed on."""
    nodes = degrees(lo_nodes, hi_rows)
    side = node_side(members, nodes, hi_rows, selected, parts)
    return JoinedSide(*side, graph_totals(nodes))


class ClusterSide(NamedTuple):
    """What one cluster-keyed partition of partial counts yields."""

    counts: Piece  # COUNT_COLUMNS for clusters of two or more, ascending by cluster
    singles: list[Piece]  # per node partition: (node,), the member of one-member clusters
    unresolved: Piece  # cluster, pos: the second unknown-node line of a cluster


def cluster_side(pieces: Sequence[Piece], parts: int) -> ClusterSide:
    """Adds up the partial counts of each cluster."""
    counts, singles, unresolved = _native.cluster_side(list(pieces), parts)
    count_columns = tuple(_u64(c) for c in counts)
    assert len(count_columns) == len(COUNT_COLUMNS)
    return ClusterSide(count_columns, _pieces(singles),
                       (_u64(unresolved[0]), _u64(unresolved[1])))


def covered(coverage: Piece, singles: Sequence[Piece]) -> tuple[int, int]:
    """Covered nodes and covered self-loops of a node partition: a node is
    covered when it is in more selected clusters than one-member ones."""
    node, clusters, loop = coverage
    single = np.sort(joined(singles)[0]) if singles else np.array([], np.uint64)
    as_single = np.searchsorted(single, node, "right") - np.searchsorted(single, node, "left")
    is_covered = clusters > as_single.astype(np.uint64)
    return int(is_covered.sum()), int((is_covered & (loop > 0)).sum())


def graph_totals(nodes: Piece) -> tuple[int, int]:
    return len(nodes[0]), int(nodes[1].sum(dtype=np.uint64))
