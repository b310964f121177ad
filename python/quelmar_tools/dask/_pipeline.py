"""The task graph: which steps send rows to which, and how partitions line up.

    edge blocks --by lo--> lo_side --hi rows, by hi--> joined_side
    membership blocks --by node--> lo_side (the lines pass on) --^
    joined_side partials --by cluster--> cluster_side --singles, by node-->
    covered (with joined_side's per-node counts)

joined_side is degrees then node_side in one task; a clustering other than
the graph's own (size_diff's) gets a node_side of its own beside degrees.
Rows move as pieces (_stages): a sending task returns one piece per
partition, one small task per (sender, partition) picks a piece out, and
the receiving task reads its pieces in the senders' order. Every
routing uses the same partition count and the same rule (partition_of in
partition_joins.h), so partition i of each node-keyed step holds the same
nodes and the steps join locally; the rule is this package's own, so no
assumption about how Dask places rows is needed.
"""

from __future__ import annotations

import operator
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Sequence

import numpy as np

from quelmar_tools.dask import _calls, _parsing, _stages
from quelmar_tools.dask._plan import PARQUET_ROW_BYTES, Plan
from quelmar_tools.dask._scramble import scramble

if TYPE_CHECKING:  # frames only for Dask's shuffle: rows moved in memory never load pandas
    import dask.dataframe as dd
    import pandas as pd


def _metas(names: Sequence[str]) -> list[pd.DataFrame]:
    """The frames' columns of _frames, by name (loading pandas)."""
    from quelmar_tools.dask import _frames

    return [getattr(_frames, n) for n in names]


@dataclass
class Input:
    """Parsed input files: one Delayed value per parsing task (its rows, one
    array per column), and per parsing task None or the message of its first
    bad line, in file order."""

    parts: list[Any]
    failures: list[Any]
    kind: _parsing.Kind
    routed: bool = False  # each part is already one piece per partition, by its first column

    @property
    def columns(self) -> tuple[str, ...]:
        return ("lo", "hi") if self.kind == "edges" else ("node", "cluster", "pos")

    @property
    def meta(self) -> pd.DataFrame:
        return _metas(["EDGE_META" if self.kind == "edges" else "MEMBER_META"])[0]

    @property
    def frame(self) -> dd.DataFrame:
        from quelmar_tools.dask import _frames

        as_frame = _calls.delayed(_frames.as_frame)
        return _calls.from_delayed([as_frame(p, self.meta) for p in self.parts], self.meta)


