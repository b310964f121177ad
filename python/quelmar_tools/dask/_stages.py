"""What each task does to its partition: the native joins (_native.lo_side,
degrees, node_side) and plain pandas on one block.

Names and ids are scrambled (see _names); every function here only compares
them, so the scrambling never shows. Partitions come in two keyings, both
made by Dask's hash shuffle with the same partition count, so that partition
i of every frame keyed by node holds the same nodes:

* by node: raw edges keyed by their lower end, the hi-side rows keyed by
  their higher end, memberships keyed by node, singleton members;
* by cluster: the per-cluster partial counts.

An edge is held as (lo, hi) with lo <= hi; lo == hi is a self-loop.
"""

from __future__ import annotations

from typing import Any, NamedTuple

import numpy as np
import numpy.typing as npt
import pandas as pd

from quelmar_tools import _native

U64 = npt.NDArray[np.uint64]


EDGE_META = pd.DataFrame({"lo": np.array([], np.uint64), "hi": np.array([], np.uint64)})
MEMBER_META = pd.DataFrame(
    {k: np.array([], np.uint64) for k in ("node", "cluster", "pos")}
)
# The hi-side rows' tag (partition_joins.h): bit 1, the row counts once
# towards the degree of hi; bit 2, the row carries a cluster of lo, to be
# tested against the clusters of hi.
HI_META = pd.DataFrame(
    {
        "hi": np.array([], np.uint64),
        "lo": np.array([], np.uint64),
        "cluster": np.array([], np.uint64),
        "tag": np.array([], np.uint8),
    }
)
PARTIAL_COLUMNS = ("n", "vol", "mcd", "minnode", "loops", "internal", "unknown", "pos")
PARTIAL_META = pd.DataFrame(
    {"cluster": np.array([], np.uint64)}
    | {k: np.array([], np.uint64) for k in PARTIAL_COLUMNS}
)
SINGLE_META = pd.DataFrame({"node": np.array([], np.uint64)})


def frame(columns: dict[str, npt.NDArray[Any]]) -> pd.DataFrame:
    """A frame over the arrays as they are, one block per column. (By
    default pandas copies same-typed columns into one 2-D block, which costs
    more than most steps here and makes every later row selection, as in
    the shuffles, several times slower.)"""
    return pd.DataFrame(columns, copy=False)


def _keys(column: Any) -> U64:
    """A column as the contiguous uint64 array the native joins read."""
    return np.ascontiguousarray(column, dtype=np.uint64)


def _u64(buffer: bytearray) -> U64:
    return np.frombuffer(buffer, np.uint64)


def _selection(selected: U64 | None) -> U64 | None:
    return None if selected is None else _keys(selected)


class LoSide(NamedTuple):
    """What one lo-keyed partition of edges yields."""

    nodes: pd.DataFrame  # node, deg (lo-side), loop (0/1): one row per node
    hi_rows: pd.DataFrame  # HI_META rows, to be keyed by hi


def lo_side(edges: pd.DataFrame, members: pd.DataFrame, selected: U64 | None) -> LoSide:
    """Distinct edges of the partition's lo nodes, their lo-side degrees, and
    one hi-side row per (edge, selected cluster of lo), or one bare row for an
    edge whose lo is in no selected cluster."""
    node, deg, loop, hi, lo, cluster, tag = _native.lo_side(
        _keys(edges["lo"]), _keys(edges["hi"]), _keys(members["node"]),
        _keys(members["cluster"]), _selection(selected))
    node_frame = frame({"node": _u64(node), "deg": _u64(deg), "loop": _u64(loop)})
    hi_rows = frame({"hi": _u64(hi), "lo": _u64(lo), "cluster": _u64(cluster),
                     "tag": np.frombuffer(tag, np.uint8)})
    return LoSide(node_frame, hi_rows)


def degrees(lo_nodes: pd.DataFrame, hi_rows: pd.DataFrame) -> pd.DataFrame:
    """Every node of the partition with its degree and self-loop flag, sorted
    by node."""
    node, deg, loop = _native.degrees(
        _keys(lo_nodes["node"]), _keys(lo_nodes["deg"]), _keys(lo_nodes["loop"]),
        _keys(hi_rows["hi"]), np.ascontiguousarray(hi_rows["tag"], dtype=np.uint8))
    return frame({"node": _u64(node), "deg": _u64(deg), "loop": _u64(loop)})


