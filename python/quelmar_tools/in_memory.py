"""What graph_from and clustering_from accept, recognised and turned into
the arrays the native side takes: (k, 2) name pairs for a graph, parallel
node-name and cluster-id arrays for a clustering (one entry per line of the
equivalent clustering file).

Graphs (``edges_of``):

* a (k, 2) array-like of node names;
* a DataFrame: the columns named as edge ends (``EDGE_COLUMNS``), else the
  first two;
* a networkx or igraph graph, or (by its methods, without importing
  networkit) a networkit Graph, read as undirected, unweighted and simple,
  with one UserWarning naming what that ignored (edge directions, parallel
  edges, weights).

Clusterings (``memberships_of``):

* a mapping whose values are collections: cluster id -> node names;
* a mapping (or pandas Series) whose values are single labels: node name ->
  cluster id, as python-louvain returns it;
* a list (or other iterable) of node collections: cluster ids 0, 1, 2, ...
  in order, as networkx's community functions return them;
* a 1-D sequence or array of labels, a membership vector: node name =
  position, as igraph and networkit number nodes; a negative label leaves
  its node in no cluster ("unassigned", as DBSCAN and HDBSCAN mark noise);
* a (node, cluster) array, or a DataFrame: the columns named as node and
  cluster (``NODE_COLUMNS``, ``CLUSTER_COLUMNS``), else the first two;
* an igraph VertexClustering or VertexCover, and by their methods a
  networkit Partition (its unassigned elements left out) or Cover, and a
  cdlib NodeClustering (its ``communities``).

Names and ids are integers in [0, 2**64), read by the one converter of
``quelmar_tools.integers``; floats pass when every value is a whole number
no larger than 2**53 (beyond that a float no longer
tells neighbouring integers apart). Anything else is a TypeError (not an
integer, not a source) or ValueError (out of range, ambiguous columns, the
other kind of table) that names the first offending value and where it is.
"""

from __future__ import annotations

import itertools
import sys
import warnings
from collections.abc import Iterable, Mapping, Sequence
from typing import Any, Optional

import numpy as np
import pandas as pd

from quelmar_tools.integers import (U64, Locate, as_integer, as_pairs, is_collection, shown,
                                    to_uint64)

__all__ = [
    "CLUSTER_COLUMNS", "EDGE_COLUMNS", "NODE_COLUMNS", "edges_of", "membership_rows",
    "memberships_of"
]

#: Column names read as the two ends of an edge (compared in lower case).
EDGE_COLUMNS = (("source", "src", "from", "u", "node1", "node_1", "start"),
                ("target", "dst", "dest", "to", "v", "node2", "node_2", "end"))
#: Column names read as the node name of a membership (lower case).
NODE_COLUMNS = ("node", "nodes", "node_id", "vertex", "vertex_id", "member", "element")
#: Column names read as the cluster id of a membership (lower case).
CLUSTER_COLUMNS = ("cluster", "cluster_id", "community", "community_id", "module", "partition",
                   "group", "membership", "block", "modularity_class")

_RELABEL_HINT = "networkx.convert_node_labels_to_integers"
# What networkit stores for an element that belongs to no subset.
_UNASSIGNED = 2**64 - 1


def edges_of(source: Any) -> tuple[U64, Optional[U64]]:
    """The (k, 2) name pairs in edge-list order and, for graph objects, all
    node names in the object's order (those without edges come last)."""
    networkx = sys.modules.get("networkx")
    if networkx is not None and isinstance(source, networkx.Graph):
        pairs, nodes, ignored = _networkx_edges(source)
    else:
        igraph = sys.modules.get("igraph")
        if igraph is not None and isinstance(source, igraph.Graph):
            pairs, nodes, ignored = _igraph_edges(source)
        elif all(callable(getattr(source, method, None))
                 for method in ("iterEdges", "iterNodes", "numberOfEdges", "isWeighted")):
            pairs, nodes, ignored = _networkit_edges(source)
        else:
            return _edge_table(source), None
    if ignored:
        # edges_of runs inside graph_from: the warning points at its caller.
        warnings.warn(f"graph_from reads an undirected, unweighted graph without parallel "
                      f"edges; ignored: {', '.join(ignored)}", UserWarning, stacklevel=3)
    return pairs, nodes


