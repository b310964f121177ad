"""How far two clusterings of one graph agree: the agreement measures of the
field, computed natively from the clusters' members, and per-cluster best
matches.

Both work from the contingency of the two selections: the size of every
nonempty intersection of a cluster of one with a cluster of the other,
built through the members (pairs of clusters sharing no node are never
looked at).

Nodes covered by one side only, or by neither (`uncovered`):

* ``"singletons"`` (the default): every node of the graph is compared, and a
  node a side leaves uncovered is a cluster of its own there. A clustering
  file cannot hold one-member clusters (they are dropped when it is read),
  so these are the singletons of the clustering as it was made; NMI and ARI
  then equal scikit-learn's on the label arrays that give every node of the
  graph its cluster and each uncovered node a label of its own.
* ``"drop"``: only the nodes both sides cover are compared; clusters are cut
  down to them.
"""

from __future__ import annotations

from collections.abc import Iterable
from typing import Any, NamedTuple, Optional, Union

import numpy as np
import pandas as pd

import quelmar
from quelmar_tools import _native
from quelmar_tools.table import Ids, _wanted_ids

__all__ = [
    "ALL_MEASURES", "AgreementMeasure", "COVER_MEASURES", "DEFAULT_MEASURES", "MATCH_COLUMNS",
    "MEASURE_TABLE", "NMI_VARIANTS", "PARTITION_MEASURES", "compare", "match_table"
]


class AgreementMeasure(NamedTuple):
    """A row of the native table of agreement measures."""

    name: str
    needs_partition: bool  # refuses a side with overlapping clusters
    needs_members: bool  # reads the clusters' members, not only the contingency
    long_pass: bool  # costs more than a pass over the contingency
    variant_of: str  # the measure this one varies, or ""


#: The agreement measures, in the native table's order.
MEASURE_TABLE = tuple(AgreementMeasure(*row) for row in _native.agreement_measures())
#: Need a partition on both sides (no node in two compared clusters).
PARTITION_MEASURES = tuple(m.name for m in MEASURE_TABLE if m.needs_partition and not m.variant_of)
#: Accept overlapping clusters.
COVER_MEASURES = tuple(m.name for m in MEASURE_TABLE if not m.needs_partition)
#: NMI under another mean of the two entropies than the arithmetic one.
NMI_VARIANTS = tuple(m.name for m in MEASURE_TABLE if m.variant_of)
#: What compare() computes unless told otherwise: the cheap measures that
#: apply (the partition ones only when both sides are partitions).
DEFAULT_MEASURES = tuple(m.name for m in MEASURE_TABLE if not m.long_pass and not m.variant_of)
#: What measures="all" computes: every measure that applies.
ALL_MEASURES = tuple(m.name for m in MEASURE_TABLE if not m.variant_of)

MATCH_COLUMNS = ("match", "intersection", "jaccard", "precision", "recall", "f1")


def compare(a: quelmar.Clustering, b: quelmar.Clustering, *, ids: Optional[Ids] = None,
            other_ids: Optional[Ids] = None,
            measures: Union[None, str, Iterable[str]] = None,
            uncovered: str = "singletons") -> dict[str, float]:
    """Measure how far two clusterings of one graph agree.

    The agreement measures of the clusters of `a` (or those named by `ids`)
    with those of `b` (or those named by `other_ids`), computed natively
    from the contingency of the two selections (see the module
    documentation, also for `uncovered`).

    Parameters
    ----------
    a, b : quelmar.Clustering
        Two clusterings of the same graph.
    ids, other_ids : iterable of int, optional
        Only these clusters of `a` and of `b`; all by default.
    measures : str or iterable of str, optional
        None (DEFAULT_MEASURES), "all" (ALL_MEASURES), or names from
        ALL_MEASURES and NMI_VARIANTS. With None or "all", the partition
        measures are left out when a side has overlapping clusters; named
        explicitly, they refuse a cover.
    uncovered : {"singletons", "drop"}, default "singletons"
        What becomes of nodes that a side leaves uncovered: a cluster of
        their own there, or left out of the comparison.

    Returns
    -------
    dict of str to float
        Each measure's name to its value, in the order asked.

    Raises
    ------
    TypeError
        When `a` or `b` is not a quelmar.Clustering (naming which), or an
        id is not an integer.
    ValueError
        For clusterings of different graphs, an unknown measure or
        `uncovered` policy (naming it), an id outside [0, 2**64), or a
        partition measure named explicitly while a side has overlapping
        clusters (naming an overlapping node).
    KeyboardInterrupt
        When Ctrl-C stops the pass.

    Examples
    --------
    >>> import quelmar_tools
    >>> graph = quelmar_tools.graph_from([[1, 2], [2, 3], [3, 1], [3, 4], [4, 5], [5, 6]])
    >>> a = quelmar_tools.clustering_from(graph, {0: [1, 2, 3], 1: [4, 5, 6]})
    >>> b = quelmar_tools.clustering_from(graph, {0: [1, 2, 3, 4], 1: [5, 6]})
    >>> {name: round(value, 4) for name, value in quelmar_tools.compare(a, b).items()}
    {'nmi': 0.4787, 'ari': 0.3243, 'vi': 0.6931, 'f1': 0.8286}
    >>> quelmar_tools.compare(a, b, measures=["ari"], uncovered="drop")
    {'ari': 0.32432432432432434}
    """
    _check(a, "a")
    _check(b, "b")
    if measures is None or measures == "all":
        names = list(DEFAULT_MEASURES if measures is None else ALL_MEASURES)
        apt_only = True
    else:
        names = [measures] if isinstance(measures, str) else list(measures)
        apt_only = False
    result: dict[str, float] = _native.compare(a, _selection(ids), b, _selection(other_ids),
                                               names, uncovered, apt_only)
    return result


