"""Well-connected clusters: every cluster cut along minimum cuts until each
piece left is connected enough for its size, exactly, on the native worker
pool; optionally with each side of a cut clustered again by a method of the
caller's choice."""

from __future__ import annotations

import math
import re
from collections.abc import Collection, Iterable
from dataclasses import dataclass
from typing import Any, Callable, Optional, Union

import numpy as np
import numpy.typing as npt
import pandas as pd

import quelmar
from quelmar_tools import _native
from quelmar_tools.integers import U64, as_integer, to_uint64
from quelmar_tools.table import Ids, cluster_counts

#: t(n): a piece of n members is well connected when its edge connectivity
#: exceeds t(n).
Criterion = Union[str, Callable[[int], float]]
#: recluster(edges, nodes): the side's edges as a (k, 2) uint64 array of
#: node names and its nodes as a uint64 array; returns disjoint collections
#: of node names.
Recluster = Callable[[U64, U64], Iterable[Collection[int]]]
FloatArray = npt.NDArray[np.float64]

REPORT_COLUMNS = ("n", "clusters", "kept", "cuts", "well_connected")

_NUMBER = r"(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][+-]?\d+)?"
_TERM = re.compile(rf"(?P<coefficient>{_NUMBER})?\*?"
                   rf"(?:(?P<log>log10|log2)|n\^(?P<power>[+-]?{_NUMBER}))?")
_NEVER = np.iinfo(np.uint64).max


@dataclass(frozen=True)
class Refinement:
    """The outcome of well_connected: the output clusters, their origins and a report.

    A frozen record: each field below is an attribute of the same name.

    Parameters
    ----------
    clustering : quelmar.Clustering
        The output clusters, on the same graph as the input.
    origin : pandas.Series
        From each output cluster id to the id of the input cluster it came
        from (both uint64).
    report : pandas.DataFrame
        One row per input cluster, indexed by its id (``id``): ``n`` (its
        size), ``clusters`` (outputs from it), ``kept`` (members in those),
        ``cuts`` (minimum cuts applied) and ``well_connected`` (it came out
        unchanged, as one output of the same members).

    Examples
    --------
    >>> import networkx as nx, quelmar_tools
    >>> two = nx.disjoint_union(nx.complete_graph(12), nx.complete_graph(12))
    >>> two.add_edge(0, 12)
    >>> graph = quelmar_tools.graph_from(two)
    >>> clusters = quelmar_tools.clustering_from(graph, {5: range(24)})
    >>> refined = quelmar_tools.well_connected(clusters)
    >>> refined.origin.to_dict()
    {0: 5, 1: 5}
    >>> quelmar_tools.memberships(refined.clustering).groupby("cluster").size().tolist()
    [12, 12]
    """

    clustering: quelmar.Clustering
    origin: pd.Series
    report: pd.DataFrame


def parse_criterion(text: str) -> Callable[[FloatArray], FloatArray]:
    """The function t(n) that a criterion string names, over arrays of
    sizes.

    Parameters
    ----------
    text : str
        A sum of terms joined by ``+``: a constant (``2``), ``a log10`` and
        ``a log2`` (``log10``, ``2log10``), ``a n^b`` (``0.1n^0.5``). A
        coefficient left out is 1; spaces are ignored.

    Returns
    -------
    callable
        t, taking and returning float64 arrays.

    Raises
    ------
    ValueError
        When `text` is not such a sum, naming it and the term that is not.

    Examples
    --------
    >>> import numpy as np
    >>> parse_criterion("log10+1")(np.array([100.0]))
    array([3.])
    """
    terms: list[tuple[float, Optional[str], float]] = []
    compact = re.sub(r"\s+", "", text)
    for term in compact.split("+"):
        match = _TERM.fullmatch(term)
        if not term or match is None or not (match["coefficient"] or match["log"]
                                             or match["power"]):
            raise ValueError(f"criterion {text!r}: cannot read the term {term!r}; a criterion "
                             "is a sum of terms c, a log10, a log2 and a n^b")
        coefficient = float(match["coefficient"]) if match["coefficient"] else 1.0
        power = float(match["power"]) if match["power"] is not None else 0.0
        kind = match["log"] or ("power" if match["power"] is not None else None)
        terms.append((coefficient, kind, power))

    def threshold(n: FloatArray) -> FloatArray:
        total = np.zeros(len(n), dtype=np.float64)
        for coefficient, kind, power in terms:
            if kind == "log10":
                total += coefficient * np.log10(n)
            elif kind == "log2":
                total += coefficient * np.log2(n)
            elif kind == "power":
                total += coefficient * np.power(n, power)
            else:
                total += coefficient
        return total

    return threshold


