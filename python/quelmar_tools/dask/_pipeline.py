"""The task graph: which steps send rows to which, and how partitions line up.

    edge blocks --by lo--> lo_side --hi rows, by hi--> degrees -> node_side
    membership blocks --by node--> lo_side (the lines pass on) --^
    node_side partials --by cluster--> cluster_side --singles, by node-->
    covered (with node_side's per-node counts)

Rows move as pieces (_stages): a sending task returns one piece per
partition, one small task per (sender, partition) picks a piece out, and
the receiving task concatenates its pieces in the senders' order. Every
routing uses the same partition count and the same rule (partition_of in
partition_joins.h), so partition i of each node-keyed step holds the same
nodes and the steps join locally; the rule is this package's own, so no
assumption about how Dask places rows is needed.
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


@dataclass
class Input:
    """Parsed input files: one Delayed frame per parsing task, and per
    parsing task None or the message of its first bad line, in file order."""

    parts: list[Any]
    failures: list[Any]
    meta: pd.DataFrame

    @property
    def frame(self) -> dd.DataFrame:
        return _calls.from_delayed(self.parts, self.meta)


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
        return Input([_calls.constant(meta)], [], meta)
    return Input([p[0] for p in parsed], [p[1] for p in parsed], meta)


def checked(*inputs: Input) -> Any:
    """A task that raises the first bad line of the inputs, in the order
    given; the first step that sees each input takes it, so every task that
    fails for bad input fails with this one error."""
    return _calls.delayed(_inputs.raise_first)(*(f for i in inputs for f in i.failures))


def _by_partition(senders: Sequence[Any], partitions: int) -> list[list[Any]]:
    """Per partition, the piece each sender (a Delayed list of pieces) has for it."""
    return [[sender[p] for sender in senders] for p in range(partitions)]


def _routed(rows: Input, key: str, partitions: int) -> list[list[Any]]:
    senders = [_calls.delayed(_stages.routed)(part, key, partitions) for part in rows.parts]
    return _by_partition(senders, partitions)


def _lo_side(edges: list[_stages.Piece], members: list[_stages.Piece] | None, selected: Any,
             partitions: int, _inputs_ok: None) -> _stages.LoSide:
    return _stages.lo_side(edges, members, selected, partitions)


def _node_side(members: list[_stages.Piece], nodes: _stages.Piece,
               hi_rows: _stages.Piece | None, selected: Any, partitions: int,
               _inputs_ok: None) -> _stages.NodeSide:
    return _stages.node_side(members, nodes, hi_rows, selected, partitions)


def selection(ids: Sequence[int] | None) -> np.ndarray | None:
    if ids is None:
        return None
    values = np.array([int(i) for i in ids], dtype=np.uint64)
    return np.unique(scramble(values))


@dataclass
class Graph:
    """Delayed per-node-partition parts of the graph."""

    partitions: int
    nodes: list[Any]  # degrees' node columns
    hi_rows: list[Any] | None  # the hi-side rows each partition was sent, when a clustering was joined
    totals: list[Any]  # (nodes, degree sum) per partition
    members: list[Any] | None  # the joined clustering's lines, as one piece per partition


@dataclass
class Clustering:
    """Delayed parts of one clustering joined with the graph."""

    node_sides: list[Any]
    cluster_sides: list[Any]


def graph(edges: Input, members: Input | None, selected: Any, plan: Plan,
          inputs_ok: Any) -> Graph:
    partitions = plan.partitions
    edge_parts = _routed(edges, "lo", partitions)
    member_parts: list[Any] = (_routed(members, "node", partitions) if members is not None
                               else [None] * partitions)
    lo_sides = [_calls.delayed(_lo_side, nout=3)(e, m, selected, partitions, inputs_ok)
                for e, m in zip(edge_parts, member_parts, strict=True)]
    hi_parts = _by_partition([s[1] for s in lo_sides], partitions)
    degrees = [_calls.delayed(_stages.degrees, nout=2)(s[0], h)
               for s, h in zip(lo_sides, hi_parts, strict=True)]
    nodes = [d[0] for d in degrees]
    totals = [_calls.delayed(_stages.graph_totals)(n) for n in nodes]
    joined = members is not None
    return Graph(partitions, nodes, [d[1] for d in degrees] if joined else None, totals,
                 [[s[2]] for s in lo_sides] if joined else None)


def clustering(g: Graph, members: Input | None, selected: Any, inputs_ok: Any) -> Clustering:
    """The clustering joined with the graph: the one joined when the graph was
    built (members None; its internal edges are counted), or another one
    (sizes only)."""
    if members is None:
        assert g.members is not None and g.hi_rows is not None
        parts, hi = g.members, g.hi_rows
    else:
        parts = _routed(members, "node", g.partitions)
        hi = [None] * g.partitions
    node_sides = [
        _calls.delayed(_node_side, nout=3)(m, n, h, selected, g.partitions, inputs_ok)
        for m, n, h in zip(parts, g.nodes, hi, strict=True)
    ]
    partials = _by_partition([s[0] for s in node_sides], g.partitions)
    cluster_sides = [_calls.delayed(_stages.cluster_side, nout=3)(p, g.partitions)
                     for p in partials]
    return Clustering(node_sides, cluster_sides)


def coverage(g: Graph, c: Clustering) -> list[Any]:
    singles = _by_partition([s[1] for s in c.cluster_sides], g.partitions)
    return [_calls.delayed(_stages.covered)(s[1], single)
            for s, single in zip(c.node_sides, singles, strict=True)]
