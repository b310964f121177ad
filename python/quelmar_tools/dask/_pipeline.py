"""The task graph: which steps shuffle, and how partitions line up.

    edge blocks --shuffle by lo--> lo_side --hi rows, shuffle by hi--+
    membership blocks --shuffle by node-----------------+            |
                                                         v            v
                              degrees (lo side + hi side) -> node_side
    node_side partials --shuffle by cluster--> cluster_side --singles,
    shuffle by node--> covered (with node_side's per-node counts)

Every node-keyed shuffle uses the same partition count, so partition i of
each holds the same nodes and the per-partition steps join locally. Dask
hashes numeric keys as float64; the names are scrambled (_names) so that
this spreads them evenly, and each step checks a few keys of its inputs
against the partition it was given, so a change in Dask's hashing fails
loudly instead of joining the wrong partitions.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Sequence

import dask.dataframe as dd
import numpy as np
import pandas as pd

from quelmar_tools.dask import _calls, _inputs, _stages
from quelmar_tools.dask._plan import PARQUET_ROW_BYTES, Plan
from quelmar_tools.dask._names import scramble

CHECKED_KEYS = 16


@dataclass
class Input:
    """Parsed input files: the rows, and per parsing task None or the
    message of its first bad line, in file order."""

    frame: dd.DataFrame
    failures: list[Any]


def read(paths: list[str], kind: _inputs.Kind, plan: Plan) -> Input:
    meta = _stages.EDGE_META if kind == "edges" else _stages.MEMBER_META
    if _inputs.is_parquet(paths):
        rows = max(1, plan.block_bytes // PARQUET_ROW_BYTES)
        pieces: list[Any] = _inputs.row_groups(paths, rows)
        parse: Any = _inputs.read_row_groups
    else:
        pieces, parse = _inputs.blocks(paths, plan.block_bytes), _inputs.parse_block
    parsed = [_calls.delayed(parse, nout=2)(piece, kind) for piece in pieces]
    if not parsed:
        return Input(_calls.from_delayed([_calls.constant(meta)], meta), [])
    return Input(_calls.from_delayed([p[0] for p in parsed], meta), [p[1] for p in parsed])


def checked(*inputs: Input) -> Any:
    """A task that raises the first bad line of the inputs, in the order
    given; the first step that sees each input takes it, so every task that
    fails for bad input fails with this one error."""
    return _calls.delayed(_inputs.raise_first)(*(f for i in inputs for f in i.failures))


def _keyed(frame: dd.DataFrame, column: str, partitions: int, method: str | None) -> list[Any]:
    """The frame hash-shuffled by one column, as one delayed part per
    partition."""
    return _calls.hash_shuffled(frame, column, partitions, method)


def _check(frame: pd.DataFrame, column: str, number: int, partitions: int) -> None:
    sample = frame[[column]].head(CHECKED_KEYS)
    if len(sample) and (_calls.partition_numbers(sample, partitions) != number).any():
        raise RuntimeError("shuffled partitions do not line up: Dask's hashing of keys changed")


def _lo_side(edges: pd.DataFrame, members: pd.DataFrame | None, selected: Any,
             number: int, partitions: int, _inputs_ok: None) -> _stages.LoSide:
    _check(edges, "lo", number, partitions)
    if members is None:
        members = _stages.MEMBER_META
    else:
        _check(members, "node", number, partitions)
    return _stages.lo_side(edges, members, selected)


def _degrees(lo_nodes: pd.DataFrame, hi_rows: pd.DataFrame, number: int,
             partitions: int) -> pd.DataFrame:
    _check(hi_rows, "hi", number, partitions)
    return _stages.degrees(lo_nodes, hi_rows)


def _node_side(members: pd.DataFrame, nodes: pd.DataFrame, hi_rows: pd.DataFrame | None,
               selected: Any, number: int, partitions: int,
               _inputs_ok: None) -> _stages.NodeSide:
    _check(members, "node", number, partitions)
    return _stages.node_side(members, nodes, hi_rows, selected)


def _covered(coverage: pd.DataFrame, singles: pd.DataFrame, number: int,
             partitions: int) -> tuple[int, int]:
    _check(singles, "node", number, partitions)
    return _stages.covered(coverage, singles)


def _graph_totals(nodes: pd.DataFrame) -> tuple[int, int]:
    return len(nodes), int(nodes["deg"].to_numpy(np.uint64).sum(dtype=np.uint64))


def selection(ids: Sequence[int] | None) -> np.ndarray | None:
    if ids is None:
        return None
    values = np.array([int(i) for i in ids], dtype=np.uint64)
    return np.unique(scramble(values))


@dataclass
class Graph:
    """Delayed per-node-partition parts of the graph."""

    partitions: int
    method: str | None  # of the shuffles
    nodes: list[Any]  # degrees() frames
    hi_rows: list[Any] | None  # hi-keyed rows, when a clustering was joined
    totals: list[Any]  # (nodes, degree sum) per partition
    members: list[Any] | None  # the joined clustering's node-keyed lines


@dataclass
class Clustering:
    """Delayed parts of one clustering joined with the graph."""

    node_sides: list[Any]
    cluster_sides: list[Any]


def graph(edges: Input, members: Input | None, selected: Any, plan: Plan,
          inputs_ok: Any) -> Graph:
    partitions, method = plan.partitions, plan.shuffle_method
    lo_parts = _keyed(edges.frame, "lo", partitions, method)
    member_parts = (_keyed(members.frame, "node", partitions, method) if members is not None
                    else [None] * partitions)
    lo_sides = [
        _calls.delayed(_lo_side, nout=2)(e, m, selected, i, partitions, inputs_ok)
        for i, (e, m) in enumerate(zip(lo_parts, member_parts, strict=True))
    ]
    hi_frame = _calls.from_delayed([s[1] for s in lo_sides], _stages.HI_META)
    hi_parts = _keyed(hi_frame, "hi", partitions, method)
    nodes = [_calls.delayed(_degrees)(s[0], h, i, partitions)
             for i, (s, h) in enumerate(zip(lo_sides, hi_parts, strict=True))]
    totals = [_calls.delayed(_graph_totals)(n) for n in nodes]
    return Graph(partitions, method, nodes, hi_parts if members is not None else None, totals,
                 member_parts if members is not None else None)


def clustering(g: Graph, members: Input | None, selected: Any, inputs_ok: Any) -> Clustering:
    """The clustering joined with the graph: the one joined when the graph was
    built (members None; its internal edges are counted), or another one
    (sizes only)."""
    if members is None:
        assert g.members is not None and g.hi_rows is not None
        parts, hi = g.members, g.hi_rows
    else:
        parts = _keyed(members.frame, "node", g.partitions, g.method)
        hi = [None] * g.partitions
    node_sides = [
        _calls.delayed(_node_side, nout=3)(m, n, h, selected, i, g.partitions, inputs_ok)
        for i, (m, n, h) in enumerate(zip(parts, g.nodes, hi, strict=True))
    ]
    partials = _calls.from_delayed([s[0] for s in node_sides], _stages.PARTIAL_META)
    cluster_sides = [_calls.delayed(_stages.cluster_side, nout=3)(p)
                     for p in _keyed(partials, "cluster", g.partitions, g.method)]
    return Clustering(node_sides, cluster_sides)


def coverage(g: Graph, c: Clustering) -> list[Any]:
    singles = _calls.from_delayed([s[1] for s in c.cluster_sides], _stages.SINGLE_META)
    single_parts = _keyed(singles, "node", g.partitions, g.method)
    return [_calls.delayed(_covered)(s[1], single, i, g.partitions)
            for i, (s, single) in enumerate(zip(c.node_sides, single_parts, strict=True))]
