"""Graphs and clusterings from memory: edge arrays, tables, networkx and
igraph objects, mappings and lists of communities, or files.

Everything is built in process by the module's own native core: arrays go
to the builder the edge-list loader uses and to the clustering loader's
rules, and the results are quelmar.Graph and quelmar.Clustering objects like
those the module loads from files. Failures are ordinary exceptions: OSError
for the operating system's, ValueError for the content."""

from __future__ import annotations

import os
import warnings
from typing import Any, Optional

import quelmar
from quelmar_tools import _native
from quelmar_tools._files import existing_file
from quelmar_tools.in_memory import edges_of, membership_rows, memberships_of

__all__ = ["ClusteringSource", "GraphSource", "clustering_from", "graph_from"]

#: What graph_from accepts: a file path, or an in-memory source that
#: quelmar_tools.in_memory.edges_of recognises.
GraphSource = Any
#: What clustering_from accepts: a file path, or an in-memory source that
#: quelmar_tools.in_memory.memberships_of recognises.
ClusteringSource = Any


def graph_from(source: GraphSource) -> quelmar.Graph:
    """A quelmar.Graph from `source`, the same graph (same statistics) as
    loading the equivalent edge list: node ids in order of first appearance,
    repeated and reversed edges stored once, self-loops kept. Isolated nodes
    of a networkx or igraph graph are kept, after the others."""
    if isinstance(source, (str, os.PathLike)):
        return _native.load_graph(existing_file(source))
    pairs, nodes = edges_of(source)
    return _native.graph_from_pairs(pairs, nodes)


def clustering_from(graph: quelmar.Graph, source: ClusteringSource, *,
                    cpm: Optional[float] = None, strict: bool = False) -> quelmar.Clustering:
    """A quelmar.Clustering of `graph` from `source`, under the clustering
    file's rules: clusters left with one member are dropped, and per cluster
    one node unknown to the graph is skipped (a second one is an error).
    `cpm` is the resolution of the "cpm" statistic, as for quelmar.Clustering.

    Skipped memberships often mean a misreading (names shifted by one, the
    clustering of another graph): when more than half of them were skipped,
    or no cluster remains, a UserWarning says so. With `strict`, any
    membership naming a node the graph lacks is a ValueError naming the
    first such node and its cluster. totals() reports both counts."""
    if not isinstance(graph, quelmar.Graph):
        raise TypeError(f"expected a quelmar.Graph, got {type(graph).__name__}")
    resolution = None if cpm is None else _resolution(cpm)
    if isinstance(source, (str, os.PathLike)):
        clustering = _native.load_clustering(graph, existing_file(source), resolution,
                                             bool(strict))
    elif (rows := membership_rows(source)) is not None:
        clustering = _native.clustering_from_rows(graph, rows, resolution, bool(strict))
    else:
        nodes, clusters = memberships_of(source)
        clustering = _native.clustering_from_memberships(graph, nodes, clusters, resolution,
                                                         bool(strict))
    message = misreading(clustering)
    if message:
        warnings.warn(message, UserWarning, stacklevel=2)
    return clustering


def misreading(clustering: quelmar.Clustering) -> Optional[str]:
    """Why the load of `clustering` looks like a misreading, or None: more
    than half of its memberships skipped for naming nodes the graph lacks,
    or no cluster left."""
    unknown, dropped, clusters, members = _native.load_counts(clustering)
    # Memberships read: skipped ones, those of the clusters kept (repeats
    # aside) and at least one per dropped singleton.
    read = unknown + members + dropped
    if read and 2 * unknown > read:
        return (f"{unknown} of {read} memberships name nodes the graph lacks and were skipped: "
                "are the node names those of this graph (not shifted, not of another graph)? "
                "strict=True makes any such membership an error")
    if clusters == 0 and read:
        return (f"no cluster remains of {read} memberships ({unknown} skipped for unknown nodes, "
                f"{dropped} clusters dropped with a single member)")
    return None


def _resolution(cpm: Any) -> float:
    if isinstance(cpm, (str, bytes)) or not hasattr(cpm, "__float__"):
        raise TypeError(f"cpm {cpm!r} is not a number")
    return float(cpm)
