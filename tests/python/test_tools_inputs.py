"""The sources quelmar_tools recognises, at graph_from and clustering_from:
each kind gives what its equivalent file gives, and each misreading is
refused with a TypeError or ValueError that says where."""

import math
import re
import warnings
from types import SimpleNamespace

import hypothesis.extra.numpy as hnp
import networkx as nx
import numpy as np
import pandas as pd
import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import quelmar
import quelmar_tools
from support import Files, fingerprint

#   0 - 1     3 - 4     6 - 7
#    \ /       \ /      |   |
#     2 ------- 5 ----- 9 - 8
EDGES = [(0, 1), (1, 2), (2, 0), (2, 5), (3, 4), (4, 5), (5, 3), (5, 9), (6, 7), (7, 8),
         (8, 9), (9, 6)]
LABELS = [0, 0, 0, 1, 1, 1, 2, 2, 2, 2]
CLUSTERS = {0: [0, 1, 2], 1: [3, 4, 5], 2: [6, 7, 8, 9]}
PAIRS = list(enumerate(LABELS))


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    return Files(tmp_path_factory.mktemp("inputs"))


@pytest.fixture(scope="module")
def graph(files):
    return quelmar.Graph(files.edges(EDGES))


def result(clustering):
    subset = clustering.select(lambda c: True)
    return subset.keys, fingerprint(subset.compute_statistics())


def from_file(files, graph, pairs):
    return result(quelmar.Clustering(graph, files.memberships(pairs, "expected.txt")))


def partition(vector):
    """networkit's Partition, by its methods; 2**64 - 1 marks an unassigned element."""
    return SimpleNamespace(getVector=lambda: vector, getSubsetIds=lambda: set(vector))


def cover(subsets):
    """networkit's Cover, by its methods."""
    return SimpleNamespace(getSubsetIds=lambda: set(subsets), subsetsOf=lambda element: set(),
                           getMembers=lambda subset: set(subsets[subset]))


@pytest.mark.parametrize("make, pairs", [
    (lambda: np.array(LABELS), PAIRS),
    (lambda: LABELS, PAIRS),
    (lambda: np.array(LABELS, dtype=np.float32), PAIRS),
    (lambda: {node: np.int64(label) for node, label in PAIRS}, PAIRS),
    (lambda: pd.Series(LABELS), PAIRS),
    (lambda: pd.DataFrame({"community": LABELS, "node": range(10)}), PAIRS),
    (lambda: pd.DataFrame({"weight": [7] * 10, "Cluster_ID": LABELS, "vertex": range(10)}), PAIRS),
    (lambda: pd.DataFrame({"cluster": LABELS, "name": range(10)}), PAIRS),
    (lambda: pd.DataFrame({"node": np.arange(10.0), "cluster": LABELS}), PAIRS),
    (lambda: (set(nodes) for nodes in CLUSTERS.values()), PAIRS),
    (lambda: partition(LABELS[:9] + [2**64 - 1]), PAIRS[:9]),
    (lambda: cover({5: [0, 1, 2, 3], 6: [3, 4]}), [(0, 5), (1, 5), (2, 5), (3, 5), (3, 6), (4, 6)]),
    (lambda: SimpleNamespace(communities=list(CLUSTERS.values())), PAIRS),
    (lambda: np.array(PAIRS), PAIRS),
    (lambda: np.asfortranarray(np.array(PAIRS, dtype=np.uint64)), PAIRS),
    (lambda: np.array([(n, c, 9) for n, c in PAIRS])[:, :2], PAIRS),
], ids=["vector", "list vector", "float vector", "node to label", "Series", "swapped names",
        "named among three", "one named", "float column", "generator", "partition", "cover",
        "node clustering", "pairs", "fortran pairs", "pairs view"])
def test_clustering_source_matches_its_file(files, graph, make, pairs):
    assert result(quelmar_tools.clustering_from(graph, make())) == \
        from_file(files, graph, pairs)


