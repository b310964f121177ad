"""The per-partition joins as they were in plain numpy and pandas, before
they became native calls: stages.py times them beside the native ones and
checks that both agree."""

from __future__ import annotations

import numpy as np
import numpy.typing as npt
import pandas as pd

from quelmar_tools.dask._stages import LoSide, NodeSide, PARTIAL_COLUMNS, PARTIAL_META, frame

U64 = npt.NDArray[np.uint64]
NONE = np.uint64(np.iinfo(np.uint64).max)
DEGREE = np.uint8(1)
CLUSTER = np.uint8(2)


def _fingerprint(a: U64, b: U64) -> U64:
    """A 64-bit fingerprint of a pair of scrambled values."""
    with np.errstate(over="ignore"):
        return a ^ (b * np.uint64(0x9E3779B97F4A7C15))


def _distinct_pairs(a: U64, b: U64) -> tuple[U64, U64]:
    """The distinct pairs, sorted by a. Duplicates are found by sorting one
    64-bit fingerprint per pair (one key sorts several times faster than
    two); a collision of distinct pairs falls back to sorting both keys."""
    order = np.argsort(_fingerprint(a, b))
    a, b = a[order], b[order]
    f = _fingerprint(a, b)
    same = f[1:] == f[:-1]
    if (same & ((a[1:] != a[:-1]) | (b[1:] != b[:-1]))).any():
        order = np.lexsort((b, a))
        a, b = a[order], b[order]
        same = (a[1:] == a[:-1]) & (b[1:] == b[:-1])
    keep = np.r_[True, ~same] if a.size else np.zeros(0, bool)
    a, b = a[keep], b[keep]
    order = np.argsort(a)
    return a[order], b[order]


def _selected(clusters: U64, selected: U64 | None) -> npt.NDArray[np.bool_]:
    if selected is None:
        return np.ones(clusters.size, bool)
    return pd.Index(selected).get_indexer(pd.Index(clusters)) >= 0


def _runs(sorted_keys: U64) -> tuple[U64, npt.NDArray[np.intp]]:
    """Distinct keys of a sorted array and the start of each run."""
    if sorted_keys.size == 0:
        return sorted_keys, np.zeros(0, np.intp)
    starts = np.flatnonzero(np.r_[True, sorted_keys[1:] != sorted_keys[:-1]])
    return sorted_keys[starts], starts


def lo_side(edges: pd.DataFrame, members: pd.DataFrame, selected: U64 | None) -> LoSide:
    """Distinct edges of the partition's lo nodes, their lo-side degrees, and
    one hi-side row per (edge, selected cluster of lo), or one bare row for an
    edge whose lo is in no selected cluster."""
    lo, hi = _distinct_pairs(edges["lo"].to_numpy(np.uint64), edges["hi"].to_numpy(np.uint64))
    loop = lo == hi
    nodes, starts = _runs(lo)
    degree = np.diff(np.r_[starts, lo.size]).astype(np.uint64)
    has_loop = np.isin(nodes, lo[loop], assume_unique=True).astype(np.uint64)
    node_frame = frame({"node": nodes, "deg": degree, "loop": has_loop})

    lo, hi = lo[~loop], hi[~loop]
    m_node = members["node"].to_numpy(np.uint64)
    m_cluster = members["cluster"].to_numpy(np.uint64)
    keep = _selected(m_cluster, selected)
    m_node, m_cluster = _distinct_pairs(m_node[keep], m_cluster[keep])
    first = np.searchsorted(m_node, lo, "left")
    count = np.searchsorted(m_node, lo, "right") - first
    rows = np.maximum(count, 1)
    edge = np.repeat(np.arange(lo.size), rows)
    row_start = np.cumsum(rows) - rows
    within = np.arange(edge.size) - np.repeat(row_start, rows)
    has_cluster = count[edge] > 0
    cluster = np.zeros(edge.size, np.uint64)
    cluster[has_cluster] = m_cluster[(first[edge] + within)[has_cluster]]
    tag = np.where(has_cluster, CLUSTER, np.uint8(0)).astype(np.uint8)
    tag[within == 0] |= DEGREE
    hi_rows = frame({"hi": hi[edge], "lo": lo[edge], "cluster": cluster, "tag": tag})
    return LoSide(node_frame, hi_rows)


def degrees(lo_nodes: pd.DataFrame, hi_rows: pd.DataFrame) -> pd.DataFrame:
    """Every node of the partition with its degree and self-loop flag, sorted
    by node."""
    counted = hi_rows["tag"].to_numpy() & DEGREE != 0
    hi, starts = _runs(np.sort(hi_rows["hi"].to_numpy(np.uint64)[counted]))
    hi_degree = np.diff(np.r_[starts, counted.sum()]).astype(np.uint64)
    node = np.concatenate([lo_nodes["node"].to_numpy(np.uint64), hi])
    degree = np.concatenate([lo_nodes["deg"].to_numpy(np.uint64), hi_degree])
    loop = np.concatenate([lo_nodes["loop"].to_numpy(np.uint64), np.zeros(hi.size, np.uint64)])
    order = np.argsort(node, kind="stable")
    node, degree, loop = node[order], degree[order], loop[order]
    unique, starts = _runs(node)
    return frame(
        {
            "node": unique,
            "deg": np.add.reduceat(degree, starts) if node.size else degree,
            "loop": np.maximum.reduceat(loop, starts) if node.size else loop,
        }
    )


