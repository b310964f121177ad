"""Per-cluster tables and totals: the five counts of every cluster, read
natively from the packed clustering, and the values of the statistics
computed from them by the same native code that compute_statistics() runs."""

from __future__ import annotations

import math
from collections.abc import Iterable
from typing import Any, Optional, Union

import numpy as np
import numpy.typing as npt
import pandas as pd

import quelmar
from quelmar_tools import _native
from quelmar_tools.integers import U64, to_uint64

__all__ = [
    "COUNT_COLUMNS", "CPM_COLUMN", "Ids", "MEASURES", "Measures", "STATS_COUNTS", "VALUE_COLUMNS",
    "cluster_counts", "cluster_table", "cluster_values", "measure_columns", "measure_list",
    "table_columns", "totals"
]

COUNT_COLUMNS = ("n", "m", "c", "mcd", "vol")
#: The value columns, as the native statistics table places them (its ``mcd``
#: is the count column of that name).
VALUE_COLUMNS: tuple[str, ...] = _native.value_columns(False)
CPM_COLUMN = "cpm"
#: The counts that ClusteringStats reports, under their own names.
STATS_COUNTS = ("num_clusters", "covered_nodes", "covered_edges", "total_nodes", "total_edges")

FloatArray = npt.NDArray[np.float64]
Ids = Union[Iterable[int], npt.NDArray[Any]]
Measures = Union[str, Iterable[str]]

#: The per-cluster quality measures cluster_table can add, in the order
#: "all" adds them.
MEASURES: tuple[str, ...] = tuple(_native.measure_names())


def table_columns(with_cpm: bool) -> list[str]:
    """The columns of a cluster table, in order (the index ``id`` aside)."""
    return [*COUNT_COLUMNS, *VALUE_COLUMNS, *([CPM_COLUMN] if with_cpm else [])]


def cluster_values(n: Any, m: Any, c: Any, mcd: Any, vol: Any, *, total_edges: int,
                   cpm: Optional[float] = None) -> dict[str, FloatArray]:
    """The value columns of a cluster table (VALUE_COLUMNS, and ``cpm`` when
    a resolution is given) for clusters with these counts, in a graph of
    `total_edges` edges. Each count is a 1-d array-like of equal length."""
    columns = [np.ascontiguousarray(to_uint64(values, "count"))
               for values in (n, m, c, mcd, vol)]
    if any(column.ndim != 1 or len(column) != len(columns[0]) for column in columns):
        raise ValueError("the counts must be 1-d arrays of one length")
    n_, m_, c_, mcd_, vol_ = columns
    computed = _native.cluster_values(n_, m_, c_, mcd_, vol_, total_edges, cpm)
    return {name: np.frombuffer(computed[name], dtype=np.float64)
            for name in _native.value_columns(cpm is not None)}


def cluster_table(clustering: quelmar.Clustering, *, ids: Optional[Ids] = None,
                  cpm: Optional[float] = None,
                  measures: Optional[Measures] = None) -> pd.DataFrame:
    """One row per cluster of `clustering` (or per cluster named by `ids`),
    indexed by cluster id; see the package documentation for the columns.
    Pass the clustering's own `cpm` resolution to get the ``cpm`` column: the
    module does not tell what it was built with. `measures` adds columns of
    quality measures after those (names of MEASURES, in the order given, or
    "all"); some cost a walk over each cluster, the minimum cut more."""
    keys, counts = cluster_counts(clustering, ids)
    values = cluster_values(*counts, total_edges=_total_edges(clustering), cpm=cpm)
    columns: dict[str, Any] = dict(zip(COUNT_COLUMNS, counts))
    columns.update(values)
    columns.update(measure_columns(clustering, ids=ids, measures=measures))
    return pd.DataFrame(columns, index=pd.Index(keys, name="id", dtype=np.uint64), copy=False)


def measure_columns(clustering: quelmar.Clustering, *, ids: Optional[Ids] = None,
                    measures: Optional[Measures] = None) -> dict[str, FloatArray]:
    """The columns of the quality measures `measures` (see cluster_table) of
    the clusters cluster_counts lists, in the order asked."""
    names = measure_list(measures)
    if not names:
        return {}
    wanted = None if ids is None else _wanted_ids(ids)
    computed = _native.cluster_measures(clustering, wanted, names)
    return {name: np.frombuffer(column, dtype=np.float64)
            for name, column in zip(names, computed)}


def measure_list(measures: Optional[Measures]) -> list[str]:
    """The measure names asked for: none for None, every one for "all", else
    the names given (one name alone, or a sequence), each once, in order."""
    if measures is None:
        return []
    if isinstance(measures, str):
        return list(MEASURES) if measures == "all" else [measures]
    names = list(measures)
    for name in names:
        if not isinstance(name, str):
            raise TypeError(f"measure names are str, got {type(name).__name__} {name!r}")
    return list(dict.fromkeys(names))


def totals(clustering: quelmar.Clustering, *, ids: Optional[Ids] = None) -> dict[str, Any]:
    """Clustering-wide figures of all clusters, or of those named by `ids`:
    ``modularity`` (the sum of the per-cluster modularity contributions),
    ``node_coverage`` and ``edge_coverage`` (covered over total, 0.0 for an
    empty graph), the five counts of ClusteringStats, and what loading the
    clustering skipped: ``unknown_memberships`` (memberships naming a node
    the graph lacks), ``dropped_singletons`` (clusters left with a single
    member) and ``unassigned_nodes`` (nodes its source put in no cluster: a
    membership vector's negative labels, a networkit Partition's unassigned
    elements; 0 for files and other sources)."""
    keys, counts = cluster_counts(clustering, ids)
    wanted = None if ids is None else _wanted_ids(ids)
    covered = dict(zip(STATS_COUNTS, _native.coverage(clustering, wanted)))
    values = cluster_values(*counts, total_edges=covered["total_edges"])
    result: dict[str, Any] = {
        "modularity": math.fsum(values["modularity"].tolist()),
        "node_coverage": _fraction(covered["covered_nodes"], covered["total_nodes"]),
        "edge_coverage": _fraction(covered["covered_edges"], covered["total_edges"]),
    }
    result.update(covered)
    unknown, dropped, _, _, unassigned = _native.load_counts(clustering)
    result["unknown_memberships"], result["dropped_singletons"] = unknown, dropped
    result["unassigned_nodes"] = unassigned
    return result


def cluster_counts(clustering: quelmar.Clustering,
                   ids: Optional[Ids] = None) -> tuple[U64, list[U64]]:
    """The ascending ids of the clusters (all, or those named by `ids`) and
    their five counts as uint64 arrays, in COUNT_COLUMNS order."""
    if not isinstance(clustering, quelmar.Clustering):
        raise TypeError(f"expected a quelmar.Clustering, got {type(clustering).__name__}")
    wanted = None if ids is None else _wanted_ids(ids)
    keys, *counts = (np.frombuffer(column, dtype=np.uint64)
                     for column in _native.cluster_counts(clustering, wanted))
    return keys, counts


def _wanted_ids(ids: Ids) -> U64:
    values = ids if isinstance(ids, np.ndarray) else list(ids)
    return np.ascontiguousarray(np.unique(to_uint64(values, "cluster id").ravel()))


def _total_edges(clustering: quelmar.Clustering) -> int:
    # The coverage of no cluster costs nothing and reports the totals.
    return int(_native.coverage(clustering, np.empty(0, dtype=np.uint64))[4])


def _fraction(part: int, whole: int) -> float:
    return part / whole if whole else 0.0