def peer_clustering(peer):
    """Each peer's own object holding LABELS, and the pairs it stands for."""
    if peer == "networkit":
        networkit = pytest.importorskip("networkit")
        partition = networkit.Partition(10)
        partition.setUpperBound(3)
        cover = networkit.Cover(10)
        cover.setUpperBound(3)
        for node, label in PAIRS:
            partition.addToSubset(label, node)
            cover.addToSubset(label, node)
        return [partition, cover], PAIRS
    network = nx.Graph(EDGES)
    if peer == "python-louvain":
        louvain = pytest.importorskip("community.community_louvain")
        found = louvain.best_partition(network, random_state=1)
        return [found], sorted(found.items())
    if peer == "cdlib":
        algorithms = pytest.importorskip("cdlib.algorithms")
        communities = algorithms.louvain(network)
        return [communities], [(n, i) for i, c in enumerate(communities.communities) for n in c]
    igraph = pytest.importorskip("igraph")
    membership = igraph.Graph(EDGES).community_multilevel().membership
    return [membership], list(enumerate(membership))


@pytest.mark.parametrize("peer", ["networkit", "python-louvain", "cdlib", "igraph"])
def test_peer_clusterings(files, graph, peer):
    sources, pairs = peer_clustering(peer)
    for source in sources:
        assert result(quelmar_tools.clustering_from(graph, source)) == \
            from_file(files, graph, pairs)


@pytest.mark.parametrize("make", [
    lambda: pd.DataFrame({"weight": [5] * len(EDGES), "dst": [b for _, b in EDGES],
                          "src": [a for a, _ in EDGES]}),
    lambda: np.array(EDGES, dtype=np.float64),
], ids=["named columns after a weight", "whole floats"])
def test_graph_source_matches_its_file(files, graph, make):
    clusters = files.memberships(PAIRS, "pairs.txt")
    made = quelmar_tools.graph_from(make())
    assert result(quelmar.Clustering(made, clusters)) == result(quelmar.Clustering(graph, clusters))


def igraph_graph(**options):
    igraph = pytest.importorskip("igraph")
    return igraph.Graph(edges=EDGES + [(0, 1)], **options)


@pytest.mark.parametrize("make, ignored", [
    (lambda: nx.DiGraph(EDGES), ["edge directions"]),
    (lambda: nx.MultiGraph(EDGES + [(1, 0)]), ["parallel edges"]),
    (lambda: nx.Graph([(a, b, {"weight": 2}) for a, b in EDGES]), ["edge weights"]),
    (lambda: nx.MultiDiGraph(EDGES), ["edge directions"]),
    (lambda: nx.MultiGraph(EDGES), []),
    (lambda: nx.Graph([(a, b, {"colour": 1}) for a, b in EDGES]), []),
    (lambda: igraph_graph(directed=True, edge_attrs={"weight": [1] * 13}),
     ["edge directions", "parallel edges", "edge weights"]),
], ids=["directed", "multi", "weighted", "multi without parallel", "simple multi",
        "other attributes", "igraph"])
def test_what_graph_objects_lose_is_warned_once(make, ignored):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        made = quelmar_tools.graph_from(make())
    assert [str(w.message).rpartition("ignored: ")[2] for w in caught] == \
        ([", ".join(ignored)] if ignored else [])
    assert all(w.category is UserWarning and w.filename == __file__ for w in caught)
    assert quelmar_tools.totals(quelmar_tools.clustering_from(made, []))["total_edges"] == 12


