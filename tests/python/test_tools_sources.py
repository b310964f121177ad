"""quelmar_tools.graph_from and clustering_from: every kind of source gives
the graph or clustering its equivalent file gives, bad input gets an
ordinary exception, and no temporary file outlives a call."""

import os
import pathlib
import signal
import tempfile

import networkx as nx
import numpy as np
import pandas as pd
import pytest

import quelmar
import quelmar_tools
from support import fingerprint

BIG = 2**64 - 1
# Repeated and reversed edges, a self-loop and the largest name.
EDGES = [(1, 2), (2, 3), (3, 1), (2, 1), (3, 4), (4, 5), (5, 6), (6, 4), (5, 5), (6, BIG)]
CLUSTERS = {7: [1, 2, 3], 8: [4, 5, 6, BIG], 9: [3, 4], 10: [6]}


def stats_of(graph, clustering):
    return fingerprint(clustering.select(lambda c: True).compute_statistics())


@pytest.fixture
def expected(files):
    graph = quelmar.Graph(files.edges(EDGES))
    return stats_of(graph, quelmar.Clustering(graph, files.clusters(CLUSTERS), cpm=0.5))


@pytest.fixture(autouse=True)
def private_temp(tmp_path, monkeypatch):
    """Temporary files of the tools land in a folder of the test's own,
    which must be empty again after every call."""
    folder = tmp_path / "tmp"
    folder.mkdir()
    monkeypatch.setenv("TMPDIR", str(folder))
    monkeypatch.setattr(tempfile, "tempdir", str(folder))
    yield folder
    assert os.listdir(folder) == []


def with_file_clustering(files, graph):
    return stats_of(graph, quelmar.Clustering(graph, files.clusters(CLUSTERS), cpm=0.5))


class TestGraphSources:
    @pytest.mark.parametrize("make", [
        lambda: np.array(EDGES, dtype=np.uint64),
        lambda: [list(edge) for edge in EDGES],
        lambda: pd.DataFrame(EDGES, columns=["a", "b"]).assign(weight=0.5),
        lambda: np.array([[a, b] for a, b in EDGES], dtype=object),
    ], ids=["uint64 array", "nested list", "DataFrame", "object array"])
    def test_in_memory_edges_match_the_edge_list(self, files, expected, make):
        assert with_file_clustering(files, quelmar_tools.graph_from(make())) == expected

    def test_paths_of_both_kinds(self, files, expected):
        path = files.edges(EDGES)
        assert with_file_clustering(files, quelmar_tools.graph_from(pathlib.Path(path))) == expected

    def test_networkx_keeps_isolated_nodes(self, files):
        network = nx.MultiGraph(EDGES)
        network.add_nodes_from([100, 101])
        graph = quelmar_tools.graph_from(network)
        stats = quelmar.Clustering(graph, files.clusters(CLUSTERS)).select_in([7]) \
            .compute_statistics()
        # 8 edges: the self-loop's single adjacency slot counts for nothing.
        assert (stats.total_nodes, stats.total_edges) == (network.number_of_nodes(), 8)

    def test_igraph_by_vertex_index(self, files):
        igraph = pytest.importorskip("igraph")
        peer = igraph.Graph(n=6, edges=[(0, 1), (1, 2), (2, 0), (3, 4)])
        graph = quelmar_tools.graph_from(peer)
        clustering = quelmar_tools.clustering_from(graph, peer.connected_components())
        stats = clustering.select(lambda c: True).compute_statistics()
        assert (stats.total_nodes, stats.total_edges, stats.num_clusters) == (6, 4, 2)

    def test_empty_array_is_the_empty_graph(self, files):
        graph = quelmar_tools.graph_from(np.empty((0, 2), dtype=np.int64))
        stats = quelmar_tools.clustering_from(graph, []).select(lambda c: True) \
            .compute_statistics()
        assert (stats.total_nodes, stats.total_edges) == (0, 0)


