"""Finishing on the client: the per-cluster counts gathered into one table,
the summaries, the size comparison and the one cross-file error."""

from __future__ import annotations

from typing import Any, Sequence

import numpy as np
import pandas as pd

from quelmar_tools.dask import _inputs
from quelmar_tools.dask._names import unscramble
from quelmar_tools import _native

COUNTS = ("n", "m", "c", "mcd", "vol")


def counts_table(parts: Sequence[pd.DataFrame]) -> pd.DataFrame:
    """Clusters of two or more members, ascending by id, with their counts."""
    frame = pd.concat(list(parts), ignore_index=True) if parts else pd.DataFrame()
    return _table(frame)


def _table(frame: pd.DataFrame) -> pd.DataFrame:
    if len(frame) == 0:
        frame = pd.DataFrame({k: np.array([], np.uint64)
                              for k in ("cluster", "n", "inside", "c", "mcd", "vol")})
    ids = unscramble(frame["cluster"].to_numpy(np.uint64))
    order = np.argsort(ids, kind="stable")
    inside = frame["inside"].to_numpy(np.uint64)[order]
    table = pd.DataFrame(
        {
            "n": frame["n"].to_numpy(np.uint64)[order],
            "m": inside >> np.uint64(1),
            "c": frame["c"].to_numpy(np.uint64)[order],
            "mcd": frame["mcd"].to_numpy(np.uint64)[order],
            "vol": frame["vol"].to_numpy(np.uint64)[order],
        },
        index=pd.Index(ids[order], name="id", dtype=np.uint64),
    )
    return table


def total_edges(totals: Sequence[tuple[int, int]]) -> int:
    return sum(t[1] for t in totals) // 2


def _values(table: pd.DataFrame, edges: int, cpm: float | None) -> dict[str, np.ndarray]:
    """The per-cluster values of the statistics, by the module's own code."""
    n, m, c, mcd, vol = (np.ascontiguousarray(table[k].to_numpy(np.uint64)) for k in COUNTS)
    values = _native.cluster_values(n, m, c, mcd, vol, edges, cpm)
    return {name: np.frombuffer(column, np.float64) for name, column in values.items()}


def summaries(table: pd.DataFrame, edges: int, cpm: float | None) -> dict[str, list[float]]:
    return {name: _native.summarize(column) for name, column in _values(table, edges, cpm).items()}


def table_meta(with_cpm: bool) -> pd.DataFrame:
    from quelmar_tools import table_columns

    columns = {k: np.array([], np.uint64) if k in COUNTS else np.array([], np.float64)
               for k in table_columns(with_cpm)}
    return pd.DataFrame(columns, index=pd.Index(np.array([], np.uint64), name="id"))


def table_part(counts: pd.DataFrame, unresolved: pd.DataFrame, edges: int,
               cpm: float | None, member_paths: list[str]) -> pd.DataFrame:
    raise_unresolved([unresolved], member_paths)
    table = _table(counts)
    for name, column in _values(table, edges, cpm).items():
        if name != "mcd":  # the count column already
            table[name] = column
    from quelmar_tools import table_columns

    return table[table_columns(cpm is not None)]


def raise_unresolved(parts: Sequence[pd.DataFrame], member_paths: list[str]) -> None:
    """The module's unresolved-node failure for the cluster whose second line
    naming an unknown node comes first."""
    frames = [p for p in parts if len(p)]
    if not frames:
        return
    lines = pd.concat(frames, ignore_index=True)
    first = int(np.argmin(lines["pos"].to_numpy(np.uint64)))
    cluster = int(unscramble(lines["cluster"].to_numpy(np.uint64)[first:first + 1])[0])
    position = int(lines["pos"].to_numpy(np.uint64)[first])
    if _inputs.is_parquet(member_paths):
        number = position >> _inputs.POSITION_BITS
        row = position & ((1 << _inputs.POSITION_BITS) - 1)
        node = _inputs.parquet_node(member_paths, number, row)
        message = _native.unresolved_message(str(node).encode(), cluster)
        raise _inputs.LineError(f"partition {number} row {row}: {message}")
    path, line, text = _inputs.line_at(member_paths, position)
    raise _inputs.LineError(f"{path}:{line}: {_native.unresolved_message(text, cluster)}")


def size_changes(mine: pd.DataFrame, theirs: pd.DataFrame) -> tuple[int, list[float]]:
    before = mine["n"]
    after = theirs["n"].reindex(before.index)
    if after.isna().any():
        raise LookupError("no entry found for key")
    changes = np.frombuffer(_native.size_changes(
        np.ascontiguousarray(before.to_numpy(np.uint64)),
        np.ascontiguousarray(theirs["n"].loc[before.index].to_numpy(np.uint64))), np.float64)
    return int((changes > 0).sum()), _native.summarize(changes)