def match_table(a: quelmar.Clustering, b: quelmar.Clustering, *, ids: Optional[Ids] = None,
                other_ids: Optional[Ids] = None, uncovered: str = "singletons",
                reverse: bool = False) -> pd.DataFrame:
    """Match every cluster of one clustering with its best match in another.

    For every cluster of `a` (or of those named by `ids`), its best match
    among the clusters of `b` (or of those named by `other_ids`) by Jaccard
    index, ties to the smallest id.

    Parameters
    ----------
    a, b : quelmar.Clustering
        Two clusterings of the same graph.
    ids, other_ids : iterable of int, optional
        Only these clusters of `a` and of `b`; all by default.
    uncovered : {"singletons", "drop"}, default "singletons"
        As for `compare`.
    reverse : bool, default False
        The same table the other way round: one row per cluster of `b`,
        matched among those of `a`.

    Returns
    -------
    pandas.DataFrame
        Indexed by `a`'s cluster id (``id``, ascending), with the columns

        * ``match``: the id of the best-matching cluster of `b` (UInt64,
          <NA> when the cluster shares no node with any cluster of `b`);
        * ``intersection``: the nodes they share;
        * ``jaccard``, ``precision`` (the share of the match inside the
          cluster), ``recall`` (the share of the cluster the match
          recovers) and ``f1`` (their harmonic mean); NaN without a match.

    Raises
    ------
    TypeError
        When `a` or `b` is not a quelmar.Clustering (naming which), or an
        id is not an integer.
    ValueError
        For clusterings of different graphs, an unknown `uncovered` policy,
        or an id outside [0, 2**64).
    KeyboardInterrupt
        When Ctrl-C stops the pass.

    Examples
    --------
    >>> import quelmar_tools
    >>> graph = quelmar_tools.graph_from([[1, 2], [2, 3], [3, 1], [3, 4], [4, 5], [5, 6]])
    >>> a = quelmar_tools.clustering_from(graph, {0: [1, 2, 3], 1: [4, 5, 6]})
    >>> b = quelmar_tools.clustering_from(graph, {0: [1, 2, 3, 4], 1: [5, 6]})
    >>> table = quelmar_tools.match_table(a, b)
    >>> table[["match", "intersection", "jaccard"]].to_dict("list")
    {'match': [0, 1], 'intersection': [3, 2], 'jaccard': [0.75, 0.6666666666666666]}
    """
    _check(a, "a")
    _check(b, "b")
    return table_frame(_native.match_table(a, _selection(ids), b, _selection(other_ids),
                                           uncovered, bool(reverse)))


def table_frame(columns: tuple[Any, ...]) -> pd.DataFrame:
    """The match table from the native columns."""
    keys, matched, match, intersection, *ratios = columns
    matched_rows = np.frombuffer(matched, dtype=np.uint8).astype(bool)
    frame: dict[str, Any] = {
        "match": pd.arrays.IntegerArray(np.frombuffer(match, dtype=np.uint64).copy(),
                                        ~matched_rows),
        "intersection": np.frombuffer(intersection, dtype=np.uint64),
    }
    for name, column in zip(("jaccard", "precision", "recall", "f1"), ratios):
        frame[name] = np.frombuffer(column, dtype=np.float64)
    index = pd.Index(np.frombuffer(keys, dtype=np.uint64), name="id", dtype=np.uint64)
    return pd.DataFrame(frame, index=index, copy=False)


def _check(clustering: Any, name: str) -> None:
    if not isinstance(clustering, quelmar.Clustering):
        raise TypeError(f"{name}: expected a quelmar.Clustering, got {type(clustering).__name__}")


def _selection(ids: Optional[Ids]) -> Any:
    return None if ids is None else _wanted_ids(ids)
