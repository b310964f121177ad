"""cluster_table's quality measures against networkx on random graphs with
overlapping clusters and self-loops, and against the formulas they follow
where no peer counts the same way; the pass stops on Ctrl-C."""

import math
import signal
import time

import networkx as nx
import numpy as np
import pytest

import quelmar_tools

COUNT_MEASURES = ("conductance", "normalized_cut", "cut_ratio", "expansion",
                  "average_internal_degree")


def random_case(seed):
    """A random graph with self-loops and isolated-in-cluster members, and
    overlapping clusters (some disconnected, some with one node unknown)."""
    rng = np.random.default_rng(seed)
    nodes = int(rng.integers(8, 60))
    edges = rng.integers(0, nodes, size=(int(rng.integers(nodes, 4 * nodes)), 2))
    graph = nx.Graph()
    graph.add_nodes_from(range(nodes))
    graph.add_edges_from(map(tuple, edges.tolist()))
    clusters = {}
    for cluster in range(int(rng.integers(1, 8))):
        size = int(rng.integers(2, nodes))
        clusters[cluster] = sorted(set(rng.choice(nodes, size=size, replace=False).tolist()))
    return graph, clusters


def reference(graph, members, median):
    """The measures by their definitions, with the counts' conventions: a
    self-loop is one adjacency entry, and it leads inside."""
    inside = set(members)
    degree = {u: len(graph[u]) for u in members}
    internal = {u: sum(1 for v in graph[u] if v in inside) for u in members}
    n, total_nodes = len(members), graph.number_of_nodes()
    m = sum(internal.values()) // 2
    total_edges = sum(len(graph[u]) for u in graph) // 2
    c = sum(degree[u] - internal[u] for u in members)

    def ratio(a, b):
        return a / b if b else math.nan

    outside = [ratio(degree[u] - internal[u], degree[u]) if degree[u] else 0.0 for u in members]
    within = [ratio(internal[u], degree[u]) if degree[u] else 0.0 for u in members]
    sub = graph.subgraph(members).copy()
    sub.remove_edges_from(nx.selfloop_edges(sub))
    parts = list(nx.connected_components(sub))
    triangles = nx.triangles(sub)
    return {
        "conductance": ratio(c, 2 * m + c),
        "normalized_cut": ratio(c, 2 * m + c) + ratio(c, 2 * (total_edges - m) + c),
        "cut_ratio": ratio(c, n * (total_nodes - n)),
        "expansion": ratio(c, n),
        "average_internal_degree": ratio(2 * m, n),
        "max_odf": max(outside),
        "average_odf": sum(outside) / n,
        "flake_odf": sum(1 for u in members if internal[u] < degree[u] - internal[u]) / n,
        "embeddedness": sum(within) / n,
        "hub_dominance": ratio(max(internal.values()), n - 1),
        "fomd": sum(1 for u in members if internal[u] > median) / n,
        "components": len(parts),
        "largest_component": max(len(part) for part in parts),
        "triangle_participation": sum(1 for u in members if triangles[u] > 0) / n,
        "mincut": nx.edge_connectivity(sub) if len(parts) == 1 else 0,
    }


@pytest.mark.parametrize("seed", range(12))
def test_measures_match_networkx_and_their_definitions(seed):
    network, clusters = random_case(seed)
    graph = quelmar_tools.graph_from(network)
    table = quelmar_tools.cluster_table(quelmar_tools.clustering_from(graph, clusters),
                                        measures="all")
    median = float(np.median([len(network[u]) for u in network]))
    for cluster, members in clusters.items():
        expected = reference(network, members, median)
        row = table.loc[cluster]
        for name, value in expected.items():
            assert row[name] == pytest.approx(value, rel=1e-12, nan_ok=True), (cluster, name)
        # The smaller side of a minimum cut: as many members as a cut of
        # that many edges leaves on one side.
        side = int(row["mincut_side"])
        assert 1 <= side <= len(members) // 2


def test_mincut_against_igraph_on_a_cluster_with_a_narrow_waist():
    igraph = pytest.importorskip("igraph")
    # Two dense halves joined by three edges.
    halves = [nx.gnp_random_graph(40, 0.3, seed=s) for s in (1, 2)]
    network = nx.disjoint_union(*halves)
    network.add_edges_from([(0, 40), (1, 41), (2, 42)])
    graph = quelmar_tools.graph_from(network)
    table = quelmar_tools.cluster_table(
        quelmar_tools.clustering_from(graph, {1: list(network)}), measures=["mincut", "mincut_side"])
    peer = igraph.Graph(n=80, edges=list(network.edges()))
    assert table.loc[1, "mincut"] == peer.mincut_value() == 3
    assert table.loc[1, "mincut_side"] == 40


def test_columns_follow_the_ones_of_today_in_the_order_asked():
    network, clusters = random_case(3)
    clustering = quelmar_tools.clustering_from(quelmar_tools.graph_from(network), clusters)
    plain = quelmar_tools.cluster_table(clustering)
    table = quelmar_tools.cluster_table(clustering, measures=["mincut", "conductance"])
    assert list(table.columns) == [*plain.columns, "mincut", "conductance"]
    assert table[list(plain.columns)].equals(plain)
    summary = quelmar_tools.summarize(table["conductance"])
    assert len(summary) == 21
    with pytest.raises(ValueError, match="unknown measure 'odf'; known measures: conductance"):
        quelmar_tools.cluster_table(clustering, measures=["odf"])


def test_ctrl_c_stops_a_long_pass_within_a_second():
    # A ring ladder (two 10,000-cycles joined rung by rung): no local rule
    # settles its minimum cut, which takes seconds.
    ring = np.arange(10_000, dtype=np.uint64)
    edges = np.concatenate([np.stack([ring, (ring + 1) % 10_000], axis=1),
                            np.stack([ring + 10_000, (ring + 1) % 10_000 + 10_000], axis=1),
                            np.stack([ring, ring + 10_000], axis=1)])
    graph = quelmar_tools.graph_from(edges)
    nodes = np.arange(20_000, dtype=np.uint64)
    clustering = quelmar_tools.clustering_from(
        graph, np.stack([nodes, np.zeros_like(nodes)], axis=1))

    def interrupt(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.3)
        start = time.monotonic()
        with pytest.raises(KeyboardInterrupt):
            quelmar_tools.cluster_table(clustering, measures=["mincut"])
        assert time.monotonic() - start < 1.3
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
