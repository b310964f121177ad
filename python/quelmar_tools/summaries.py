"""ClusteringStats as a pandas table or a plain, JSON-ready dict."""

from __future__ import annotations

from typing import Any

import numpy as np
import pandas as pd

import quelmar
from quelmar_tools import _native
from quelmar_tools.table import STATS_COUNTS

__all__ = ["PERCENTILES", "summarize", "summary_table", "to_dict"]

#: The labels of the 21 percentiles: entry i is the percentile at i * 5 %.
PERCENTILES = list(range(0, 101, 5))


def summary_table(stats: quelmar.ClusteringStats) -> pd.DataFrame:
    """Lay out the summaries of a ClusteringStats as a table, one row per statistic.

    Parameters
    ----------
    stats : quelmar.ClusteringStats
        What ``compute_statistics()`` returned.

    Returns
    -------
    pandas.DataFrame
        One row per statistic, indexed by its name (``statistic``, sorted),
        one float64 column per percentile, labelled 0, 5, ..., 100
        (PERCENTILES).

    Raises
    ------
    AttributeError
        When `stats` has no ``distributions`` (it is not a ClusteringStats).

    Examples
    --------
    >>> import quelmar_tools
    >>> graph = quelmar_tools.graph_from([[1, 2], [2, 3], [3, 1], [3, 4], [4, 5], [5, 6]])
    >>> clustering = quelmar_tools.clustering_from(graph, {0: [1, 2, 3], 7: [4, 5, 6]})
    >>> table = quelmar_tools.summary_table(clustering.select_in([0, 7]).compute_statistics())
    >>> table.index.tolist()
    ['density', 'deviationtreeness', 'mcd', 'modularity', 'size']
    >>> table.loc["density", [0, 50, 100]].tolist()
    [0.6666666666666666, 0.8333333333333333, 1.0]
    """
    distributions = stats.distributions
    names = sorted(distributions)
    rows = [distributions[name].percentiles for name in names]
    frame = pd.DataFrame(np.array(rows, dtype=np.float64).reshape(len(names), len(PERCENTILES)),
                         index=pd.Index(names, name="statistic"), columns=PERCENTILES)
    return frame


def to_dict(stats: quelmar.ClusteringStats) -> dict[str, Any]:
    """Turn a ClusteringStats into a plain dict, ready for JSON.

    Parameters
    ----------
    stats : quelmar.ClusteringStats
        What ``compute_statistics()`` returned.

    Returns
    -------
    dict
        The five counts under their attribute names (``num_clusters``,
        ``covered_nodes``, ``covered_edges``, ``total_nodes``,
        ``total_edges``) and ``distributions``: each statistic's name
        (sorted) to its list of 21 floats, the percentiles at 0, 5, ...,
        100 %.

    Raises
    ------
    AttributeError
        When `stats` lacks an attribute of a ClusteringStats.

    Examples
    --------
    >>> import json, quelmar_tools
    >>> graph = quelmar_tools.graph_from([[1, 2], [2, 3], [3, 1], [3, 4]])
    >>> clustering = quelmar_tools.clustering_from(graph, {0: [1, 2, 3]})
    >>> record = quelmar_tools.to_dict(clustering.select_in([0]).compute_statistics())
    >>> record["covered_edges"], record["total_edges"], record["distributions"]["mcd"][20]
    (3, 4, 2.0)
    >>> len(json.dumps(record)) > 0
    True
    """
    result: dict[str, Any] = {name: getattr(stats, name) for name in STATS_COUNTS}
    distributions = stats.distributions
    result["distributions"] = {name: distributions[name].percentiles
                               for name in sorted(distributions)}
    return result


def summarize(values: Any) -> list[float]:
    """Summarise a sequence of floats in the module's 21 points.

    The summary is exactly the one ``compute_statistics()`` makes: the
    percentiles at 0, 5, ..., 100 %, interpolated linearly between order
    statistics, NaN left out; 21 zeros when nothing is left.

    Parameters
    ----------
    values : array-like of float
        A 1-d sequence of numbers.

    Returns
    -------
    list of float
        The 21 percentiles, in PERCENTILES order.

    Raises
    ------
    ValueError
        When `values` is not 1-d (naming its shape), or an entry is a
        string that is not a number.
    TypeError
        For an entry that numpy cannot read as a float.

    Examples
    --------
    >>> import quelmar_tools
    >>> summary = quelmar_tools.summarize([1.0, 2.0, float("nan"), 3.0])
    >>> len(summary), summary[0], summary[10], summary[20]
    (21, 1.0, 2.0, 3.0)
    >>> quelmar_tools.summarize([]) == [0.0] * 21
    True
    """
    array = np.ascontiguousarray(values, dtype=np.float64)
    if array.ndim != 1:
        raise ValueError(f"expected a 1-d sequence of floats, got shape {array.shape}")
    return _native.summarize(array)
