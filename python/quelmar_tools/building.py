"""Graphs and clusterings from memory: edge arrays, tables, networkx and
igraph objects, mappings and lists of communities, or files.

Everything is built in process by the module's own native core: arrays go
to the builder the edge-list loader uses and to the clustering loader's
rules, and the results are quelmar.Graph and quelmar.Clustering objects like
those the module loads from files. Failures are ordinary exceptions: OSError
for the operating system's, ValueError for the content.

Files are read as they are published, beyond the module's own grammar: gzip
data (recognised by its first bytes), header lines starting with ``#`` or
``%`` before the data, a first line naming the columns of a comma-separated
file, and commas between names. A clustering file holds one membership per
line (``layout="memberships"``) or one community per line
(``layout="communities"``)."""

from __future__ import annotations

import os
import warnings
from typing import Any, Optional

import numpy as np

import quelmar
from quelmar_tools import _native
from quelmar_tools._files import existing_file
from quelmar_tools.in_memory import edges_of, membership_rows, memberships_of

__all__ = ["ClusteringSource", "GraphSource", "LAYOUTS", "clustering_from", "clustering_from_file",
           "graph_from", "graph_from_file", "misreading"]

#: What graph_from accepts: a file path, or an in-memory source that
#: quelmar_tools.in_memory.edges_of recognises.
GraphSource = Any
#: What clustering_from accepts: a file path, or an in-memory source that
#: quelmar_tools.in_memory.memberships_of recognises.
ClusteringSource = Any
#: The layouts of a clustering file: one "node cluster" membership per line,
#: or the node names of one community per line (cluster ids 0, 1, 2, ...).
LAYOUTS = ("memberships", "communities")

# Twice the internal edges that random node sets of the clusters' sizes
# would hold: below it, the clustering is unlikely to belong to the graph.
_RANDOM_FACTOR = 2.0
# Below this many expected edges, random sets stray too far from the
# expectation (a Poisson count of mean 10 reaches 20 once in 300) for a
# verdict either way.
_LEAST_EXPECTED = 10.0


def graph_from(source: GraphSource) -> quelmar.Graph:
    """Build a quelmar.Graph from a file or from edges in memory.

    The graph is the one (same statistics) that loading the equivalent edge
    list gives: node ids in order of first appearance, repeated and reversed
    edges stored once, self-loops kept. Isolated nodes of a networkx or
    igraph graph are kept, after the others. ``quelmar_tools.in_memory``
    lists the sources and the rules they are read by.

    Parameters
    ----------
    source : str, os.PathLike, array-like, DataFrame or graph object
        A path (see `graph_from_file`), or an in-memory source: a (k, 2)
        array-like of node names, a DataFrame, a networkx or igraph graph.

    Returns
    -------
    quelmar.Graph
        The graph, built by the module's own native core in this process.

    Raises
    ------
    TypeError
        When `source` is none of these, or a node name is not an integer
        (naming it and where it is).
    ValueError
        For a node name outside [0, 2**64), an array of another shape than
        (k, 2), a table whose columns are ambiguous, or (for a path) a line
        that breaks the format.
    OSError
        For a path that cannot be read (FileNotFoundError when it is
        missing).
    KeyboardInterrupt
        When Ctrl-C stops the build.

    Warns
    -----
    UserWarning
        When a graph object is read as undirected, unweighted and simple,
        naming what that ignored (edge directions, parallel edges, weights).

    Examples
    --------
    >>> import numpy as np, quelmar_tools
    >>> graph = quelmar_tools.graph_from(np.array([[1, 2], [2, 3], [3, 1], [3, 4]],
    ...                                           dtype=np.uint64))
    >>> clustering = quelmar_tools.clustering_from(graph, {0: [1, 2, 3]})
    >>> stats = clustering.select_in([0]).compute_statistics()
    >>> stats.total_nodes, stats.total_edges
    (4, 4)
    """
    if isinstance(source, (str, os.PathLike)):
        return graph_from_file(source)
    pairs, nodes = edges_of(source)
    return _native.graph_from_pairs(pairs, nodes)