@pytest.mark.parametrize("source, error, text", [
    (np.array([0, 0, 1.5]), TypeError, "position 2: cluster id 1.5 is not"),
    (np.array([[0, 1], [1, np.nan]]), TypeError, "row 1: .* nan is not"),
    (np.array([0, 2.0**60]), ValueError, r"position 1: .* above 2\*\*53"),
    (np.array([[0, 1], [1, -1]]), ValueError, "row 1: .* -1 is outside"),
    (pd.DataFrame({"node": [0, 1], "cluster": [0.0, 0.5]}), TypeError, "row 1, column 'cluster'"),
    (pd.DataFrame({"node": pd.array([0, None], dtype="Int64"), "cluster": [0, 0]}), TypeError,
     "row 1, column 'node'"),
    (pd.DataFrame({"source": [0], "target": [1]}), ValueError, "describe edges.*graph_from"),
    (pd.DataFrame({"node": [0], "vertex": [0], "cluster": [1]}), ValueError, "keep one"),
    (pd.DataFrame({"cluster": [0], "a": [1], "b": [2]}), ValueError, "name that column 'node'"),
    ({0: 1, 1: [2, 3]}, TypeError, "node 1: .* mixed"),
    ({0: [1, 2], 1: 5}, TypeError, "cluster 1: .* got 5"),
    ({0: [1, "x"]}, TypeError, "cluster 0: node name 'x' is not"),
    ({3, 4}, TypeError, "set of int"),
    (pd.Series([0, 1], index=["a", "b"]), TypeError, "node name 'a'"),
    (object(), TypeError, "from object"),
], ids=lambda value: None if isinstance(value, (str, type)) else type(value).__name__)
def test_clustering_misreadings_are_refused(graph, source, error, text):
    with pytest.raises(error, match=text):
        quelmar_tools.clustering_from(graph, source)


@pytest.mark.parametrize("source, error, text", [
    (pd.DataFrame({"node": [0], "cluster": [1]}), ValueError, "clustering_from"),
    (pd.DataFrame({"u": [0, 1], "weight": [2, 3], "x": [1, 2]}), ValueError,
     "name that column 'target'"),
    (np.array([[0, 1], [2, 0.5]]), TypeError, "row 1: node name 0.5"),
])
def test_graph_misreadings_are_refused(source, error, text):
    with pytest.raises(error, match=text):
        quelmar_tools.graph_from(source)


# Random sources of every accepted kind against the equivalent file.

partitions = st.lists(st.integers(0, 5), min_size=10, max_size=10)
covers = st.dictionaries(st.integers(0, 2**64 - 1), st.sets(st.integers(0, 9), max_size=10),
                         max_size=6)


def presented(kind, labels, cover, draw):
    """A source of `kind` and the (node, cluster) pairs of its file."""
    pairs = [(n, k) for k, nodes in cover.items() for n in sorted(nodes)]
    if kind == "vector":
        dtype = draw(st.sampled_from([np.int64, np.uint32, np.float64, object]))
        return np.array(labels, dtype=dtype), list(enumerate(labels))
    if kind == "node to label":
        order = draw(st.permutations(range(10)))
        mapping = {node: labels[node] for node in order}
        source = mapping if draw(st.booleans()) else pd.Series(mapping)
        return source, list(mapping.items())
    if kind == "list":
        groups = [sorted(nodes) for nodes in cover.values()]
        return groups, [(n, i) for i, nodes in enumerate(groups) for n in nodes]
    if kind == "mapping":
        wrap = draw(st.sampled_from([list, set, np.array]))
        return {k: wrap(sorted(nodes)) for k, nodes in cover.items()}, pairs
    array = np.array(pairs, dtype=np.uint64).reshape(-1, 2)
    if kind == "array":
        return array, pairs
    node = draw(st.sampled_from(["node", "Vertex", "member"]))
    cluster = draw(st.sampled_from(["cluster", "Community", "module_id", "group"]))
    cluster = cluster if cluster != "module_id" else "module"
    columns = {node: array[:, 0], cluster: array[:, 1], "weight": np.ones(len(pairs))}
    order = draw(st.permutations(list(columns)))
    return pd.DataFrame({name: columns[name] for name in order}), pairs


KINDS = ["vector", "node to label", "list", "mapping", "array", "frame"]
quick = settings(max_examples=60, deadline=None,
                 suppress_health_check=[HealthCheck.function_scoped_fixture])


@quick
@given(st.sampled_from(KINDS), partitions, covers, st.data())
def test_random_sources_match_their_files(files, graph, kind, labels, cover, data):
    source, pairs = presented(kind, labels, cover, data.draw)
    assert result(quelmar_tools.clustering_from(graph, source)) == \
        from_file(files, graph, pairs)