def memberships_of(source: Any) -> tuple[U64, U64, int]:
    """Parallel arrays of node names and cluster ids, one entry per line of
    the equivalent clustering file, and how many nodes the source leaves in
    no cluster (a membership vector's negative labels, a networkit
    Partition's unassigned elements; 0 for every other source)."""
    igraph = sys.modules.get("igraph")
    if igraph is not None and isinstance(source, (igraph.VertexClustering, igraph.VertexCover)):
        return (*_groups(enumerate(source)), 0)
    if isinstance(source, pd.DataFrame):
        return (*_membership_table(source), 0)
    if isinstance(source, pd.Series):
        return (*_labels(source.index.to_numpy(), source.to_numpy(), "series index"), 0)
    if isinstance(source, Mapping):
        return (*_mapping(source), 0)
    if callable(getattr(source, "getVector", None)) and hasattr(source, "getSubsetIds"):
        return _partition(source)
    if callable(getattr(source, "subsetsOf", None)) and hasattr(source, "getSubsetIds"):
        return (*_groups((subset, source.getMembers(subset))
                         for subset in sorted(source.getSubsetIds())), 0)
    communities = getattr(source, "communities", None)
    if isinstance(communities, Sequence) and not isinstance(source, (np.ndarray, Sequence)):
        return (*_groups(enumerate(communities)), 0)
    if isinstance(source, np.ndarray) or hasattr(source, "__array__"):
        return _membership_array(np.asarray(source))
    if isinstance(source, Iterable) and not isinstance(source, (str, bytes)):
        return _items(source)
    raise TypeError(f"cannot make a clustering from {type(source).__name__}: expected a "
                    "mapping of cluster ids to nodes or of nodes to cluster ids, a list of "
                    "node collections, a membership vector, a (node, cluster) array or "
                    "DataFrame, a clustering of igraph, networkit or cdlib, or a path")


# Graphs.

def _edge_table(source: Any) -> U64:
    if isinstance(source, pd.DataFrame):
        first, second = _columns(source, EDGE_COLUMNS, "an edge", (NODE_COLUMNS, CLUSTER_COLUMNS),
                                 "memberships: pass it to clustering_from")
        return np.ascontiguousarray(np.stack([
            _frame_column(source, first, "node name"),
            _frame_column(source, second, "node name")], axis=1))
    if isinstance(source, (bytes, str, Mapping, set, frozenset)) or not _array_like(source):
        raise TypeError(f"cannot make a graph from {type(source).__name__}: expected an "
                        "(k, 2) array of node names, a DataFrame, a networkx or igraph graph, "
                        "or a path")
    return as_pairs(to_uint64(source, "node name", _row_of(source)), "node name")


def _networkx_edges(graph: Any) -> tuple[U64, U64, list[str]]:
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
    ignored = ["edge directions"] if graph.is_directed() else []
    if graph.is_multigraph() and any(len(keys) > 1 for _, neighbours in graph.adjacency()
                                     for keys in neighbours.values()):
        ignored.append("parallel edges")
    if any(weight is not None for *_, weight in graph.edges(data="weight")):
        ignored.append("edge weights")
    return flat.reshape(-1, 2), np.array(names, dtype=np.uint64), ignored


def _igraph_edges(graph: Any) -> tuple[U64, U64, list[str]]:
    pairs = np.array(graph.get_edgelist(), dtype=np.uint64).reshape(-1, 2)
    ignored = ["edge directions"] if graph.is_directed() else []
    if graph.has_multiple():
        ignored.append("parallel edges")
    if graph.is_weighted():
        ignored.append("edge weights")
    return pairs, np.arange(graph.vcount(), dtype=np.uint64), ignored