def _internal(
    hi_rows: pd.DataFrame, m_node: U64, m_cluster: U64
) -> tuple[U64, U64, U64]:
    """The hi-side rows whose hi is a member of the row's cluster: (lo, hi,
    cluster) of the internal non-loop edges. The membership test joins on a
    64-bit fingerprint of (node, cluster), checked against the pair itself."""
    carries = hi_rows["tag"].to_numpy() & CLUSTER != 0
    hi = hi_rows["hi"].to_numpy(np.uint64)[carries]
    lo = hi_rows["lo"].to_numpy(np.uint64)[carries]
    cluster = hi_rows["cluster"].to_numpy(np.uint64)[carries]
    index = pd.Index(_fingerprint(m_node, m_cluster))
    if index.is_unique:
        at = index.get_indexer(pd.Index(_fingerprint(hi, cluster)))
        found = at >= 0
        found[found] = (m_node[at[found]] == hi[found]) & (m_cluster[at[found]] == cluster[found])
    else:  # a fingerprint collision: join on the pair itself
        pairs = pd.MultiIndex.from_arrays([m_node, m_cluster])
        found = pairs.get_indexer(pd.MultiIndex.from_arrays([hi, cluster])) >= 0
    return lo[found], hi[found], cluster[found]


def node_side(
    members: pd.DataFrame,
    graph_nodes: pd.DataFrame,
    hi_rows: pd.DataFrame | None,
    selected: U64 | None,
) -> NodeSide:
    """Joins the partition's membership lines with its nodes: per-cluster
    partial counts (members, volume, smallest degree, smallest member,
    self-loop members, internal edges), one raw row per line naming an
    unknown node (all clusters, selected or not), and per node the number
    of selected clusters it is in."""
    node = members["node"].to_numpy(np.uint64)
    cluster = members["cluster"].to_numpy(np.uint64)
    g_index = pd.Index(graph_nodes["node"].to_numpy(np.uint64))
    known = g_index.get_indexer(node) >= 0

    unknown = ~known
    unknown_rows = _partial_rows(
        cluster[unknown], unknown=np.ones(int(unknown.sum()), np.uint64),
        pos=members["pos"].to_numpy(np.uint64)[unknown],
    )

    keep = known & _selected(cluster, selected)
    m_cluster, m_node = _distinct_pairs(cluster[keep], node[keep])  # by cluster
    g_at = g_index.get_indexer(m_node)
    degree = graph_nodes["deg"].to_numpy(np.uint64)[g_at]
    loop = graph_nodes["loop"].to_numpy(np.uint64)[g_at]
    clusters, starts = _runs(m_cluster)
    if starts.size:
        member_rows = _partial_rows(
            clusters,
            n=np.diff(np.r_[starts, m_cluster.size]).astype(np.uint64),
            vol=np.add.reduceat(degree, starts),
            mcd=np.minimum.reduceat(degree, starts),
            minnode=np.minimum.reduceat(m_node, starts),
            loops=np.add.reduceat(loop, starts),
        )
    else:
        member_rows = PARTIAL_META

    links = 0
    internal_rows = PARTIAL_META
    if hi_rows is not None:
        lo, hi, in_cluster = _internal(hi_rows, m_node, m_cluster)
        links = int(_distinct_pairs(lo, hi)[0].size)
        clusters, starts = _runs(np.sort(in_cluster))
        internal_rows = _partial_rows(
            clusters, internal=np.diff(np.r_[starts, in_cluster.size]).astype(np.uint64)
        )

    partials = pd.concat([member_rows, internal_rows, unknown_rows], ignore_index=True)

    by_node = frame({"node": m_node, "loop": loop})
    coverage = by_node.groupby("node", sort=False).agg(
        clusters=("loop", "size"), loop=("loop", "max")
    )
    coverage = coverage.reset_index().astype(np.uint64)
    return NodeSide(partials, coverage, links)


def _partial_rows(cluster: U64, **columns: U64) -> pd.DataFrame:
    """Partial rows with every column (absent counts 0, absent minima NONE),
    built column by column: a concat with missing columns would pass the
    64-bit values through float64."""
    out = {"cluster": cluster}
    for name in PARTIAL_COLUMNS:
        filler = NONE if name in ("mcd", "minnode", "pos") else np.uint64(0)
        out[name] = columns[name] if name in columns else np.full(cluster.size, filler, np.uint64)
    return frame(out)