def criterion_values(criterion: Criterion, sizes: FloatArray) -> FloatArray:
    """t(n) for every size in `sizes`.

    Parameters
    ----------
    criterion : str or callable
        A criterion string (parse_criterion) or t(n) itself, called once per
        size with an int.
    sizes : numpy.ndarray
        float64 sizes, whole numbers.

    Returns
    -------
    numpy.ndarray
        float64, one entry per size.

    Raises
    ------
    ValueError
        For a criterion string that cannot be read.
    TypeError
        For a criterion that is neither a str nor callable.

    Examples
    --------
    >>> import numpy as np
    >>> criterion_values(lambda n: n / 2, np.array([4.0, 6.0])).tolist()
    [2.0, 3.0]
    """
    if isinstance(criterion, str):
        return parse_criterion(criterion)(sizes)
    if callable(criterion):
        return np.array([float(criterion(int(n))) for n in sizes], dtype=np.float64)
    raise TypeError(f"criterion must be a str or a callable, got "
                    f"{type(criterion).__name__} {criterion!r}")


def checked_min_size(min_size: int) -> int:
    """`min_size` as an int, checked to be at least 2 (a piece of one member
    has no cut).

    Parameters
    ----------
    min_size : int
        The fewest members an output cluster may have.

    Returns
    -------
    int
        The same value.

    Raises
    ------
    ValueError
        When it is below 2, naming it.
    TypeError
        When it is not an integer.

    Examples
    --------
    >>> checked_min_size(11)
    11
    """
    size_floor = as_integer(min_size, "min_size")
    if size_floor < 2:
        raise ValueError(f"min_size must be at least 2, got {size_floor}")
    return size_floor


def least_connectivity(criterion: Criterion, min_size: int, largest: int) -> U64:
    """For every size n from `min_size` to `largest`, the least edge
    connectivity λ with λ > t(n): floor(t(n)) + 1, 0 when t(n) is below 0 or
    -inf, and the largest uint64 (never) when t(n) is +inf or NaN.

    Parameters
    ----------
    criterion : str or callable
        A criterion string (parse_criterion) or t(n) itself, called once per
        size with an int.
    min_size, largest : int
        The range of sizes, both included; none when largest < min_size.

    Returns
    -------
    numpy.ndarray
        uint64, one entry per size.

    Raises
    ------
    ValueError
        For a criterion string that cannot be read.
    TypeError
        For a criterion that is neither a str nor callable.

    Examples
    --------
    >>> least_connectivity("log10", 9, 11).tolist()
    [1, 2, 2]
    """
    sizes = np.arange(min_size, max(largest, min_size - 1) + 1, dtype=np.float64)
    values = criterion_values(criterion, sizes)
    least = np.full(len(values), _NEVER, dtype=np.uint64)
    # Beyond 2**62 no piece can pass (λ is below 2**32): never.
    below = ~np.isnan(values) & (values < 2.0 ** 62)
    floors = np.floor(values[below])
    least[below] = np.where(floors < 0, 0, floors + 1).astype(np.uint64)
    return least


