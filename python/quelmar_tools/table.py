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

#: The count columns of a cluster table, in order: members, internal edges,
#: cut size, smallest member degree and volume.
COUNT_COLUMNS = ("n", "m", "c", "mcd", "vol")
#: The value columns, as the native statistics table places them (its ``mcd``
#: is the count column of that name).
VALUE_COLUMNS: tuple[str, ...] = _native.value_columns(False)
#: The value column added after VALUE_COLUMNS when a CPM resolution is given.
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
    """List the columns of a cluster table, in order (the index ``id`` aside).

    Parameters
    ----------
    with_cpm : bool
        Whether the table has the ``cpm`` column (a CPM resolution was
        given).

    Returns
    -------
    list of str
        COUNT_COLUMNS, then VALUE_COLUMNS, then ``cpm`` when `with_cpm`.

    Examples
    --------
    >>> import quelmar_tools
    >>> quelmar_tools.table_columns(with_cpm=True)
    ['n', 'm', 'c', 'mcd', 'vol', 'size', 'density', 'modularity', 'deviationtreeness', 'cpm']
    """
    return [*COUNT_COLUMNS, *VALUE_COLUMNS, *([CPM_COLUMN] if with_cpm else [])]


def cluster_values(n: Any, m: Any, c: Any, mcd: Any, vol: Any, *, total_edges: int,
                   cpm: Optional[float] = None) -> dict[str, FloatArray]:
    """Compute the value columns of a cluster table from the five counts.

    The columns are VALUE_COLUMNS, and ``cpm`` when a resolution is given,
    for clusters with these counts in a graph of `total_edges` edges,
    computed by the same native code that ``compute_statistics()`` runs (so
    bit-identical to its values). They depend on nothing else, so they can
    be computed for any block of counts.

    Parameters
    ----------
    n, m, c, mcd, vol : array-like of int
        Each cluster's members, internal edges, cut size, smallest member
        degree and volume: 1-d array-likes of equal length, integers in
        [0, 2**64).
    total_edges : int
        The graph's edge count.
    cpm : float, optional
        The CPM resolution; without it there is no ``cpm`` column.

    Returns
    -------
    dict of str to numpy.ndarray
        Each column's name (in table order) to its float64 values, one per
        cluster.

    Raises
    ------
    TypeError
        For a count that is not an integer, a `total_edges` that is not an
        int or a `cpm` that is not a number.
    ValueError
        For a count outside [0, 2**64), or counts that are not 1-d arrays
        of one length.
    OverflowError
        For a `total_edges` outside [0, 2**64).

    Examples
    --------
    >>> import quelmar_tools
    >>> values = quelmar_tools.cluster_values([3, 4], [3, 2], [1, 0], [2, 1], [7, 4],
    ...                                       total_edges=7, cpm=0.5)
    >>> values["density"].tolist(), values["cpm"].tolist()
    ([1.0, 0.3333333333333333], [1.5, -1.0])
    """
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
    """Tabulate the counts and statistics of every cluster, one row each.

    The layout is the package's per-cluster table (see the package
    documentation): index ``id`` (ascending, uint64), the five counts
    (COUNT_COLUMNS, uint64), the value columns (VALUE_COLUMNS, float64) and
    ``cpm`` when a resolution is given, then the quality measures asked for.

    Parameters
    ----------
    clustering : quelmar.Clustering
        The clusters, packed against their graph.
    ids : iterable of int, optional
        Only these clusters (ids that name no cluster are left out); all by
        default.
    cpm : float, optional
        The clustering's own CPM resolution, for the ``cpm`` column: pass
        it, since the module does not tell what a clustering was built
        with.
    measures : str or iterable of str, optional
        Columns of quality measures to add after those: names of MEASURES,
        in the order given, or "all". Some cost a walk over each cluster,
        the minimum cut more.

    Returns
    -------
    pandas.DataFrame
        One row per cluster.

    Raises
    ------
    TypeError
        When `clustering` is not a quelmar.Clustering (a ClusteringSubset
        is not: pass its clustering and `ids`), an id is not an integer,
        `cpm` is not a number or a measure name is not a str.
    ValueError
        For an id outside [0, 2**64), or an unknown measure (naming it and
        the known ones).
    KeyboardInterrupt
        When Ctrl-C stops the pass over the measures.

    Examples
    --------
    >>> import quelmar_tools
    >>> graph = quelmar_tools.graph_from([[1, 2], [2, 3], [3, 1], [3, 4], [4, 5], [5, 6]])
    >>> clustering = quelmar_tools.clustering_from(graph, {0: [1, 2, 3], 7: [4, 5, 6]})
    >>> table = quelmar_tools.cluster_table(clustering, measures=["conductance"])
    >>> table.index.tolist(), table["m"].tolist(), table["conductance"].tolist()
    ([0, 7], [3, 2], [0.14285714285714285, 0.2])
    """
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
    """Sum up a clustering: modularity, coverage, counts and what its load skipped.

    Parameters
    ----------
    clustering : quelmar.Clustering
        The clusters, packed against their graph.
    ids : iterable of int, optional
        Only these clusters; all by default.

    Returns
    -------
    dict of str to int or float
        Clustering-wide figures of the clusters:

        * ``modularity``: the sum of the per-cluster modularity
          contributions;
        * ``node_coverage`` and ``edge_coverage``: covered over total, 0.0
          for an empty graph;
        * the five counts of ClusteringStats (``num_clusters``,
          ``covered_nodes``, ``covered_edges``, ``total_nodes``,
          ``total_edges``);
        * what loading the clustering skipped: ``unknown_memberships``
          (memberships naming a node the graph lacks),
          ``dropped_singletons`` (clusters left with a single member) and
          ``unassigned_nodes`` (nodes its source put in no cluster: a
          membership vector's negative labels, a networkit Partition's
          unassigned elements; 0 for files and other sources).

    Raises
    ------
    TypeError
        When `clustering` is not a quelmar.Clustering, or an id is not an
        integer.
    ValueError
        For an id outside [0, 2**64).

    Examples
    --------
    >>> import quelmar_tools
    >>> graph = quelmar_tools.graph_from([[1, 2], [2, 3], [3, 1], [3, 4]])
    >>> clustering = quelmar_tools.clustering_from(graph, {0: [1, 2, 3], 1: [4]})
    >>> figures = quelmar_tools.totals(clustering)
    >>> figures["modularity"], figures["node_coverage"], figures["dropped_singletons"]
    (-0.015625, 0.75, 1)
    """
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
    """Read the ids and the five counts of the clusters.

    The counts are those of packing, read natively from the packed
    clustering: nothing walks the graph again.

    Parameters
    ----------
    clustering : quelmar.Clustering
        The clusters, packed against their graph.
    ids : iterable of int, optional
        Only these clusters (ids that name no cluster are left out); all by
        default.

    Returns
    -------
    keys : numpy.ndarray
        The clusters' ids, ascending, uint64.
    counts : list of numpy.ndarray
        Their five counts as uint64 arrays, in COUNT_COLUMNS order (n, m,
        c, mcd, vol).

    Raises
    ------
    TypeError
        When `clustering` is not a quelmar.Clustering, or an id is not an
        integer.
    ValueError
        For an id outside [0, 2**64).

    Examples
    --------
    >>> import quelmar_tools
    >>> graph = quelmar_tools.graph_from([[1, 2], [2, 3], [3, 1], [3, 4]])
    >>> clustering = quelmar_tools.clustering_from(graph, {5: [1, 2, 3], 6: [3, 4]})
    >>> keys, (n, m, c, mcd, vol) = quelmar_tools.cluster_counts(clustering, ids=[6])
    >>> keys.tolist(), n.tolist(), m.tolist(), c.tolist(), mcd.tolist(), vol.tolist()
    ([6], [2], [1], [2], [1], [4])
    """
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