BAD_VALUES = [-1, 0.5, math.nan, "7", None, 2**64, [1], 2.0**60]


@quick
@given(st.sampled_from(KINDS), partitions, covers.filter(lambda c: any(c.values())),
       st.sampled_from(BAD_VALUES), st.data())
def test_one_bad_value_is_never_read_past(graph, kind, labels, cover, bad, data):
    # A membership vector's negative label leaves its node unassigned.
    assume(kind != "vector" or bad != -1)
    source, pairs = presented(kind, labels, cover, data.draw)
    spot = data.draw(st.integers(0, len(pairs) - 1))
    if isinstance(source, pd.DataFrame):
        source = source.astype(object)
        named = [i for i, name in enumerate(source.columns) if name != "weight"]
        source.iat[spot, data.draw(st.sampled_from(named))] = bad
    elif isinstance(source, np.ndarray):
        source = source.astype(object)
        source[np.unravel_index(spot % source.size, source.shape)] = bad
    elif isinstance(source, pd.Series):
        values = source.tolist()
        values[spot % len(values)] = bad
        source = pd.Series(values, index=source.index, dtype=object)
    elif kind == "node to label":
        source[list(source)[spot % len(source)]] = bad
    elif isinstance(source, dict):
        filled = [k for k, nodes in source.items() if len(nodes)]
        key = filled[spot % len(filled)]
        source[key] = list(source[key]) + [bad]
    else:
        source[spot % len(source)] = [bad]
    with pytest.raises((TypeError, ValueError)):
        quelmar_tools.clustering_from(graph, source)


junk = st.recursive(
    st.none() | st.booleans() | st.integers() | st.floats() | st.text(max_size=3)
    | hnp.arrays(hnp.scalar_dtypes(), hnp.array_shapes(max_dims=3, max_side=3)),
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(
        st.integers() | st.text(max_size=2), inner, max_size=4) | st.tuples(inner, inner),
    max_leaves=8)


@quick
@given(junk.filter(lambda value: not isinstance(value, str)))  # a str is a path
def test_anything_else_is_a_clear_error(graph, source):
    try:
        quelmar_tools.clustering_from(graph, source)
    except (TypeError, ValueError):
        pass


# One rule for names, ids and counts, whichever way they come in.

def ways_in(graph):
    """Each way a 1-D run of integers enters the companion, as a function
    of the values whose result tells what was read."""
    clustering = quelmar_tools.clustering_from(graph, CLUSTERS)

    def edges(values):
        made = quelmar_tools.graph_from(np.column_stack([values, np.zeros(len(values))]))
        return quelmar_tools.totals(quelmar_tools.clustering_from(made, []))["total_nodes"]

    def counts(values):
        return {k: v.tolist() for k, v in quelmar_tools.cluster_values(
            values, values, values, values, values, total_edges=12).items()}

    return {
        "node name": edges,
        "cluster id": lambda values: result(quelmar_tools.clustering_from(graph, values)),
        "selected id": lambda values: quelmar_tools.cluster_table(clustering, ids=values).index
        .tolist(),
        "count": counts,
    }


@pytest.mark.parametrize("way", ["node name", "cluster id", "selected id", "count"])
@pytest.mark.parametrize("form", [np.array, list], ids=["array", "list"])
def test_whole_floats_read_as_integers_and_other_floats_are_refused_by_value(graph, way,
                                                                            form):
    read = ways_in(graph)[way]
    whole = [2, 0, 1, 2, 1]
    assert repr(read(form([float(v) for v in whole]))) == repr(read(np.array(whole)))  # NaNs too
    for bad, error in [(1.5, TypeError), (math.nan, TypeError), (math.inf, TypeError),
                       (-1.0, ValueError), (2.0**60, ValueError)]:
        if way == "cluster id" and bad < 0:
            continue  # a membership vector's negative label means "unassigned"
        with pytest.raises(error, match=re.escape(repr(bad))):
            read(form([2.0, bad, 1.0, 2.0, 1.0]))
