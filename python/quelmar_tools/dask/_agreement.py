"""The agreement of two clusterings on Dask: the contingency as a join of
the two membership tables on node, then a count per (a, b) pair; the
measures and match tables from the counted cells, natively.

    edge blocks -> distinct ends per block --shuffle by node--> graph nodes
    memberships a, b --shuffle by node--> known, distinct memberships
        -> cluster sizes (one reduction: clusters of one member are dropped,
           as loading does, and the selection applied)
        -> per node partition: pair counts, the nodes a side leaves
           uncovered, overlap witnesses -> one task that numbers the
           clusters and sorts the cells

Edges only give the node set: each parsing block keeps its distinct ends
before the shuffle, so the shuffle moves far fewer rows than the edges.
Without edges, the node set is the nodes either side names, read from the
memberships already shuffled by node.
Cluster ids are ordered and named unscrambled; the singletons of the
"singletons" policy are numbered in ascending order of node name.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Sequence

import numpy as np
import numpy.typing as npt
import pandas as pd

from quelmar_tools import _native, agreement
from quelmar_tools.integers import U64
from quelmar_tools.dask import _calls, _frames, _parsing, _pipeline, _plan
from quelmar_tools.dask._scramble import unscramble

NODE_META = pd.DataFrame({"node": np.array([], np.uint64)})
TABLE_META = pd.DataFrame(
    {"match": pd.array([], dtype="UInt64"), "intersection": np.array([], np.uint64)}
    | {k: np.array([], np.float64) for k in ("jaccard", "precision", "recall", "f1")},
    index=pd.Index(np.array([], np.uint64), name="id"))


@dataclass
class Cells:
    """A contingency counted on the cluster, as compare_cells takes it."""

    universe: int
    a_ids: U64
    a_sizes: U64
    a_overlap: tuple[int, int, int] | None
    b_ids: U64
    b_sizes: U64
    b_overlap: tuple[int, int, int] | None
    cell_a: U64
    cell_b: U64
    cell_count: U64

    def arguments(self) -> dict[str, Any]:
        return {"universe": self.universe, "a_ids": self.a_ids, "a_sizes": self.a_sizes,
                "a_overlap": self.a_overlap, "b_ids": self.b_ids, "b_sizes": self.b_sizes,
                "b_overlap": self.b_overlap, "cell_a": self.cell_a, "cell_b": self.cell_b,
                "cell_count": self.cell_count}


def _distinct(values: U64) -> U64:
    """The distinct values, ascending (by sorting: numpy's hashing unique is
    many times slower on scrambled names)."""
    ordered = np.sort(values)
    return ordered[np.r_[True, ordered[1:] != ordered[:-1]]] if ordered.size else ordered


def _ends(edges: pd.DataFrame) -> pd.DataFrame:
    both = np.concatenate([edges["lo"].to_numpy(np.uint64), edges["hi"].to_numpy(np.uint64)])
    return _frames.frame({"node": _distinct(both)})


def _known(members: pd.DataFrame, nodes: pd.DataFrame, _inputs_ok: None) -> pd.DataFrame:
    """Memberships of graph nodes, each (node, cluster) once, as loading keeps them."""
    node = members["node"].to_numpy(np.uint64)
    cluster = members["cluster"].to_numpy(np.uint64)
    keep = _within(node, nodes["node"].to_numpy(np.uint64))
    known = _frames.frame({"node": node[keep], "cluster": cluster[keep]})
    return known.drop_duplicates(ignore_index=True)


def _sizes(known: pd.DataFrame) -> pd.Series:
    return known["cluster"].value_counts(sort=False)


def _compared(sizes: Sequence[pd.Series], selected: U64 | None) -> U64:
    """The compared clusters (scrambled, sorted): those of two members or more,
    as loading keeps them, within the selection."""
    total = pd.concat(list(sizes)).groupby(level=0).sum()  # one part per node partition
    kept = np.sort(total.index.to_numpy(np.uint64)[total.to_numpy() >= 2])
    return kept if selected is None else np.intersect1d(kept, selected, assume_unique=True)


def _within(values: U64, members: U64) -> npt.NDArray[np.bool_]:
    """Whether each value is one of `members` (by hashing: a binary search
    per value misses the cache at every step on millions of names)."""
    found: npt.NDArray[np.bool_] = pd.Series(values, copy=False).isin(members).to_numpy()
    return found


def _overlap(node: U64, cluster: U64) -> tuple[int, int, int] | None:
    """The smallest node (by name) in two clusters, and its two smallest ids."""
    ordered = np.sort(node)
    shared = _distinct(ordered[1:][ordered[1:] == ordered[:-1]])
    if not shared.size:
        return None
    plain = unscramble(shared)
    witness = shared[np.argmin(plain)]
    ids = np.sort(unscramble(cluster[node == witness]))
    return int(plain.min()), int(ids[0]), int(ids[1])


@dataclass
class Part:
    """One node partition's share of the contingency (scrambled ids, plain
    node names)."""

    universe: int
    pairs: pd.DataFrame  # a, b, count: nodes both sides cover
    a_alone: pd.DataFrame  # a, node: nodes only a covers
    b_alone: pd.DataFrame  # node, b: nodes only b covers
    neither: U64  # nodes neither covers
    a_sizes: pd.Series
    b_sizes: pd.Series
    a_overlap: tuple[int, int, int] | None
    b_overlap: tuple[int, int, int] | None


def _part(nodes: pd.DataFrame, a: pd.DataFrame, b: pd.DataFrame, a_kept: U64, b_kept: U64,
          uncovered: str) -> Part:
    a = a[_within(a["cluster"].to_numpy(np.uint64), a_kept)]
    b = b[_within(b["cluster"].to_numpy(np.uint64), b_kept)]
    a_nodes = _distinct(a["node"].to_numpy(np.uint64))
    b_nodes = _distinct(b["node"].to_numpy(np.uint64))
    if uncovered == "drop":
        universe_nodes = np.intersect1d(a_nodes, b_nodes, assume_unique=True)
        a = a[_within(a["node"].to_numpy(np.uint64), universe_nodes)]
        b = b[_within(b["node"].to_numpy(np.uint64), universe_nodes)]
        a_nodes = b_nodes = universe_nodes
        alone = np.zeros(0, np.uint64)
        a_alone = a.iloc[:0]
        b_alone = b.iloc[:0]
        neither = alone
    else:
        universe_nodes = nodes["node"].to_numpy(np.uint64)
        a_alone = a[~_within(a["node"].to_numpy(np.uint64), b_nodes)]
        b_alone = b[~_within(b["node"].to_numpy(np.uint64), a_nodes)]
        covered = _distinct(np.concatenate([a_nodes, b_nodes]))
        neither = unscramble(universe_nodes[~_within(universe_nodes, covered)])
    pairs = a.merge(b, on="node", suffixes=("_a", "_b"))
    counted = pairs.groupby(["cluster_a", "cluster_b"], sort=False).size()
    return Part(
        universe=int(universe_nodes.size),
        pairs=_frames.frame({"a": counted.index.get_level_values(0).to_numpy(np.uint64),
                             "b": counted.index.get_level_values(1).to_numpy(np.uint64),
                             "count": counted.to_numpy(np.uint64)}),
        a_alone=_frames.frame({"a": a_alone["cluster"].to_numpy(np.uint64),
                               "node": unscramble(a_alone["node"].to_numpy(np.uint64))}),
        b_alone=_frames.frame({"node": unscramble(b_alone["node"].to_numpy(np.uint64)),
                               "b": b_alone["cluster"].to_numpy(np.uint64)}),
        neither=neither,
        a_sizes=_sizes(a), b_sizes=_sizes(b),
        a_overlap=_overlap(a["node"].to_numpy(np.uint64), a["cluster"].to_numpy(np.uint64)),
        b_overlap=_overlap(b["node"].to_numpy(np.uint64), b["cluster"].to_numpy(np.uint64)))


def _numbering(kept: U64) -> tuple[U64, U64, U64]:
    """Plain ids ascending, and the scrambled ids sorted with their index."""
    plain = unscramble(kept)
    order = np.argsort(plain, kind="stable")
    index = np.empty(kept.size, np.uint64)
    index[order] = np.arange(kept.size, dtype=np.uint64)
    return plain[order], kept, index  # kept is sorted, index[i] numbers kept[i]


def _index_of(scrambled: U64, kept: U64, index: U64) -> U64:
    return index[np.searchsorted(kept, scrambled)]


def _witness(found: list[tuple[int, int, int] | None]) -> tuple[int, int, int] | None:
    present = [w for w in found if w is not None]
    return min(present) if present else None


def cells(parts: Sequence[Part], a_kept: U64, b_kept: U64) -> Cells:
    """The parts' cells, numbered as the library numbers effective clusters:
    real clusters by ascending id, then one singleton per node a side leaves
    uncovered (ascending node name); summed over partitions and sorted."""
    a_ids, a_sorted, a_index = _numbering(a_kept)
    b_ids, b_sorted, b_index = _numbering(b_kept)
    pairs = pd.concat([p.pairs for p in parts], ignore_index=True)
    a_alone = pd.concat([p.a_alone for p in parts], ignore_index=True)
    b_alone = pd.concat([p.b_alone for p in parts], ignore_index=True)
    neither = np.concatenate([p.neither for p in parts] + [np.zeros(0, np.uint64)])
    # Singletons: a side's uncovered universe nodes.
    a_lone = _distinct(np.concatenate([b_alone["node"].to_numpy(np.uint64), neither]))
    b_lone = _distinct(np.concatenate([a_alone["node"].to_numpy(np.uint64), neither]))
    a_real, b_real = np.uint64(a_ids.size), np.uint64(b_ids.size)
    columns = [
        (_index_of(pairs["a"].to_numpy(np.uint64), a_sorted, a_index),
         _index_of(pairs["b"].to_numpy(np.uint64), b_sorted, b_index),
         pairs["count"].to_numpy(np.uint64)),
        (_index_of(a_alone["a"].to_numpy(np.uint64), a_sorted, a_index),
         b_real + np.searchsorted(b_lone, a_alone["node"].to_numpy(np.uint64)).astype(np.uint64),
         np.ones(len(a_alone), np.uint64)),
        (a_real + np.searchsorted(a_lone, b_alone["node"].to_numpy(np.uint64)).astype(np.uint64),
         _index_of(b_alone["b"].to_numpy(np.uint64), b_sorted, b_index),
         np.ones(len(b_alone), np.uint64)),
        (a_real + np.searchsorted(a_lone, neither).astype(np.uint64),
         b_real + np.searchsorted(b_lone, neither).astype(np.uint64),
         np.ones(neither.size, np.uint64)),
    ]
    cell_a, cell_b, count = (np.concatenate([c[i] for c in columns]) for i in range(3))
    order = np.lexsort((cell_b, cell_a))
    cell_a, cell_b, count = cell_a[order], cell_b[order], count[order]
    if cell_a.size:
        starts = np.flatnonzero(np.r_[True, (cell_a[1:] != cell_a[:-1])
                                      | (cell_b[1:] != cell_b[:-1])])
        cell_a, cell_b = cell_a[starts], cell_b[starts]
        count = np.add.reduceat(count, starts).astype(np.uint64)

    def sizes(series: list[pd.Series], kept: U64, index: U64, lone: U64) -> U64:
        real = np.zeros(kept.size, np.uint64)
        frames = [s for s in series if len(s)]
        if frames:
            total = pd.concat(frames).groupby(level=0).sum()
            real[_index_of(total.index.to_numpy(np.uint64), kept, index)] = \
                total.to_numpy(np.uint64)
        return np.concatenate([real, np.ones(lone.size, np.uint64)])

    return Cells(
        universe=sum(p.universe for p in parts),
        a_ids=a_ids, a_sizes=sizes([p.a_sizes for p in parts], a_sorted, a_index, a_lone),
        a_overlap=_witness([p.a_overlap for p in parts]),
        b_ids=b_ids, b_sizes=sizes([p.b_sizes for p in parts], b_sorted, b_index, b_lone),
        b_overlap=_witness([p.b_overlap for p in parts]),
        cell_a=cell_a, cell_b=cell_b, cell_count=count)


def planned(clustering_a: _parsing.Source, clustering_b: _parsing.Source,
            edges: _parsing.Source | None, ids: Sequence[int] | None,
            other_ids: Sequence[int] | None, uncovered: str, options: _plan.Options,
            client: Any) -> Any:
    """A Delayed of the Cells of the two clusterings: of the graph `edges`,
    or without it of the graph whose nodes are those either side names."""
    _native.check_uncovered(uncovered)
    edge_paths = [] if edges is None else _parsing.expand(edges)
    a_paths, b_paths = _parsing.expand(clustering_a), _parsing.expand(clustering_b)
    plan = _plan.plan(options, edge_paths, [a_paths, b_paths], client)
    partitions, method = plan.partitions, plan.shuffle_method
    a_input = _pipeline.read(a_paths, "clustering", plan)
    b_input = _pipeline.read(b_paths, "clustering", plan)
    a_parts = _calls.hash_shuffled(a_input.frame, "node", partitions, method)
    b_parts = _calls.hash_shuffled(b_input.frame, "node", partitions, method)
    if edges is None:
        inputs_ok = _pipeline.checked(a_input, b_input)
        # Both sides are shuffled by node alike: partition i of each names
        # the nodes of partition i.
        nodes = [_calls.delayed(_named_nodes)(a, b) for a, b in zip(a_parts, b_parts, strict=True)]
    else:
        edge_input = _pipeline.read(edge_paths, "edges", plan)
        inputs_ok = _pipeline.checked(edge_input, a_input, b_input)
        ends = _calls.from_delayed([_calls.delayed(_ends)(p)
                                    for p in _calls.parts(edge_input.frame)], NODE_META)
        nodes = [_calls.delayed(_distinct_nodes)(p)
                 for p in _calls.hash_shuffled(ends, "node", partitions, method)]
    a_known = [_calls.delayed(_known)(m, n, inputs_ok) for m, n in zip(a_parts, nodes, strict=True)]
    b_known = [_calls.delayed(_known)(m, n, inputs_ok) for m, n in zip(b_parts, nodes, strict=True)]
    a_kept = _calls.delayed(_compared)([_calls.delayed(_sizes)(k) for k in a_known],
                                       _calls.constant(_pipeline.selection(ids)))
    b_kept = _calls.delayed(_compared)([_calls.delayed(_sizes)(k) for k in b_known],
                                       _calls.constant(_pipeline.selection(other_ids)))
    parts = [_calls.delayed(_part)(n, a, b, a_kept, b_kept, uncovered)
             for n, a, b in zip(nodes, a_known, b_known, strict=True)]
    return _calls.delayed(cells)(parts, a_kept, b_kept)


def _named_nodes(a: pd.DataFrame, b: pd.DataFrame) -> pd.DataFrame:
    """The nodes the memberships of either side name, each once."""
    both = np.concatenate([a["node"].to_numpy(np.uint64), b["node"].to_numpy(np.uint64)])
    return _frames.frame({"node": _distinct(both)})


def _distinct_nodes(ends: pd.DataFrame) -> pd.DataFrame:
    return _frames.frame({"node": _distinct(ends["node"].to_numpy(np.uint64))})


def measures(counted: Cells, names: list[str], apt_only: bool) -> dict[str, float]:
    result: dict[str, float] = _native.compare_cells(**counted.arguments(), names=names,
                                                           only_where_apt=apt_only)
    return result


def table(counted: Cells, reverse: bool) -> pd.DataFrame:
    columns = _native.match_cells(**counted.arguments(), reverse=bool(reverse))
    return agreement.table_frame(columns)