def graph_from_file(path: str | os.PathLike[str], *, name: Optional[str] = None) -> quelmar.Graph:
    """Load a quelmar.Graph from an edge list as published, or a snapshot.

    Parameters
    ----------
    path : str or os.PathLike
        The file. A name ending in ``.lz4`` is a snapshot; anything else an
        edge list, gzip-compressed or not, with ``#`` or ``%`` header lines
        and commas allowed.
    name : str, optional
        What messages call the file (default: the path), e.g. ``"-"`` for
        standard input read through ``/dev/stdin``.

    Returns
    -------
    quelmar.Graph
        The graph, as ``quelmar.Graph(path)`` loads it from the module's
        own format.

    Raises
    ------
    ValueError
        A line breaks the format (``"<name>:<line>: <message>"``), or the
        gzip data is corrupt or cut short.
    OSError
        The file cannot be read (FileNotFoundError when it is missing,
        IsADirectoryError for a folder).
    TypeError
        When `path` is not a str path.
    KeyboardInterrupt
        When Ctrl-C stops the load.

    Examples
    --------
    >>> import os, tempfile, quelmar_tools
    >>> from quelmar_tools.building import graph_from_file
    >>> path = os.path.join(tempfile.mkdtemp(), "edges.csv")
    >>> with open(path, "w") as out:
    ...     _ = out.write("# a header line\\nsource,target\\n1,2\\n2,3\\n")
    >>> graph = graph_from_file(path)
    >>> quelmar_tools.totals(quelmar_tools.clustering_from(graph, {0: [1, 2, 3]}))["total_edges"]
    2
    """
    return _native.load_graph(existing_file(path), name)


def clustering_from(graph: quelmar.Graph, source: ClusteringSource, *,
                    cpm: Optional[float] = None, strict: bool = False,
                    layout: str = "memberships") -> quelmar.Clustering:
    """Build a quelmar.Clustering of a graph from a file or from memory.

    `source` is read under the clustering file's rules: clusters left with
    one member are dropped, and per cluster one node unknown to the graph is
    skipped (a second one is an error). ``quelmar_tools.in_memory`` lists
    the in-memory sources and the rules they are read by.

    Parameters
    ----------
    graph : quelmar.Graph
        The graph whose node names the clustering uses.
    source : str, os.PathLike, mapping, sequence, array-like, DataFrame or clustering object
        A path (see `clustering_from_file`), or an in-memory source that
        ``quelmar_tools.in_memory.memberships_of`` recognises. In a membership
        vector, negative labels leave their nodes in no cluster
        (``totals()["unassigned_nodes"]`` counts them).
    cpm : float, optional
        The resolution of the "cpm" statistic, as for quelmar.Clustering.
    strict : bool, default False
        Any membership naming a node the graph lacks is a ValueError naming
        the first such node and its cluster, and a source without any
        membership is a ValueError.
    layout : {"memberships", "communities"}, default "memberships"
        For a path: ``"memberships"`` or ``"communities"`` (see
        `clustering_from_file`). An in-memory source is read as what it is,
        so it takes only ``"memberships"``.

    Returns
    -------
    quelmar.Clustering
        The clustering, packed against `graph` as one loaded from a file is.

    Raises
    ------
    TypeError
        When `graph` is not a quelmar.Graph, `cpm` is not a number, `source`
        is no clustering source, or a node name or cluster id is not an
        integer (naming it and where it is).
    ValueError
        For an unknown `layout` (or ``"communities"`` with an in-memory
        source), a name or id outside [0, 2**64), a second node unknown to
        the graph in one cluster, a line of a file that breaks the format,
        or under `strict` an unknown node or a source without memberships.
    OSError
        For a path that cannot be read.

    Warns
    -----
    UserWarning
        When the load looks like a misreading (see `misreading`), or the
        source holds no membership at all.

    Examples
    --------
    >>> import quelmar_tools
    >>> graph = quelmar_tools.graph_from([(0, 1), (1, 2), (2, 0), (3, 4)])
    >>> clustering = quelmar_tools.clustering_from(graph, [0, 0, 0, -1, -1])
    >>> quelmar_tools.totals(clustering)["unassigned_nodes"]
    2
    """
    if isinstance(source, (str, os.PathLike)):
        return _clustering_file(graph, source, cpm=cpm, strict=strict, layout=layout, name=None)
    resolution = _arguments(graph, cpm, layout)
    if layout != "memberships":
        raise ValueError(f"layout {layout!r} describes a file; {type(source).__name__} is read "
                         "as what it is")
    if (rows := membership_rows(source)) is not None:
        clustering = _native.clustering_from_rows(graph, rows, resolution, bool(strict))
    else:
        nodes, clusters, unassigned = memberships_of(source)
        clustering = _native.clustering_from_memberships(graph, nodes, clusters, resolution,
                                                         bool(strict), unassigned)
    return _checked(clustering, strict, "the clustering")


