"""Graphs and clusterings from memory: edge arrays, tables, networkx and
igraph objects, mappings and lists of communities, or files.

In-memory graphs are built natively, with the builder the edge-list loader
uses, and handed to quelmar.Graph as a snapshot through a named pipe;
clusterings are written as a clustering file for quelmar.Clustering. Both
live in a private temporary folder, removed on every path out."""

from __future__ import annotations

import os
from typing import Any, Optional

import quelmar
from quelmar_tools import _native
from quelmar_tools._files import existing_file, load, private_folder
from quelmar_tools.inputs import edges_of, memberships_of

#: What graph_from accepts: a file path, or an in-memory source that
#: quelmar_tools.inputs.edges_of recognises.
GraphSource = Any
#: What clustering_from accepts: a file path, or an in-memory source that
#: quelmar_tools.inputs.memberships_of recognises.
ClusteringSource = Any


def graph_from(source: GraphSource) -> quelmar.Graph:
    """A quelmar.Graph from `source`, the same graph (same statistics) as
    loading the equivalent edge list: node ids in order of first appearance,
    repeated and reversed edges stored once, self-loops kept. Isolated nodes
    of a networkx or igraph graph are kept, after the others."""
    if isinstance(source, (str, os.PathLike)):
        path = existing_file(source)
        return load(lambda: quelmar.Graph(path), path)
    pairs, nodes = edges_of(source)
    # The snapshot goes through a named pipe: written by a native thread
    # while quelmar.Graph reads it, never stored.
    with private_folder() as folder:
        path = os.path.join(folder, "graph.lz4")
        os.mkfifo(path, 0o600)
        return load(lambda: _native.load_graph_through_pipe(path, pairs, nodes, quelmar.Graph),
                    None)


def clustering_from(graph: quelmar.Graph, source: ClusteringSource, *,
                    cpm: Optional[float] = None) -> quelmar.Clustering:
    """A quelmar.Clustering of `graph` from `source`, under the clustering
    file's rules: clusters left with one member are dropped, and per cluster
    one node unknown to the graph is skipped (a second one is an error).
    `cpm` is the resolution of the "cpm" statistic, as for quelmar.Clustering."""
    if not isinstance(graph, quelmar.Graph):
        raise TypeError(f"expected a quelmar.Graph, got {type(graph).__name__}")
    options = {} if cpm is None else {"cpm": _resolution(cpm)}
    if isinstance(source, (str, os.PathLike)):
        path = existing_file(source)
        return load(lambda: quelmar.Clustering(graph, path, **options), path)
    nodes, clusters = memberships_of(source)
    with private_folder(size_hint=3 * (nodes.nbytes + clusters.nbytes)) as folder:
        path = os.path.join(folder, "clustering.txt")
        _native.write_memberships(path, nodes, clusters)
        return load(lambda: quelmar.Clustering(graph, path, **options), None)


def _resolution(cpm: Any) -> float:
    if isinstance(cpm, (str, bytes)) or not hasattr(cpm, "__float__"):
        raise TypeError(f"cpm {cpm!r} is not a number")
    return float(cpm)