def well_connected(clustering: quelmar.Clustering, *, criterion: Criterion = "log10",
                   min_size: int = 11, ids: Optional[Ids] = None,
                   recluster: Optional[Recluster] = None) -> Refinement:
    """Cut every cluster along minimum cuts until every piece is well connected.

    Each selected cluster is processed on its own (overlapping clusters
    independently), starting as one piece. A piece of fewer than `min_size`
    members is dropped; a disconnected one (self-loops aside) is replaced by
    its connected components; otherwise its exact edge connectivity λ is
    computed, and it is an output cluster when λ > t(n) for its n members,
    else it is split along one minimum cut (the most balanced one found) and
    each side goes on as a piece. With `recluster`, each side is handed to
    it instead and every collection it returns goes on as a piece.

    Parameters
    ----------
    clustering : quelmar.Clustering
        The clusters, packed against their graph.
    criterion : str or callable, default "log10"
        t(n): a sum of terms such as ``"log10"``, ``"2log10+1"``,
        ``"0.1n^0.5"`` (parse_criterion), or a callable from size to float.
        NaN and +inf pass no piece.
    min_size : int, default 11
        The fewest members an output cluster may have; at least 2.
    ids : iterable of int, optional
        Only these clusters, as ``select_in`` takes them; all by default.
    recluster : callable, optional
        ``recluster(edges, nodes)`` for each side of a cut: `edges` a (k, 2)
        uint64 array of node names (the side's induced edges, self-loops
        left out), `nodes` a uint64 array of its names. It returns an
        iterable of disjoint collections of those names; an empty one drops
        the side.

    Returns
    -------
    Refinement
        The output clustering (ids 0, 1, 2, ... in the order of their input
        cluster's id, then of their smallest member name), each output's
        origin and the per-input report.

    Raises
    ------
    ValueError
        For a criterion string that cannot be read, `min_size` below 2, or
        a collection from `recluster` naming a node outside its side or a
        node another collection names.
    TypeError
        For arguments of the wrong type.
    KeyboardInterrupt
        When Ctrl-C stops the pass (within a second).

    Examples
    --------
    >>> import networkx as nx, quelmar_tools
    >>> two = nx.disjoint_union(nx.complete_graph(12), nx.complete_graph(12))
    >>> two.add_edge(0, 12)
    >>> graph = quelmar_tools.graph_from(two)
    >>> clusters = quelmar_tools.clustering_from(graph, [range(24)])
    >>> refined = quelmar_tools.well_connected(clusters)
    >>> refined.report[["n", "clusters", "kept", "cuts", "well_connected"]].values.tolist()
    [[24, 2, 24, 1, False]]
    """
    if not isinstance(clustering, quelmar.Clustering):
        raise TypeError(f"expected a quelmar.Clustering, got {type(clustering).__name__}")
    size_floor = checked_min_size(min_size)
    wanted = None
    if ids is not None:
        values = ids if isinstance(ids, np.ndarray) else list(ids)
        wanted = np.ascontiguousarray(np.unique(to_uint64(values, "cluster id").ravel()))
    keys, counts = cluster_counts(clustering, wanted)
    sizes = counts[0]
    largest = int(sizes.max()) if len(sizes) else 0
    least = least_connectivity(criterion, size_floor, largest)

    out = _Collected(len(keys))
    # The first column is the inputs' ids, which keys already holds.
    columns = _arrays(_native.well_connected(clustering, wanted, size_floor, least,
                                             recluster is not None))[1:]
    origin_of_input = np.arange(len(keys), dtype=np.int64)
    out.add(columns, origin_of_input)
    while recluster is not None:
        pieces, piece_origin = _reclustered(recluster, columns, origin_of_input)
        if not pieces:
            break
        starts = np.zeros(len(pieces) + 1, dtype=np.uint64)
        np.cumsum([len(piece) for piece in pieces], out=starts[1:])
        columns = _arrays(_native.well_connected_pieces(
            clustering, np.concatenate(pieces), starts, size_floor, least, True))
        origin_of_input = piece_origin
        out.add(columns, origin_of_input)
    return out.refinement(clustering, keys, sizes)


def _arrays(columns: tuple[bytearray, ...]) -> list[U64]:
    return [np.frombuffer(column, dtype=np.uint64) for column in columns]