def clustering_from_file(graph: quelmar.Graph, path: str | os.PathLike[str], *,
                         cpm: Optional[float] = None, strict: bool = False,
                         layout: str = "memberships",
                         name: Optional[str] = None) -> quelmar.Clustering:
    """Load a quelmar.Clustering of a graph from a clustering file as published.

    Parameters
    ----------
    graph : quelmar.Graph
        The graph whose node names the clustering uses.
    path : str or os.PathLike
        The file, gzip-compressed or not, with ``#`` or ``%`` header lines
        and commas allowed.
    cpm : float, optional
        As for `clustering_from`.
    strict : bool, default False
        As for `clustering_from`.
    layout : {"memberships", "communities"}, default "memberships"
        ``"memberships"``: a node name and a cluster id per line.
        ``"communities"``: the node names of one community per line, its
        cluster id the line's index among the data lines (0, 1, 2, ...); an
        empty line is an error. Nothing in a file tells the two apart
        reliably, so the layout is never guessed.
    name : str, optional
        What messages call the file (default: the path).

    Returns
    -------
    quelmar.Clustering
        The clustering, under the rules of `clustering_from`.

    Raises
    ------
    ValueError
        An unknown layout, a line that breaks it (naming the file and the
        line), corrupt gzip data, or under `strict` an unknown node or an
        empty file.
    TypeError
        When `graph` is not a quelmar.Graph, `cpm` is not a number or
        `path` is not a path.
    OSError
        The file cannot be read.

    Warns
    -----
    UserWarning
        As for `clustering_from`.

    Examples
    --------
    >>> import os, tempfile, quelmar_tools
    >>> from quelmar_tools.building import clustering_from_file
    >>> graph = quelmar_tools.graph_from([[1, 2], [2, 3], [3, 1], [4, 5], [5, 6], [6, 4]])
    >>> path = os.path.join(tempfile.mkdtemp(), "communities.txt")
    >>> with open(path, "w") as out:
    ...     _ = out.write("1 2 3\\n4 5 6\\n")
    >>> clustering = clustering_from_file(graph, path, layout="communities")
    >>> quelmar_tools.memberships(clustering)["cluster"].tolist()
    [0, 0, 0, 1, 1, 1]
    """
    return _clustering_file(graph, path, cpm=cpm, strict=strict, layout=layout, name=name)


def _clustering_file(graph: quelmar.Graph, path: str | os.PathLike[str], *,
                     cpm: Optional[float], strict: bool, layout: str,
                     name: Optional[str]) -> quelmar.Clustering:
    resolution = _arguments(graph, cpm, layout)
    readable = existing_file(path)
    clustering = _native.load_clustering(graph, readable, resolution, bool(strict), layout, name)
    # Two frames up: the caller of clustering_from or clustering_from_file.
    return _checked(clustering, strict, name or readable, stacklevel=4)