def read(paths: list[str], kind: _parsing.Kind, plan: Plan, routed: bool = False) -> Input:
    """The parsing tasks; routed: text moved in memory is parsed straight
    into pieces for the first move (the reader then goes through _routed)."""
    if _parsing.is_parquet(paths):
        rows = max(1, plan.block_bytes // PARQUET_ROW_BYTES)
        pieces: list[Any] = _parsing.row_groups(paths, rows)
        parse: Any = _parsing.read_row_groups
        routed = False
    else:
        pieces, parse = _parsing.blocks(paths, plan.block_bytes), _parsing.parse_block
        routed = routed and _in_memory(plan)
    if routed:
        parsed = [_calls.delayed(_parsing.parse_routed, nout=2)(piece, kind, plan.partitions)
                  for piece in pieces]
    else:
        parsed = [_calls.delayed(parse, nout=2)(piece, kind) for piece in pieces]
    if not parsed:
        return Input([_calls.constant(_parsing.no_rows(kind))], [], kind)
    return Input([p[0] for p in parsed], [p[1] for p in parsed], kind, routed)


def checked(*inputs: Input) -> Any:
    """A task that raises the first bad line of the inputs, in the order
    given; the first step that sees each input takes it, so every task that
    fails for bad input fails with this one error."""
    return _calls.delayed(_parsing.raise_first)(*(f for i in inputs for f in i.failures))


def _by_partition(tasks: _calls.TaskGraph, label: str, senders: Sequence[Any],
                  partitions: int) -> list[list[Any]]:
    """Per partition, the piece each sender (a task returning one piece per
    partition) has for it."""
    return [[tasks.take(label, (s, p), _stages.piece, sender, p)
             for s, sender in enumerate(senders)] for p in range(partitions)]


def _items(tasks: _calls.TaskGraph, label: str, results: Sequence[Any], item: int) -> list[Any]:
    return [tasks.take(label, i, operator.getitem, r, item) for i, r in enumerate(results)]


def _in_memory(plan: Plan) -> bool:
    """Whether rows move as pieces held in worker memory, or through Dask's
    shuffle (P2P passes them through disk when the workers' memory is short;
    it keeps no row order, so the hi-side rows then carry lo)."""
    return plan.shuffle_method == "tasks"


def _shuffled(tasks: _calls.TaskGraph, label: str, frames: Sequence[Sequence[Any]],
              metas: Sequence[pd.DataFrame], column: str, plan: Plan) -> list[Any]:
    """Per partition, the rows of every frame list (one Delayed frame per
    sender) shuffled by column, as the one piece a receiver reads."""
    from quelmar_tools.dask import _frames

    parts = [_calls.hash_shuffled(_calls.from_delayed(list(f), meta), column, plan.partitions,
                                  plan.shuffle_method)
             for f, meta in zip(frames, metas, strict=True)]
    return [tasks.task(label, p, _frames.received, *received)
            for p, received in enumerate(zip(*parts, strict=True))]


def _moved(tasks: _calls.TaskGraph, label: str, senders: Sequence[Any], plan: Plan,
           metas: Sequence[str], column: str) -> list[Any]:
    """Per partition, what the senders' rows bound there become for their
    receiver: a list of pieces. metas: the columns of the pieces, as one or
    more frames of _frames (by name) for Dask's shuffle, each keyed by
    column."""
    if _in_memory(plan):
        return _by_partition(tasks, f"{label}-piece", senders, plan.partitions)
    from quelmar_tools.dask import _frames

    frames: list[list[Any]] = []
    first = 0
    for meta in _metas(metas):
        frames.append([tasks.delayed(tasks.task(f"{label}-frame{first}", i, _frames.sent, s,
                                                meta, first)) for i, s in enumerate(senders)])
        first += len(meta.columns)
    return _shuffled(tasks, f"{label}-received", frames, _metas(metas), column, plan)


def _routed(tasks: _calls.TaskGraph, rows: Input, key: str, plan: Plan,
            label: str) -> list[Any]:
    if not _in_memory(plan):
        from quelmar_tools.dask import _frames

        frames = [tasks.delayed(tasks.task(f"{label}-frame", i, _frames.as_frame, part,
                                           rows.meta)) for i, part in enumerate(rows.parts)]
        return _shuffled(tasks, f"{label}-received", [frames], [rows.meta], key, plan)
    column = rows.columns.index(key)
    assert column == 0 or not rows.routed  # parse_routed routes by the first column
    senders = rows.parts if rows.routed else [
        tasks.task(f"route-{label}", i, _stages.routed, part, column, plan.partitions)
        for i, part in enumerate(rows.parts)]
    return _by_partition(tasks, f"{label}-piece", senders, plan.partitions)


def selection(ids: Sequence[int] | None) -> np.ndarray | None:
    if ids is None:
        return None
    values = np.array([int(i) for i in ids], dtype=np.uint64)
    return np.unique(scramble(values))


@dataclass
class Graph:
    """Keys of the per-node-partition parts of the graph, in `tasks`."""

    tasks: _calls.TaskGraph
    plan: Plan
    nodes: list[Any] | None  # degrees' node columns, when no clustering was joined
    joined: list[Any] | None  # joined_side per partition, when a clustering was joined
    totals: list[Any]  # (nodes, degree sum) per partition

    @property
    def partitions(self) -> int:
        return self.plan.partitions

    @property
    def routes(self) -> int:
        """The partitions the joins route their outputs over: all of them, or
        one when Dask's shuffle moves the rows."""
        return self.plan.partitions if _in_memory(self.plan) else 1


@dataclass
class Clustering:
    """Keys of one clustering joined with the graph: per partition, the
    node_side parts (partials, coverage, links) and cluster_side parts
    (counts, singles, unresolved)."""

    coverage: list[Any]
    links: list[Any]
    counts: list[Any]
    singles: list[Any]
    unresolved: list[Any]


def graph(edges: Input, members: Input | None, selected: Any, plan: Plan,
          inputs_ok: Any) -> Graph:
    """The graph's nodes and degrees; with members, the clustering's
    node-side joins in the same step (joined_side)."""
    tasks = _calls.TaskGraph("quelmar")
    g = Graph(tasks, plan, None, None, [])
    edge_parts = _routed(tasks, edges, "lo", plan, "edges")
    member_parts: list[Any] = (_routed(tasks, members, "node", plan, "members")
                               if members is not None else [None] * plan.partitions)
    lo_sides = [tasks.task("lo_side", i, _stages.checked_lo_side, e, m, selected, g.routes,
                           not _in_memory(plan), inputs_ok)
                for i, (e, m) in enumerate(zip(edge_parts, member_parts, strict=True))]
    hi_parts = _moved(tasks, "hi", _items(tasks, "hi-rows", lo_sides, 1), plan,
                      ["HI_META"], "hi")
    lo_nodes = _items(tasks, "lo-nodes", lo_sides, 0)
    if members is None:
        g.nodes = [tasks.task("degrees", i, _stages.degrees, n, h)
                   for i, (n, h) in enumerate(zip(lo_nodes, hi_parts, strict=True))]
        g.totals = [tasks.task("graph_totals", i, _stages.graph_totals, n)
                    for i, n in enumerate(g.nodes)]
        return g
    lines = _items(tasks, "lines", lo_sides, 2)
    g.joined = [tasks.task("joined_side", i, _stages.joined_side, n, h, m, selected, g.routes)
                for i, (n, h, m) in enumerate(zip(lo_nodes, hi_parts, lines, strict=True))]
    g.totals = _items(tasks, "graph_totals", g.joined, 3)
    return g


def clustering(g: Graph, members: Input | None, selected: Any, inputs_ok: Any,
               label: str = "") -> Clustering:
    """The clustering joined with the graph: the one joined when the graph was
    built (members None; its internal edges are counted), or another one
    (sizes only, label telling its tasks apart)."""
    tasks = g.tasks
    if members is None:
        assert g.joined is not None
        node_sides = g.joined
    else:
        assert g.nodes is not None
        parts = _routed(tasks, members, "node", g.plan, f"members{label}")
        node_sides = [
            tasks.task(f"node_side{label}", i, _stages.checked_node_side, m, n, selected,
                       g.routes, inputs_ok)
            for i, (m, n) in enumerate(zip(parts, g.nodes, strict=True))
        ]
    partials = _moved(tasks, f"partial{label}", _items(tasks, f"partials{label}", node_sides, 0),
                      g.plan, ["PARTIAL_META", "UNKNOWN_META"], "cluster")
    cluster_sides = [tasks.task(f"cluster_side{label}", i, _stages.cluster_side, p, g.routes)
                     for i, p in enumerate(partials)]
    return Clustering(_items(tasks, f"coverage{label}", node_sides, 1),
                      _items(tasks, f"links{label}", node_sides, 2),
                      _items(tasks, f"counts{label}", cluster_sides, 0),
                      _items(tasks, f"singles{label}", cluster_sides, 1),
                      _items(tasks, f"unresolved{label}", cluster_sides, 2))


def coverage(g: Graph, c: Clustering) -> list[Any]:
    singles = _moved(g.tasks, "single", c.singles, g.plan, ["SINGLE_META"], "node")
    return [g.tasks.task("covered", i, _stages.covered, s, single)
            for i, (s, single) in enumerate(zip(c.coverage, singles, strict=True))]
