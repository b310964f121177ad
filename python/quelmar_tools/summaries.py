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
    """One row per statistic, indexed by its name (``statistic``, sorted),
    one float column per percentile, labelled 0, 5, ..., 100."""
    distributions = stats.distributions
    names = sorted(distributions)
    rows = [distributions[name].percentiles for name in names]
    frame = pd.DataFrame(np.array(rows, dtype=np.float64).reshape(len(names), len(PERCENTILES)),
                         index=pd.Index(names, name="statistic"), columns=PERCENTILES)
    return frame


def to_dict(stats: quelmar.ClusteringStats) -> dict[str, Any]:
    """The five counts under their attribute names and ``distributions``,
    each statistic's name (sorted) to its list of 21 floats."""
    result: dict[str, Any] = {name: getattr(stats, name) for name in STATS_COUNTS}
    distributions = stats.distributions
    result["distributions"] = {name: distributions[name].percentiles
                               for name in sorted(distributions)}
    return result


def summarize(values: Any) -> list[float]:
    """The module's 21-point summary of a sequence of floats (NaN left out;
    21 zeros when nothing is left), exactly as compute_statistics() makes it."""
    array = np.ascontiguousarray(values, dtype=np.float64)
    if array.ndim != 1:
        raise ValueError(f"expected a 1-d sequence of floats, got shape {array.shape}")
    return _native.summarize(array)