def misreading(clustering: quelmar.Clustering) -> Optional[str]:
    """Tell why the load of a clustering looks like a misreading, if it does.

    Three signs: more than half of its memberships skipped for naming nodes
    the graph lacks; no cluster left of the memberships read; or clusters
    holding fewer internal edges than twice what random node sets of the
    same sizes would hold, M Σ (n_i / N)² for clusters of n_i members in a
    graph of N nodes and M edges (summed per cluster when they overlap). Node
    names shifted by one, the clustering of another graph or swapped columns
    give about that expectation; real clusterings hold many times more. When
    twice the expectation is more than halfway to the most the clusters
    could hold (all M edges, or every pair of members, whichever is fewer),
    the bar is that halfway point instead: clusters covering most of a
    graph, or small graphs, where the expectation nears the most possible.
    Below 10 expected edges, chance decides too much to tell.

    Parameters
    ----------
    clustering : quelmar.Clustering
        A clustering as loaded or built from memory.

    Returns
    -------
    str or None
        The reason, with a hint at the usual causes; None when nothing
        looks wrong.

    Raises
    ------
    TypeError
        When `clustering` is not a quelmar.Clustering.

    Examples
    --------
    >>> import warnings, quelmar_tools
    >>> from quelmar_tools.building import misreading
    >>> graph = quelmar_tools.graph_from([[1, 2], [2, 3], [3, 1]])
    >>> with warnings.catch_warnings():
    ...     warnings.simplefilter("ignore")
    ...     shifted = quelmar_tools.clustering_from(graph, {0: [7], 1: [8], 2: [9], 3: [1, 2]})
    >>> print(misreading(shifted))  # doctest: +ELLIPSIS
    3 of 5 memberships name nodes the graph lacks and were skipped: ...
    >>> misreading(quelmar_tools.clustering_from(graph, {0: [1, 2, 3]})) is None
    True
    """
    unknown, dropped, clusters, members, _ = _native.load_counts(clustering)
    # Memberships read: skipped ones, those of the clusters kept (repeats
    # aside) and at least one per dropped singleton.
    read = unknown + members + dropped
    hint = ("are the node names those of this graph (not shifted, not of another graph, not "
            "swapped with the cluster ids)? strict=True makes any node the graph lacks an error")
    if read and 2 * unknown > read:
        return f"{unknown} of {read} memberships name nodes the graph lacks and were skipped: {hint}"
    if clusters == 0 and read:
        return (f"no cluster remains of {read} memberships ({unknown} skipped for unknown nodes, "
                f"{dropped} clusters dropped with a single member)")
    if clusters == 0:
        return None
    n, m = (np.frombuffer(column, dtype=np.uint64)
            for column in _native.cluster_counts(clustering, None)[1:3])
    total_nodes, total_edges = _native.coverage(clustering, np.empty(0, dtype=np.uint64))[3:]
    if total_edges == 0 or total_nodes == 0:
        return None
    sizes = n.astype(np.float64)
    expected = total_edges * float(np.dot(sizes, sizes)) / float(total_nodes) ** 2
    # The most the clusters could hold: every edge, or every pair inside.
    most = min(float(total_edges), float(np.dot(sizes, sizes - 1)) / 2)
    internal = int(m.sum())
    bar = min(_RANDOM_FACTOR * expected, (most + expected) / 2)
    if expected >= _LEAST_EXPECTED and internal < bar:
        short = "fewer than twice" if bar == _RANDOM_FACTOR * expected else \
            f"fewer than halfway from the most they could hold, {most:.0f}, to"
        return (f"the clusters hold {internal} internal edges, {short} the {expected:.1f} that "
                f"random node sets of their sizes would hold: {hint}")
    return None


def _checked(clustering: quelmar.Clustering, strict: bool, what: str,
             stacklevel: int = 3) -> quelmar.Clustering:
    """The clustering, after warning about a likely misreading; an empty
    source is a warning too, and under `strict` a ValueError."""
    unknown, dropped, _, members, _ = _native.load_counts(clustering)
    if unknown + dropped + members == 0:
        message = f"{what} holds no membership at all"
        if strict:
            raise ValueError(message)
        warnings.warn(message, UserWarning, stacklevel=stacklevel)
        return clustering
    reason = misreading(clustering)
    if reason:
        warnings.warn(reason, UserWarning, stacklevel=stacklevel)
    return clustering


def _arguments(graph: Any, cpm: Any, layout: Any) -> Optional[float]:
    if not isinstance(graph, quelmar.Graph):
        raise TypeError(f"expected a quelmar.Graph, got {type(graph).__name__}")
    if layout not in LAYOUTS:
        raise ValueError(f"unknown layout {layout!r}: expected one of {', '.join(LAYOUTS)}")
    return None if cpm is None else _resolution(cpm)


def _resolution(cpm: Any) -> float:
    if isinstance(cpm, (str, bytes)) or not hasattr(cpm, "__float__"):
        raise TypeError(f"cpm {cpm!r} is not a number")
    return float(cpm)