def _networkit_edges(graph: Any) -> tuple[U64, U64, list[str]]:
    # networkit exports edges only one by one (its sparse adjacency matrix
    # is filled the same way, from Python), so they are read straight from
    # its edge iterator into one array, without a matrix between.
    count = graph.numberOfEdges()
    flat = np.fromiter(itertools.chain.from_iterable(graph.iterEdges()), dtype=np.uint64,
                       count=2 * count)
    ignored = ["edge directions"] if graph.isDirected() else []
    if graph.isWeighted():
        ignored.append("edge weights")
    nodes = np.fromiter(graph.iterNodes(), dtype=np.uint64, count=graph.numberOfNodes())
    return flat.reshape(-1, 2), nodes, ignored


def _array_like(source: Any) -> bool:
    return isinstance(source, (np.ndarray, Sequence)) or hasattr(source, "__array__")


# Clusterings.

def _membership_table(frame: pd.DataFrame) -> tuple[U64, U64]:
    node, cluster = _columns(frame, (NODE_COLUMNS, CLUSTER_COLUMNS), "a membership", EDGE_COLUMNS,
                             "edges: pass it to graph_from")
    return (_frame_column(frame, node, "node name"),
            _frame_column(frame, cluster, "cluster id"))


def membership_rows(source: Any) -> Optional[U64]:
    """A (node, cluster) array as the (k, 2) uint64 array the native side
    reads in place, sparing the copy into two columns; None for every other
    source (memberships_of reads those)."""
    if not isinstance(source, np.ndarray) or source.ndim != 2 or source.dtype.kind == "O":
        return None
    return _membership_pairs(source)


def _membership_pairs(array: np.ndarray) -> U64:
    return as_pairs(to_uint64(array, "node name or cluster id", _row_of(array)),
                    "node name or cluster id")


def _membership_array(array: np.ndarray) -> tuple[U64, U64, int]:
    if array.ndim == 1:
        if array.dtype.kind == "O":
            return _items(array.tolist())
        return _vector(array)
    pairs = _membership_pairs(array)
    return np.ascontiguousarray(pairs[:, 0]), np.ascontiguousarray(pairs[:, 1]), 0


def _vector(labels: Any) -> tuple[U64, U64, int]:
    """A membership vector: node name = position, negative labels in no
    cluster."""
    if isinstance(labels, np.ndarray) and labels.dtype.kind in "uif":
        negative = labels < 0 if labels.dtype.kind != "u" else None
    else:
        negative = np.fromiter((_is_negative(label) for label in labels), dtype=bool,
                               count=len(labels))
    if negative is None or not negative.any():
        return np.arange(len(labels), dtype=np.uint64), \
            to_uint64(labels, "cluster id", _at_position, flat=True, collections_hint=True), 0
    assigned = np.flatnonzero(~negative)
    kept = labels[assigned] if isinstance(labels, np.ndarray) else [labels[i] for i in assigned]

    def at_position(i: int) -> str:
        return _at_position(int(assigned[i]))

    clusters = to_uint64(kept, "cluster id", at_position, flat=True, collections_hint=True)
    return assigned.astype(np.uint64), clusters, int(negative.sum())


def _is_negative(label: Any) -> bool:
    return bool(isinstance(label, (int, float, np.integer, np.floating))
                and not isinstance(label, (bool, np.bool_)) and label < 0)


def _mapping(source: Mapping[Any, Any]) -> tuple[U64, U64]:
    keys = list(source.keys())
    values = list(source.values())
    if not values or is_collection(values[0]):
        return _groups(zip(keys, values))
    return _labels(keys, values, "mapping")


def _labels(nodes: Any, labels: Any, what: str) -> tuple[U64, U64]:
    """Node name -> single cluster id, in the source's order."""
    def at_node(i: int) -> str:
        return f"node {shown(nodes[i])}"

    def at_key(i: int) -> str:
        return f"{what} entry {i}"

    clusters = to_uint64(labels, "cluster id", at_node, flat=True, collections_hint=True)
    names = to_uint64(nodes, "node name", at_key, flat=True)
    return np.ascontiguousarray(names), np.ascontiguousarray(clusters)


