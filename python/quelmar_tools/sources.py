"""Graphs and clusterings from memory: edge arrays, tables, networkx and
igraph objects, mappings and lists of communities, or files.

Everything is built in process by the module's own native core: arrays go
to the builder the edge-list loader uses and to the clustering loader's
rules, and the results are quelmar.Graph and quelmar.Clustering objects like
those the module loads from files. Failures are ordinary exceptions: OSError
for the operating system's, ValueError for the content."""

from __future__ import annotations

import itertools
import os
import sys
from collections.abc import Iterable, Mapping, Sequence
from typing import Any, Optional

import numpy as np
import pandas as pd

import quelmar
from quelmar_tools import _native
from quelmar_tools._files import existing_file
from quelmar_tools.names import UInt64Array, as_integer, as_pairs, as_uint64

#: What graph_from accepts: a (k, 2) array-like of node names, a DataFrame
#: (first two columns), a networkx or igraph graph, or a file path.
GraphSource = Any
#: What clustering_from accepts: a mapping from cluster id to node names, a
#: sequence of node-name collections, an igraph VertexClustering or
#: VertexCover, a (node, cluster) array or DataFrame, or a file path.
ClusteringSource = Any

_RELABEL_HINT = "networkx.convert_node_labels_to_integers"


def graph_from(source: GraphSource) -> quelmar.Graph:
    """A quelmar.Graph from `source`, the same graph (same statistics) as
    loading the equivalent edge list: node ids in order of first appearance,
    repeated and reversed edges stored once, self-loops kept. Isolated nodes
    of a networkx or igraph graph are kept, after the others."""
    if isinstance(source, (str, os.PathLike)):
        return _native.load_graph(existing_file(source))
    pairs, nodes = _edges_of(source)
    return _native.graph_from_pairs(pairs, nodes)


def clustering_from(graph: quelmar.Graph, source: ClusteringSource, *,
                    cpm: Optional[float] = None) -> quelmar.Clustering:
    """A quelmar.Clustering of `graph` from `source`, under the clustering
    file's rules: clusters left with one member are dropped, and per cluster
    one node unknown to the graph is skipped (a second one is an error).
    `cpm` is the resolution of the "cpm" statistic, as for quelmar.Clustering."""
    if not isinstance(graph, quelmar.Graph):
        raise TypeError(f"expected a quelmar.Graph, got {type(graph).__name__}")
    resolution = None if cpm is None else _resolution(cpm)
    if isinstance(source, (str, os.PathLike)):
        return _native.load_clustering(graph, existing_file(source), resolution, False)
    nodes, clusters = _memberships_of(source)
    return _native.clustering_from_memberships(graph, nodes, clusters, resolution, False)


def _resolution(cpm: Any) -> float:
    if isinstance(cpm, (str, bytes)) or not hasattr(cpm, "__float__"):
        raise TypeError(f"cpm {cpm!r} is not a number")
    return float(cpm)


def _edges_of(source: Any) -> tuple[UInt64Array, Optional[UInt64Array]]:
    """The (k, 2) name pairs in edge-list order and, for graph objects, all
    node names in the object's order (those without edges come last)."""
    networkx = sys.modules.get("networkx")
    if networkx is not None and isinstance(source, networkx.Graph):
        return _networkx_edges(source)
    igraph = sys.modules.get("igraph")
    if igraph is not None and isinstance(source, igraph.Graph):
        pairs = np.array(source.get_edgelist(), dtype=np.uint64).reshape(-1, 2)
        return pairs, np.arange(source.vcount(), dtype=np.uint64)
    if isinstance(source, pd.DataFrame):
        return _two_columns(source, "node name"), None
    if isinstance(source, (bytes, Mapping, set, frozenset)) or not _array_like(source):
        raise TypeError(f"cannot make a graph from {type(source).__name__}: expected an "
                        "(k, 2) array of node names, a DataFrame, a networkx or igraph graph, "
                        "or a path")
    return as_pairs(source, "node name"), None


def _networkx_edges(graph: Any) -> tuple[UInt64Array, UInt64Array]:
    names = []
    for node in graph.nodes:
        try:
            names.append(as_integer(node, "node"))
        except (TypeError, ValueError) as error:
            raise type(error)(f"networkx node {node!r} is not an integer in [0, 2**64); "
                              f"relabel the graph with {_RELABEL_HINT}") from None
    count = graph.number_of_edges()
    flat = np.fromiter(itertools.chain.from_iterable((u, v) for u, v, *_ in graph.edges),
                       dtype=np.uint64, count=2 * count)
    return flat.reshape(-1, 2), np.array(names, dtype=np.uint64)


def _two_columns(frame: pd.DataFrame, what: str) -> UInt64Array:
    """The first two columns, each converted on its own (together, numpy
    would turn a uint64 and an int64 column into floats)."""
    if frame.shape[1] < 2:
        raise ValueError(f"expected a DataFrame with two columns, got {frame.shape[1]}")
    columns = [as_uint64(frame.iloc[:, i].to_numpy(), what) for i in (0, 1)]
    return np.ascontiguousarray(np.stack(columns, axis=1))


def _array_like(source: Any) -> bool:
    return isinstance(source, (np.ndarray, Sequence)) or hasattr(source, "__array__")


def _memberships_of(source: Any) -> tuple[UInt64Array, UInt64Array]:
    """Parallel arrays of node names and cluster ids, one entry per line of
    the equivalent clustering file."""
    igraph = sys.modules.get("igraph")
    if igraph is not None and isinstance(source, (igraph.VertexClustering, igraph.VertexCover)):
        return _groups(enumerate(source))
    if isinstance(source, Mapping):
        return _groups(source.items())
    if isinstance(source, pd.DataFrame):
        pairs = _two_columns(source, "node name or cluster id")
        return np.ascontiguousarray(pairs[:, 0]), np.ascontiguousarray(pairs[:, 1])
    if isinstance(source, np.ndarray):
        pairs = as_pairs(source, "node name or cluster id")
        return np.ascontiguousarray(pairs[:, 0]), np.ascontiguousarray(pairs[:, 1])
    if isinstance(source, Sequence) and not isinstance(source, (str, bytes)):
        return _groups(enumerate(source))
    raise TypeError(f"cannot make a clustering from {type(source).__name__}: expected a "
                    "mapping of cluster ids to nodes, a list of node collections, a "
                    "(node, cluster) array or DataFrame, an igraph clustering, or a path")


def _groups(groups: Iterable[tuple[Any, Any]]) -> tuple[UInt64Array, UInt64Array]:
    ids: list[int] = []
    sizes: list[int] = []
    members: list[Any] = []
    for cluster, nodes in groups:
        ids.append(as_integer(cluster, "cluster id"))
        if isinstance(nodes, (str, bytes)) or not isinstance(nodes, Iterable):
            raise TypeError(f"cluster {cluster}: expected a collection of node names, "
                            f"got {nodes!r}")
        before = len(members)
        members.extend(nodes)
        sizes.append(len(members) - before)
    names = as_uint64(members, "node name") if members else np.empty(0, dtype=np.uint64)
    return names, np.repeat(np.array(ids, dtype=np.uint64), sizes)