class NodeSide(NamedTuple):
    """What one node-keyed partition yields for one clustering."""

    partials: pd.DataFrame  # PARTIAL_META rows, to be keyed by cluster
    coverage: pd.DataFrame  # node, clusters (selected, known), loop
    covered_links: int  # distinct internal non-loop edges whose hi is here


def node_side(
    members: pd.DataFrame,
    graph_nodes: pd.DataFrame,
    hi_rows: pd.DataFrame | None,
    selected: U64 | None,
) -> NodeSide:
    """Joins the partition's membership lines with its nodes (sorted by
    node, as degrees gives them): per-cluster partial counts (members,
    volume, smallest degree, smallest member, self-loop members, internal
    edges), one raw row per line naming an unknown node (all clusters,
    selected or not), and per node the number of selected clusters it is
    in."""
    rows = None
    if hi_rows is not None:
        rows = (_keys(hi_rows["hi"]), _keys(hi_rows["lo"]), _keys(hi_rows["cluster"]),
                np.ascontiguousarray(hi_rows["tag"], dtype=np.uint8))
    partials, (node, clusters, loop), links = _native.node_side(
        _keys(graph_nodes["node"]), _keys(graph_nodes["deg"]), _keys(graph_nodes["loop"]),
        _keys(members["node"]), _keys(members["cluster"]), _keys(members["pos"]),
        _selection(selected), rows)
    partial_frame = frame({name: _u64(column)
                           for name, column in zip(PARTIAL_META.columns, partials, strict=True)})
    coverage = frame({"node": _u64(node), "clusters": _u64(clusters), "loop": _u64(loop)})
    return NodeSide(partial_frame, coverage, links)


class ClusterSide(NamedTuple):
    """What one cluster-keyed partition of partial counts yields."""

    counts: pd.DataFrame  # cluster, n, inside, c, mcd, vol for clusters of two or more
    singles: pd.DataFrame  # SINGLE_META: the member of each one-member cluster
    unresolved: pd.DataFrame  # cluster, pos: the second unknown-node line of a cluster


def cluster_side(partials: pd.DataFrame) -> ClusterSide:
    """Adds up the partial counts of each cluster."""
    totals = partials.groupby("cluster", sort=True).agg(
        n=("n", "sum"),
        vol=("vol", "sum"),
        mcd=("mcd", "min"),
        minnode=("minnode", "min"),
        loops=("loops", "sum"),
        internal=("internal", "sum"),
        unknown=("unknown", "sum"),
    )
    totals = totals.astype(np.uint64)
    kept = totals[totals["n"] >= 2]
    inside = kept["internal"].to_numpy(np.uint64) * np.uint64(2) + kept["loops"].to_numpy(np.uint64)
    counts = frame(
        {
            "cluster": kept.index.to_numpy(np.uint64),
            "n": kept["n"].to_numpy(np.uint64),
            "inside": inside,
            "c": kept["vol"].to_numpy(np.uint64) - inside,
            "mcd": kept["mcd"].to_numpy(np.uint64),
            "vol": kept["vol"].to_numpy(np.uint64),
        }
    )
    singles = frame({"node": totals.loc[totals["n"] == 1, "minnode"].to_numpy(np.uint64)})

    twice = totals.index[totals["unknown"] >= 2]
    lines = partials.loc[partials["unknown"] > 0, ["cluster", "pos"]]
    lines = lines[lines["cluster"].isin(twice)].sort_values(["cluster", "pos"])
    unresolved = pd.DataFrame(lines.groupby("cluster", sort=False).nth(1)).reset_index(drop=True)
    return ClusterSide(counts, singles, unresolved.astype(np.uint64))


def covered(coverage: pd.DataFrame, singles: pd.DataFrame) -> tuple[int, int]:
    """Covered nodes and covered self-loops of a node partition: a node is
    covered when it is in more selected clusters than one-member ones."""
    single_count = singles["node"].value_counts(sort=False)
    node = coverage["node"].to_numpy(np.uint64)
    as_single = single_count.reindex(pd.Index(node), fill_value=0).to_numpy(np.uint64)
    is_covered = coverage["clusters"].to_numpy(np.uint64) > as_single
    loops = coverage["loop"].to_numpy(np.uint64) > 0
    return int(is_covered.sum()), int((is_covered & loops).sum())