class _Collected:
    """The kept pieces of every round, with the input cluster (by position)
    each came from, and the cuts per input."""

    def __init__(self, inputs: int) -> None:
        self.names: list[U64] = []
        self.starts: list[U64] = []
        self.origins: list[npt.NDArray[np.int64]] = []
        self.cuts = np.zeros(inputs, dtype=np.uint64)

    def add(self, columns: list[Any], origin_of_input: npt.NDArray[np.int64]) -> None:
        kept_inputs, kept_starts, kept_names = columns[0], columns[1], columns[2]
        cuts = columns[8]
        self.names.append(kept_names)
        self.starts.append(kept_starts)
        self.origins.append(origin_of_input[kept_inputs.astype(np.int64)])
        np.add.at(self.cuts, origin_of_input, cuts)

    def refinement(self, clustering: quelmar.Clustering, keys: U64,
                   sizes: U64) -> Refinement:
        names, lengths, origins = [], [], []
        for round_names, round_starts, round_origins in zip(self.names, self.starts,
                                                            self.origins):
            names.append(round_names)
            lengths.append(np.diff(round_starts.astype(np.int64)))
            origins.append(round_origins)
        all_names = np.concatenate(names) if names else np.empty(0, dtype=np.uint64)
        all_lengths = np.concatenate(lengths) if lengths else np.empty(0, dtype=np.int64)
        all_origins = np.concatenate(origins) if origins else np.empty(0, dtype=np.int64)
        starts = np.zeros(len(all_lengths) + 1, dtype=np.int64)
        np.cumsum(all_lengths, out=starts[1:])
        if len(self.names) > 1 and len(all_lengths):
            # Several rounds: by input, then by smallest member name.
            first = np.minimum.reduceat(all_names, starts[:-1])
            order = np.lexsort((first, all_origins))
            gather = np.concatenate([np.arange(starts[k], starts[k + 1]) for k in order])
            all_names, all_lengths, all_origins = (all_names[gather], all_lengths[order],
                                                   all_origins[order])
            np.cumsum(all_lengths, out=starts[1:])
        refined = _native.clustering_of_pieces(clustering, all_names,
                                               starts.astype(np.uint64))
        inputs = len(keys)
        clusters = np.bincount(all_origins, minlength=inputs).astype(np.uint64)
        kept = np.bincount(all_origins, weights=all_lengths, minlength=inputs).astype(np.uint64)
        index = pd.Index(keys, name="id", dtype=np.uint64)
        report = pd.DataFrame({"n": sizes, "clusters": clusters, "kept": kept, "cuts": self.cuts,
                               "well_connected": (clusters == 1) & (kept == sizes)},
                              index=index, copy=False)
        origin = pd.Series(keys[all_origins], name="origin", dtype=np.uint64,
                           index=pd.Index(np.arange(len(all_origins), dtype=np.uint64),
                                          name="id"))
        return Refinement(refined, origin, report)


def _reclustered(recluster: Recluster, columns: list[Any],
                 origin_of_input: npt.NDArray[np.int64]
                 ) -> tuple[list[U64], npt.NDArray[np.int64]]:
    """Hands every side to `recluster`; the pieces it returns, checked, with
    the input cluster each belongs to."""
    side_inputs, side_starts, side_names = columns[3], columns[4], columns[5]
    edge_starts, edges = columns[6], columns[7].reshape(-1, 2)
    pieces: list[U64] = []
    origins: list[int] = []
    for k in range(len(side_inputs)):
        nodes = side_names[side_starts[k]:side_starts[k + 1]]
        side_edges = edges[edge_starts[k]:edge_starts[k + 1]]
        collections = recluster(side_edges.copy(), nodes.copy())
        checked = _checked_collections(collections, nodes)
        pieces += checked
        origins += [int(origin_of_input[side_inputs[k]])] * len(checked)
    return pieces, np.array(origins, dtype=np.int64)


def _checked_collections(collections: Iterable[Collection[int]],
                         nodes: U64) -> list[U64]:
    side = np.sort(nodes)
    pieces = []
    for collection in collections:
        values = to_uint64(list(collection) if not isinstance(collection, np.ndarray)
                           else collection, "node name").ravel()
        piece = np.unique(values)
        at = np.searchsorted(side, piece)
        outside = (at >= len(side)) | (side[np.minimum(at, len(side) - 1)] != piece)
        if outside.any():
            raise ValueError(f"recluster returned node {int(piece[outside][0])}, which is not "
                             "in the side it was given")
        if len(piece):
            pieces.append(piece)
    if pieces:
        every = np.concatenate(pieces)
        unique, counts = np.unique(every, return_counts=True)
        if (counts > 1).any():
            raise ValueError(f"recluster returned node {int(unique[counts > 1][0])} in two "
                             "collections")
    return pieces


__all__ = ["Criterion", "Recluster", "Refinement", "checked_min_size", "criterion_values",
           "least_connectivity", "parse_criterion", "well_connected"]