class TestClusteringSources:
    @pytest.mark.parametrize("make", [
        lambda: CLUSTERS,
        lambda: {key: set(nodes) for key, nodes in CLUSTERS.items()},
        lambda: np.array([(n, k) for k, nodes in CLUSTERS.items() for n in nodes], dtype=np.uint64),
        lambda: pd.DataFrame([(n, k) for k, nodes in CLUSTERS.items() for n in nodes]),
    ], ids=["mapping", "mapping of sets", "array", "DataFrame"])
    def test_in_memory_memberships_match_the_file(self, files, expected, make):
        graph = quelmar.Graph(files.edges(EDGES))
        assert stats_of(graph, quelmar_tools.clustering_from(graph, make(), cpm=0.5)) == expected

    def test_a_list_numbers_its_items_even_when_they_are_pairs(self, files):
        graph = quelmar.Graph(files.edges(EDGES))
        clustering = quelmar_tools.clustering_from(graph, [(1, 2), (4, 5), (3, 6)])
        assert clustering.select(lambda c: True).keys == [0, 1, 2]

    def test_path(self, files, expected):
        graph = quelmar.Graph(files.edges(EDGES))
        clustering = quelmar_tools.clustering_from(graph, pathlib.Path(files.clusters(CLUSTERS)),
                                                   cpm=0.5)
        assert stats_of(graph, clustering) == expected


class TestBadInput:
    @pytest.mark.parametrize("source, error, text", [
        (np.array([[1, -3]]), ValueError, "-3"),
        (np.array([[1.5, 2.0]]), TypeError, "1.5"),
        (np.array([1, 2, 3]), ValueError, "(3,)"),
        ([[1, "x"]], TypeError, "'x'"),
        ([[1, 2**64]], ValueError, str(2**64)),
        ({1: 2}, TypeError, "dict"),
        (nx.Graph([("a", "b")]), TypeError, "networkx.convert_node_labels_to_integers"),
    ])
    def test_graph_sources(self, source, error, text):
        with pytest.raises(error, match=f".*{text.replace('(', '[(]').replace(')', '[)]')}"):
            quelmar_tools.graph_from(source)

    def test_missing_files(self, files):
        with pytest.raises(FileNotFoundError):
            quelmar_tools.graph_from(files.path("absent.txt"))
        graph = quelmar.Graph(files.edges(EDGES))
        with pytest.raises(FileNotFoundError):
            quelmar_tools.clustering_from(graph, files.path("absent.txt"))

    def test_malformed_file_is_a_value_error(self, files):
        with pytest.raises(ValueError, match="missing to"):
            quelmar_tools.graph_from(files.lines(["1 2", "3"], "bad.txt"))

    @pytest.mark.parametrize("source, error, text", [
        ({1: [1, 2], 2: [998, 999]}, ValueError, "node 999 requested in cluster 2"),
        ({-1: [1, 2]}, ValueError, "cluster id -1"),
        ({1: "12"}, TypeError, "'12'"),
        ("not a path", FileNotFoundError, "not a path"),
        (3.5, TypeError, "float"),
    ])
    def test_clustering_sources(self, files, source, error, text):
        graph = quelmar.Graph(files.edges(EDGES))
        with pytest.raises(error, match=text):
            quelmar_tools.clustering_from(graph, source)

    def test_graph_and_cpm_arguments(self, files):
        with pytest.raises(TypeError, match="quelmar.Graph"):
            quelmar_tools.clustering_from("graph.txt", CLUSTERS)
        graph = quelmar.Graph(files.edges(EDGES))
        with pytest.raises(TypeError, match="cpm"):
            quelmar_tools.clustering_from(graph, CLUSTERS, cpm="0.5")

    def test_ctrl_c_while_building_leaves_nothing(self):
        pairs = np.random.default_rng(1).integers(0, 2**63, size=(4_000_000, 2), dtype=np.uint64)

        def interrupt(signum, frame):
            raise KeyboardInterrupt

        previous = signal.signal(signal.SIGALRM, interrupt)
        try:
            signal.setitimer(signal.ITIMER_REAL, 0.05)
            with pytest.raises(KeyboardInterrupt):
                quelmar_tools.graph_from(pairs)
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGALRM, previous)
