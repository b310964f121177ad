"""Finishing on the client: the per-cluster counts gathered into one table,
the summaries, the size comparison and the one cross-file error."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Sequence

import numpy as np
import pandas as pd

from quelmar_tools.dask import _inputs
from quelmar_tools.dask._names import unscramble
from quelmar_tools import _native

COUNTS = ("n", "m", "c", "mcd", "vol")


@dataclass(frozen=True)
class Statistics:
    """The five counts of ``ClusteringStats`` under the same names, and each
    statistic's 21 percentiles under the module's keys."""

    num_clusters: int
    covered_nodes: int
    covered_edges: int
    total_nodes: int
    total_edges: int
    distributions: dict[str, list[float]] = field(default_factory=dict)


def statistics(totals: Sequence[tuple[int, int]], counts: Sequence[pd.DataFrame],
               unresolved: Sequence[pd.DataFrame], links: Sequence[int],
               covers: Sequence[tuple[int, int]], cpm: float | None,
               member_paths: list[str]) -> Statistics:
    """The record from the per-partition results (the job's last task)."""
    raise_unresolved(unresolved, member_paths)
    table = counts_table(counts)
    total_edges = sum(t[1] for t in totals) // 2
    covered_loops = sum(c[1] for c in covers)
    return Statistics(
        num_clusters=len(table),
        covered_nodes=sum(c[0] for c in covers),
        covered_edges=(2 * sum(links) + covered_loops) // 2,
        total_nodes=sum(t[0] for t in totals),
        total_edges=total_edges,
        distributions=summaries(table, total_edges, cpm),
    )


def size_diff(mine: Sequence[pd.DataFrame], my_unresolved: Sequence[pd.DataFrame],
              theirs: Sequence[pd.DataFrame], their_unresolved: Sequence[pd.DataFrame],
              member_paths: list[str], other_paths: list[str]) -> tuple[int, list[float]]:
    raise_unresolved(my_unresolved, member_paths)
    raise_unresolved(their_unresolved, other_paths)
    return size_changes(counts_table(mine), counts_table(theirs))


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
        copy=False,
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


def table_part(counts: pd.DataFrame, edges: int, cpm: float | None,
               _resolved: None) -> pd.DataFrame:
    """One partition of cluster_table; _resolved is raise_unresolved's
    outcome over all partitions, so every part fails with the same error."""
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
        path, row, node = _inputs.parquet_node(member_paths, position)
        message = _native.unresolved_message(str(node).encode(), cluster)
        raise _inputs.LineError(f"{path}: row {row}: {message}")
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
