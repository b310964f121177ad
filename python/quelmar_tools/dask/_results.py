"""Finishing on the client: the per-cluster counts gathered into one table,
the summaries, the size comparison and the one cross-file error."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, NamedTuple, Sequence

import numpy as np

from quelmar_tools.dask import _parsing
from quelmar_tools.dask._scramble import unscramble
from quelmar_tools.dask._stages import Piece
from quelmar_tools import _native
from quelmar_tools.integers import U64

if TYPE_CHECKING:  # the table only: the statistics are finished without pandas
    import pandas as pd

COUNTS = ("n", "m", "c", "mcd", "vol")


@dataclass(frozen=True)
class Statistics:
    """The statistics that ``quelmar_tools.dask.statistics`` computes.

    The five counts of ``ClusteringStats`` under the same names, and each
    statistic's 21 percentiles under the module's keys. A frozen record:
    each field below is an attribute of the same name.

    Parameters
    ----------
    num_clusters : int
        The clusters selected.
    covered_nodes, covered_edges : int
        The nodes in a selected cluster, and the edges with both ends in
        one.
    total_nodes, total_edges : int
        The graph's nodes and edges.
    distributions : dict of str to list of float
        Each statistic's key (as ``ClusteringStats.distributions`` has
        it) to its 21 percentiles, at 0, 5, ..., 100 %.

    Examples
    --------
    >>> import os, tempfile, numpy as np, quelmar_tools.dask
    >>> folder = tempfile.mkdtemp()
    >>> edges = os.path.join(folder, "edges.txt")
    >>> clusters = os.path.join(folder, "clusters.txt")
    >>> np.savetxt(edges, [[1, 2], [2, 3], [3, 1], [3, 4], [4, 5], [5, 6]], fmt="%d")
    >>> np.savetxt(clusters, [[1, 0], [2, 0], [3, 0], [4, 7], [5, 7], [6, 7]], fmt="%d")
    >>> stats = quelmar_tools.dask.statistics(edges, clusters, cpm=0.5)
    >>> stats.covered_nodes, stats.total_nodes, sorted(stats.distributions)
    (6, 6, ['cpm', 'density', 'deviationtreeness', 'mcd', 'modularity', 'size'])
    """

    num_clusters: int
    covered_nodes: int
    covered_edges: int
    total_nodes: int
    total_edges: int
    distributions: dict[str, list[float]] = field(default_factory=dict)


def statistics(totals: Sequence[tuple[int, int]], counts: Sequence[Piece],
               unresolved: Sequence[Piece], links: Sequence[int],
               covers: Sequence[tuple[int, int]], cpm: float | None,
               member_paths: list[str]) -> Statistics:
    """The record from the per-partition results (the job's last task)."""
    raise_unresolved(unresolved, member_paths)
    table = counts_table(counts)
    total_edges = sum(t[1] for t in totals) // 2
    covered_loops = sum(c[1] for c in covers)
    return Statistics(
        num_clusters=len(table.id),
        covered_nodes=sum(c[0] for c in covers),
        covered_edges=(2 * sum(links) + covered_loops) // 2,
        total_nodes=sum(t[0] for t in totals),
        total_edges=total_edges,
        distributions=summaries(table, total_edges, cpm),
    )


def size_diff(mine: Sequence[Piece], my_unresolved: Sequence[Piece],
              theirs: Sequence[Piece], their_unresolved: Sequence[Piece],
              member_paths: list[str], other_paths: list[str]) -> tuple[int, list[float]]:
    raise_unresolved(my_unresolved, member_paths)
    raise_unresolved(their_unresolved, other_paths)
    return size_changes(counts_table(mine), counts_table(theirs))


class Counts(NamedTuple):
    """Clusters of two or more members, ascending by id, with their counts."""

    id: U64
    n: U64
    m: U64
    c: U64
    mcd: U64
    vol: U64


def counts_table(parts: Sequence[Piece]) -> Counts:
    """The counts of cluster_side's parts (COUNT_COLUMNS each) in one table."""
    if parts:
        cluster, n, inside, c, mcd, vol = (np.concatenate(k) for k in zip(*parts, strict=True))
    else:
        cluster = n = inside = c = mcd = vol = np.array([], np.uint64)
    ids = unscramble(cluster)
    order = np.argsort(ids, kind="stable")
    return Counts(ids[order], n[order], inside[order] >> np.uint64(1), c[order], mcd[order],
                  vol[order])


def total_edges(totals: Sequence[tuple[int, int]]) -> int:
    return sum(t[1] for t in totals) // 2


def _values(table: Counts, edges: int, cpm: float | None) -> dict[str, np.ndarray]:
    """The per-cluster values of the statistics, by the module's own code."""
    n, m, c, mcd, vol = (np.ascontiguousarray(getattr(table, k), np.uint64) for k in COUNTS)
    values = _native.cluster_values(n, m, c, mcd, vol, edges, cpm)
    return {name: np.frombuffer(column, np.float64) for name, column in values.items()}


def summaries(table: Counts, edges: int, cpm: float | None) -> dict[str, list[float]]:
    return {name: _native.summarize(column) for name, column in _values(table, edges, cpm).items()}


def table_meta(with_cpm: bool) -> pd.DataFrame:
    import pandas as pd

    from quelmar_tools import table_columns

    columns = {k: np.array([], np.uint64) if k in COUNTS else np.array([], np.float64)
               for k in table_columns(with_cpm)}
    return pd.DataFrame(columns, index=pd.Index(np.array([], np.uint64), name="id"))


def table_part(counts: Piece, edges: int, cpm: float | None,
               _resolved: None) -> pd.DataFrame:
    """One partition of cluster_table; _resolved is raise_unresolved's
    outcome over all partitions, so every part fails with the same error."""
    import pandas as pd

    from quelmar_tools import table_columns

    table = counts_table([counts])
    columns: dict[str, Any] = {k: getattr(table, k) for k in COUNTS}
    for name, column in _values(table, edges, cpm).items():
        if name != "mcd":  # the count column already
            columns[name] = column
    frame = pd.DataFrame(columns, index=pd.Index(table.id, name="id", dtype=np.uint64),
                         copy=False)
    return frame[table_columns(cpm is not None)]


def raise_unresolved(parts: Sequence[Piece], member_paths: list[str]) -> None:
    """The module's unresolved-node failure for the cluster whose second line
    naming an unknown node comes first."""
    found = [p for p in parts if len(p[0])]
    if not found:
        return
    clusters, positions = (np.concatenate(k) for k in zip(*found, strict=True))
    first = int(np.argmin(positions))
    cluster = int(unscramble(clusters[first:first + 1])[0])
    position = int(positions[first])
    if _parsing.is_parquet(member_paths):
        path, row, node = _parsing.parquet_node(member_paths, position)
        message = _native.unresolved_message(str(node).encode(), cluster)
        raise _parsing.LineError(f"{path}: row {row}: {message}")
    path, line, text = _parsing.line_at(member_paths, position)
    raise _parsing.LineError(f"{path}:{line}: {_native.unresolved_message(text, cluster)}")


def size_changes(mine: Counts, theirs: Counts) -> tuple[int, list[float]]:
    at = np.minimum(np.searchsorted(theirs.id, mine.id), max(len(theirs.id) - 1, 0))
    if len(mine.id) and (len(theirs.id) == 0 or (theirs.id[at] != mine.id).any()):
        raise LookupError("no entry found for key")
    after = theirs.n[at] if len(mine.id) else np.array([], np.uint64)
    changes = np.frombuffer(_native.size_changes(
        np.ascontiguousarray(mine.n), np.ascontiguousarray(after)), np.float64)
    return int((changes > 0).sum()), _native.summarize(changes)