def _items(source: Iterable[Any]) -> tuple[U64, U64, int]:
    """A list of node collections, or of single labels (a membership
    vector); the first item tells which."""
    ordered = isinstance(source, (Sequence, np.ndarray))
    items = source if isinstance(source, list) else list(source)
    if not items or is_collection(items[0]):
        return (*_groups(enumerate(items)), 0)
    if not ordered:
        raise TypeError(f"cannot make a clustering from a {type(source).__name__} of "
                        f"{type(items[0]).__name__}: expected node collections, or an ordered "
                        "membership vector")
    return _vector(items)


def _partition(partition: Any) -> tuple[U64, U64, int]:
    vector = np.asarray(partition.getVector(), dtype=np.uint64)
    assigned = np.flatnonzero(vector != _UNASSIGNED).astype(np.uint64)
    return assigned, np.ascontiguousarray(vector[assigned]), len(vector) - len(assigned)


def _groups(groups: Iterable[tuple[Any, Any]]) -> tuple[U64, U64]:
    ids: list[int] = []
    ends: list[int] = []
    members: list[Any] = []
    for cluster, nodes in groups:
        ids.append(as_integer(cluster, "cluster id"))
        if not is_collection(nodes):
            raise TypeError(f"cluster {cluster}: expected a collection of node names, "
                            f"got {nodes!r} (a mixture of collections and single labels?)")
        members.extend(nodes)
        ends.append(len(members))

    def in_cluster(i: int) -> str:
        return f"cluster {ids[int(np.searchsorted(ends, i, side='right'))]}"

    names = to_uint64(members, "node name", in_cluster, flat=True)
    sizes = [end - start for start, end in zip([0, *ends], ends)]
    return names, np.repeat(np.array(ids, dtype=np.uint64), sizes)



# Tables.

def _columns(frame: pd.DataFrame, roles: tuple[Sequence[str], Sequence[str]], kind: str,
             other: tuple[Sequence[str], Sequence[str]], other_hint: str) -> tuple[int, int]:
    """The positions of the two columns of a table: by name where the names
    say, else the first two. A name that fits a role counts whatever the
    other column is called, so swapped named columns are read right."""
    names = [_column_name(name) for name in frame.columns]
    found = [[i for i, name in enumerate(names) if name in role] for role in roles]
    for role, positions in zip(roles, found):
        if len(positions) > 1:
            raise ValueError(f"columns {[frame.columns[i] for i in positions]} all name the "
                             f"{role[0]} of {kind}: keep one")
    first, second = (positions[0] if positions else None for positions in found)
    if first is not None and second is not None:
        return first, second
    if first is None and second is None:
        if all(any(name in role for name in names) for role in other):
            raise ValueError(f"the columns {list(frame.columns)} describe {other_hint}")
        if frame.shape[1] < 2:
            raise ValueError(f"expected a DataFrame with two columns, got {frame.shape[1]}")
        return 0, 1
    if frame.shape[1] == 2:
        return (0, 1) if first == 0 or second == 1 else (1, 0)
    known = roles[0][0] if first is not None else roles[1][0]
    missing = roles[1][0] if first is not None else roles[0][0]
    raise ValueError(f"the columns {list(frame.columns)} name the {known} of {kind} but not "
                     f"its {missing}: name that column {missing!r}")


def _column_name(name: Any) -> Optional[str]:
    return name.strip().lower() if isinstance(name, str) else None


def _frame_column(frame: pd.DataFrame, position: int, what: str) -> U64:
    column = frame.iloc[:, position].to_numpy()
    label = frame.columns[position]

    def at_row(i: int) -> str:
        return f"row {i}, column {label!r}"

    return np.ascontiguousarray(to_uint64(column, what, at_row))


# Values.

def _at_position(i: int) -> str:
    return f"position {i}"


def _row_of(source: Any) -> Locate:
    """Rows of a 2-D source, whose flat index i counts row by row."""
    try:
        width = np.shape(source)[1] if np.ndim(source) == 2 else 1
    except ValueError:  # nested lists of different lengths
        width = 1

    def at_row(i: int) -> str:
        return f"row {i // max(width, 1)}"

    return at_row
