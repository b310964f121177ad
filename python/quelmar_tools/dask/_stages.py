"""What each task does to its partition: the native joins (_native.lo_side,
degrees, node_side, cluster_side) and the routing of rows between tasks.

Nothing here loads pandas (frames are _frames' business): a worker that
runs only these steps stays about 100 MiB smaller.

Names and ids are scrambled (see _names); every function here only compares
them, so the scrambling never shows. Rows move between tasks as pieces: a
step that sends rows on returns one piece per partition (a tuple of column
arrays, the rows bound there, see partition_joins.h), and the step that
receives them concatenates the pieces it is given in order. Partitions come
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

U64 = npt.NDArray[np.uint64]
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


def _pieces(columns: Sequence[npt.NDArray[Any]], offsets: U64) -> list[Piece]:
    """Routed columns cut into one piece per partition (views)."""
    bounds = offsets.tolist()
    return [tuple(c[bounds[p]:bounds[p + 1]] for c in columns) for p in range(len(bounds) - 1)]


def piece(pieces: Sequence[Piece], partition: int) -> Piece:
    """A copy of the piece for one partition. The copy is what lets Dask
    count a worker's memory right: a piece sharing its arrays with the
    sender's list would be counted twice, and spilling either would free
    nothing, so a worker short of memory would spill without end."""
    return tuple(np.array(c, copy=True) for c in pieces[partition])


def joined(pieces: Sequence[Piece]) -> Piece:
    """The pieces one partition was sent, as one array per column."""
    if len(pieces) == 1:
        return pieces[0]
    return tuple(np.concatenate(columns) for columns in zip(*pieces, strict=True))


def routed(rows: Piece, key: int, parts: int) -> list[Piece]:
    """A parsed block's rows (all columns, uint64) routed by column key."""
    offsets, order = _native.route(_keys(rows[key]), parts)
    take = np.frombuffer(order, np.int64)
    columns = [np.take(_keys(c), take) for c in rows]
    return _pieces(columns, _u64(offsets))


class LoSide(NamedTuple):
    """What one lo-keyed partition of edges yields."""

    nodes: Piece  # node, deg (lo-side), loop (0/1): one row per node, ascending
    hi_rows: list[Piece]  # per partition (hi, cluster, tag), see partition_joins.h
    members: Piece | None  # the membership lines the partition was sent, for node_side


def lo_side(edges: Sequence[Piece], members: Sequence[Piece] | None, selected: U64 | None,
            parts: int, with_lo: bool = False) -> LoSide:
    """Distinct edges of the partition's lo nodes, their lo-side degrees, and
    one hi-side row per (edge, selected cluster of lo), or one bare row for an
    edge whose lo is in no selected cluster; with_lo, the rows carry lo as a
    fourth column (for a transport that may reorder them)."""
    lo, hi = joined(edges)
    lines = joined(members) if members is not None else None
    m_node, m_cluster = lines[:2] if lines is not None else (np.array([], np.uint64),) * 2
    node, deg, loop, row_hi, cluster, tag, offsets, row_lo = _native.lo_side(
        _keys(lo), _keys(hi), _keys(m_node), _keys(m_cluster), _selection(selected), parts,
        with_lo)
    rows: Piece = (_u64(row_hi), _u64(cluster), np.frombuffer(tag, np.uint8))
    if with_lo:
        rows += (_u64(row_lo),)
    return LoSide((_u64(node), _u64(deg), _u64(loop)), _pieces(rows, _u64(offsets)), lines)


def checked_lo_side(edges: Sequence[Piece], members: Sequence[Piece] | None,
                    selected: U64 | None, parts: int, with_lo: bool,
                    _inputs_ok: None) -> LoSide:
    """lo_side once the inputs were found good (_inputs_ok is that check's task)."""
    return lo_side(edges, members, selected, parts, with_lo)


class Degrees(NamedTuple):
    nodes: Piece  # node, deg, loop: every node of the partition, ascending
    hi_rows: Piece  # the hi-side rows the partition was sent (hi, cluster, tag)


def degrees(lo_nodes: Piece, hi_rows: Sequence[Piece]) -> Degrees:
    """Every node of the partition with its degree and self-loop flag."""
    rows = joined(hi_rows)
    node, deg, loop = _native.degrees(_keys(lo_nodes[0]), _keys(lo_nodes[1]),
                                      _keys(lo_nodes[2]), _keys(rows[0]),
                                      np.ascontiguousarray(rows[2], dtype=np.uint8))
    return Degrees((_u64(node), _u64(deg), _u64(loop)), rows)


class NodeSide(NamedTuple):
    """What one node-keyed partition yields for one clustering."""

    partials: list[Piece]  # per cluster partition: 7 partial columns, unknown cluster, pos
    coverage: Piece  # node, clusters (selected, known), loop
    covered_links: int  # distinct internal non-loop edges whose hi is here


def node_side(members: Sequence[Piece], graph_nodes: Piece, hi_rows: Piece | None,
              selected: U64 | None, parts: int) -> NodeSide:
    """Joins the partition's membership lines with its nodes: per-cluster
    partial counts (members, volume, smallest degree, smallest member,
    self-loop members, internal edges), the lines naming an unknown node
    (all clusters, selected or not), and per node the number of selected
    clusters it is in."""
    rows = None
    if hi_rows is not None:
        lo = _keys(hi_rows[3]) if len(hi_rows) > 3 else np.array([], np.uint64)
        rows = (_keys(hi_rows[0]), _keys(hi_rows[1]),
                np.ascontiguousarray(hi_rows[2], dtype=np.uint8), lo)
    m_node, m_cluster, m_pos = joined(members)
    partials, offsets, unknown, coverage, links = _native.node_side(
        _keys(graph_nodes[0]), _keys(graph_nodes[1]), _keys(graph_nodes[2]), _keys(m_node),
        _keys(m_cluster), _keys(m_pos), _selection(selected), rows, parts)
    partial_pieces = _pieces([_u64(c) for c in partials], _u64(offsets))
    unknown_pieces = _pieces([_u64(c) for c in unknown[:2]], _u64(unknown[2]))
    pieces = [p + u for p, u in zip(partial_pieces, unknown_pieces, strict=True)]
    return NodeSide(pieces, tuple(_u64(c) for c in coverage), links)


def checked_node_side(members: Sequence[Piece], graph_nodes: Piece, hi_rows: Piece | None,
                      selected: U64 | None, parts: int, _inputs_ok: None) -> NodeSide:
    """node_side once the inputs were found good."""
    return node_side(members, graph_nodes, hi_rows, selected, parts)


class ClusterSide(NamedTuple):
    """What one cluster-keyed partition of partial counts yields."""

    counts: Piece  # COUNT_COLUMNS for clusters of two or more, ascending by cluster
    singles: list[Piece]  # per node partition: (node,), the member of one-member clusters
    unresolved: Piece  # cluster, pos: the second unknown-node line of a cluster


def cluster_side(pieces: Sequence[Piece], parts: int) -> ClusterSide:
    """Adds up the partial counts of each cluster."""
    rows = joined(pieces)
    counts, (singles, offsets), unresolved = _native.cluster_side(
        tuple(_keys(c) for c in rows[:7]), _keys(rows[7]), _keys(rows[8]), parts)
    count_columns = tuple(_u64(c) for c in counts)
    assert len(count_columns) == len(COUNT_COLUMNS)
    return ClusterSide(count_columns, _pieces([_u64(singles)], _u64(offsets)),
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
