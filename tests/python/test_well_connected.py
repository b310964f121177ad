"""well_connected against networkx on random planted graphs (overlapping and
disconnected clusters, self-loops), exact outcomes where the minimum cut is
unique, the criterion, recluster, the pool size, memberships and
write_clustering, and the quelmar-wcc command."""

import doctest
import math
import os
import re
import signal
import subprocess
import sys
import time

import networkx as nx
import numpy as np
import pandas as pd
import pytest
from hypothesis import given, settings, strategies as st

import quelmar
import quelmar_tools
from quelmar_tools import refinement
from quelmar_tools.refinement import least_connectivity, parse_criterion
from support import run_python

COMMAND = os.path.join(os.path.dirname(sys.executable), "quelmar-wcc")


def planted_case(seed):
    """Blocks of uneven density joined sparsely, self-loops, and clusters that
    are unions of blocks, parts of blocks and random sets, so they overlap and
    some are disconnected."""
    rng = np.random.default_rng(seed)
    network = nx.Graph()
    blocks, start = [], 0
    for _ in range(int(rng.integers(4, 9))):
        size = int(rng.integers(6, 40))
        block = list(range(start, start + size))
        start += size
        p = float(rng.uniform(0.2, 0.9))
        network.add_nodes_from(block)
        network.add_edges_from((a, b) for i, a in enumerate(block) for b in block[i + 1:]
                               if rng.random() < p)
        blocks.append(block)
    nodes = start
    network.add_edges_from(map(tuple, rng.integers(0, nodes, size=(nodes // 3, 2)).tolist()))
    network.add_edges_from((u, u) for u in rng.choice(nodes, size=5, replace=False).tolist())
    clusters = {}
    for k in range(int(rng.integers(3, 8))):
        chosen = rng.choice(len(blocks), size=int(rng.integers(1, 4)), replace=False)
        members = {u for b in chosen for u in blocks[b] if rng.random() < 0.9}
        if rng.random() < 0.3:
            members |= set(rng.choice(nodes, size=5).tolist())
        clusters[10 * k + 3] = sorted(members)
    return network, clusters


def induced(network, members):
    sub = network.subgraph(members).copy()
    sub.remove_edges_from(nx.selfloop_edges(sub))
    return sub


def outputs_of(refined):
    table = quelmar_tools.memberships(refined.clustering)
    return {int(cluster): set(group["node"].tolist()) for cluster, group in
            table.groupby("cluster")}


CRITERIA = [("log10", lambda n: math.log10(n)), ("2", lambda n: 2.0),
            ("0.1n^0.5+log2", lambda n: 0.1 * n ** 0.5 + math.log2(n))]


@pytest.mark.parametrize("seed", range(10))
@pytest.mark.parametrize("criterion, t", CRITERIA, ids=[c for c, _ in CRITERIA])
def test_outputs_are_well_connected_pieces_of_their_origin(seed, criterion, t):
    network, clusters = planted_case(seed)
    min_size = [11, 2, 5][seed % 3]
    clustering = quelmar_tools.clustering_from(quelmar_tools.graph_from(network), clusters)
    refined = quelmar_tools.well_connected(clustering, criterion=criterion, min_size=min_size)
    outputs = outputs_of(refined)
    assert sorted(outputs) == list(range(len(outputs)))
    report = refined.report
    assert list(report.index) == sorted(clusters) and report.index.name == "id"
    for cluster, members in outputs.items():
        origin = int(refined.origin[cluster])
        sub = induced(network, members)
        assert members <= set(clusters[origin])
        assert len(members) >= min_size and nx.is_connected(sub)
        assert nx.edge_connectivity(sub) > t(len(members))
    for key, members in clusters.items():
        mine = [outputs[k] for k in refined.origin.index[refined.origin == key]]
        assert sum(map(len, mine)) == len(set().union(*mine)) == report.loc[key, "kept"]
        assert report.loc[key, "clusters"] == len(mine) and report.loc[key, "n"] == len(members)
        sub = induced(network, members)
        as_given = (len(members) >= min_size and nx.is_connected(sub)
                    and nx.edge_connectivity(sub) > t(len(members)))
        assert bool(report.loc[key, "well_connected"]) == as_given
        if as_given:
            assert mine == [set(members)] and report.loc[key, "cuts"] == 0
    # Ordered by origin, then by smallest member.
    firsts = [(int(refined.origin[k]), min(outputs[k])) for k in sorted(outputs)]
    assert firsts == sorted(firsts)


def cliques(count, size, links=1):
    """`count` cliques of `size` in a row, each joined to the next by `links`
    disjoint edges."""
    network = nx.Graph()
    for b in range(count):
        network.add_edges_from(nx.complete_graph(range(b * size, (b + 1) * size)).edges)
        if b + 1 < count:
            network.add_edges_from((b * size + i, (b + 1) * size + i) for i in range(links))
    return network


@pytest.mark.parametrize("links, criterion, pieces", [
    (1, "log10", 2), (3, "log10", 1), (3, "3", 2), (3, "2.9", 1),
])
def test_two_blocks_split_exactly_at_their_unique_minimum_cut(links, criterion, pieces):
    network = cliques(2, 12, links)
    graph = quelmar_tools.graph_from(network)
    refined = quelmar_tools.well_connected(
        quelmar_tools.clustering_from(graph, {7: list(range(24))}), criterion=criterion)
    expected = [set(range(24))] if pieces == 1 else [set(range(12)), set(range(12, 24))]
    assert list(outputs_of(refined).values()) == expected
    assert refined.report.loc[7].tolist() == [24, pieces, 24, pieces - 1, pieces == 1]
    if pieces == 2:
        assert set(nx.minimum_edge_cut(network)) == {(i, 12 + i) for i in range(links)}


def test_a_chain_of_blocks_with_a_tail_and_the_outputs_downstream():
    network = cliques(30, 12)
    network.add_edges_from((u, u + 1) for u in range(359, 364))  # a tail of 5, dropped
    graph = quelmar_tools.graph_from(network)
    clustering = quelmar_tools.clustering_from(graph, {0: list(range(365)), 1: list(range(36))})
    refined = quelmar_tools.well_connected(clustering)
    assert refined.origin.tolist() == [0] * 30 + [1] * 3
    assert refined.report["cuts"].tolist() == [30, 2]
    # The outputs are an ordinary clustering of the same graph.
    table = quelmar_tools.cluster_table(refined.clustering, measures=["mincut"])
    assert table["n"].tolist() == [12] * 33 and table["mincut"].tolist() == [11.0] * 33
    assert refined.clustering.select(lambda c: True).compute_statistics().covered_nodes == 360
    assert quelmar_tools.compare(refined.clustering, clustering, ids=None)["f1"] > 0


def test_criterion_strings():
    n = np.array([10.0, 100.0, 1024.0])
    for text, expected in [("log10", np.log10(n)), ("2log10", 2 * np.log10(n)),
                           ("log10+1", np.log10(n) + 1), ("2", 2 + 0 * n),
                           ("0.1n^0.5", 0.1 * n ** 0.5), ("log2 + 1e-1 n^1", np.log2(n) + 0.1 * n),
                           ("3*log2", 3 * np.log2(n))]:
        assert parse_criterion(text)(n).tolist() == pytest.approx(expected.tolist()), text
    for bad in ["", "log", "log10+", "n", "2n", "-1", "log10*n", "ln", "n^", "2 x"]:
        with pytest.raises(ValueError, match=re.escape(f"criterion {bad!r}")):
            parse_criterion(bad)


def test_least_connectivity_is_the_strict_inequality():
    # t(10) = 1 exactly: λ = 1 fails, 2 passes.
    assert least_connectivity("log10", 9, 11).tolist() == [1, 2, 2]
    never = np.iinfo(np.uint64).max
    values = {2: -5.0, 3: math.nan, 4: math.inf, 5: -math.inf, 6: 2.5, 7: 1e30}
    assert least_connectivity(values.__getitem__, 2, 7).tolist() == [0, never, never, 0, 3,
                                                                      never]
    with pytest.raises(TypeError, match="criterion must be a str or a callable"):
        least_connectivity(3, 2, 5)


def test_argument_errors_and_a_failing_criterion():
    graph = quelmar_tools.graph_from(cliques(2, 12))
    clustering = quelmar_tools.clustering_from(graph, [range(24)])
    with pytest.raises(ValueError, match="min_size must be at least 2, got 1"):
        quelmar_tools.well_connected(clustering, min_size=1)
    with pytest.raises(ValueError, match="criterion 'log3'"):
        quelmar_tools.well_connected(clustering, criterion="log3")
    with pytest.raises(TypeError, match="expected a quelmar.Clustering"):
        quelmar_tools.well_connected(graph)

    def broken(n):
        raise ZeroDivisionError("no")

    with pytest.raises(ZeroDivisionError):
        quelmar_tools.well_connected(clustering, criterion=broken)
    # ids as select_in takes them: unknown ids select nothing.
    refined = quelmar_tools.well_connected(clustering, ids=[0, 99])
    assert refined.report.index.tolist() == [0]
    assert quelmar_tools.well_connected(clustering, ids=[99]).report.empty


def same(a, b):
    pd.testing.assert_frame_equal(quelmar_tools.memberships(a.clustering),
                                  quelmar_tools.memberships(b.clustering))
    pd.testing.assert_series_equal(a.origin, b.origin)
    pd.testing.assert_frame_equal(a.report, b.report)


@pytest.mark.parametrize("seed", range(6))
def test_identity_recluster_changes_nothing(seed):
    network, clusters = planted_case(seed)
    clustering = quelmar_tools.clustering_from(quelmar_tools.graph_from(network), clusters)
    seen = []

    def identity(edges, nodes):
        assert edges.dtype == np.uint64 and nodes.dtype == np.uint64 and edges.shape[1] == 2
        expected = induced(network, nodes.tolist())
        assert sorted(map(sorted, edges.tolist())) == sorted(map(sorted, expected.edges))
        seen.append(len(nodes))
        return [nodes]

    for criterion, min_size in [("log10", 5), ("2log2", 2)]:
        plain = quelmar_tools.well_connected(clustering, criterion=criterion, min_size=min_size)
        same(quelmar_tools.well_connected(clustering, criterion=criterion, min_size=min_size,
                                          recluster=identity), plain)
    assert seen


def test_recluster_results_are_checked_and_used():
    network = cliques(4, 12)
    clustering = quelmar_tools.clustering_from(quelmar_tools.graph_from(network),
                                               {5: list(range(48))})
    # Every side dropped: nothing comes out, one cut made.
    dropped = quelmar_tools.well_connected(clustering, recluster=lambda edges, nodes: [])
    assert len(dropped.origin) == 0 and dropped.report.loc[5].tolist() == [48, 0, 0, 1, False]
    # Each side split in halves by name: pieces of 12 that are K12.
    halves = quelmar_tools.well_connected(
        clustering, recluster=lambda edges, nodes: [nodes[nodes < 24], nodes[nodes >= 24]])
    assert sorted(map(min, outputs_of(halves).values())) == [0, 12, 24, 36]
    for bad, message in [(lambda e, n: [[*n.tolist(), 999]], "node 999, which is not in the side"),
                         (lambda e, n: [n, n[:1]], "in two collections")]:
        with pytest.raises(ValueError, match=message):
            quelmar_tools.well_connected(clustering, recluster=bad)

    def failing(edges, nodes):
        raise RuntimeError("method failed")

    with pytest.raises(RuntimeError, match="method failed"):
        quelmar_tools.well_connected(clustering, recluster=failing)


def test_results_do_not_depend_on_the_pool_size(tmp_path):
    network, clusters = planted_case(3)
    for seed in range(4, 8):  # more clusters, more to share out
        more_network, more = planted_case(seed)
        offset = network.number_of_nodes()
        network = nx.disjoint_union(network, more_network)
        clusters.update({key + 1000 * seed: [u + offset for u in members]
                         for key, members in more.items()})
    edges = tmp_path / "edges.txt"
    edges.write_text("".join(f"{u} {v}\n" for u, v in network.edges))
    memberships = tmp_path / "clusters.txt"
    memberships.write_text("".join(f"{u} {k}\n" for k, members in clusters.items()
                                   for u in members))
    code = """
        import quelmar, quelmar_tools, sys
        quelmar.set_nthreads({workers})
        graph = quelmar.Graph({edges!r})
        refined = quelmar_tools.well_connected(quelmar.Clustering(graph, {clusters!r}),
                                               criterion="log2", min_size=4)
        print(quelmar_tools.memberships(refined.clustering).to_csv())
        print(refined.report.to_csv(), refined.origin.to_csv())
    """
    runs = [run_python(code.format(workers=w, edges=str(edges), clusters=str(memberships)))
            for w in (1, 2, 5)]
    assert all(run.returncode == 0 for run in runs), runs[0].stderr
    assert runs[0].stdout == runs[1].stdout == runs[2].stdout
    assert runs[0].stdout.count("\n") > 100


def test_ctrl_c_stops_the_pass_within_a_second():
    # A ring ladder has λ = 3 and no bridge; asking for more makes the pass
    # cut it with the full minimum cut, again and again.
    ring = np.arange(10_000, dtype=np.uint64)
    edges = np.concatenate([np.stack([ring, (ring + 1) % 10_000], axis=1),
                            np.stack([ring + 10_000, (ring + 1) % 10_000 + 10_000], axis=1),
                            np.stack([ring, ring + 10_000], axis=1)])
    nodes = np.arange(20_000, dtype=np.uint64)
    clustering = quelmar_tools.clustering_from(
        quelmar_tools.graph_from(edges), np.stack([nodes, np.zeros_like(nodes)], axis=1))

    def interrupt(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.3)
        start = time.monotonic()
        with pytest.raises(KeyboardInterrupt):
            quelmar_tools.well_connected(clustering, criterion="5", min_size=2)
        assert time.monotonic() - start < 1.3
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


names = st.integers(0, 2 ** 64 - 1)


@pytest.mark.filterwarnings("ignore:no cluster remains")
@settings(max_examples=30, deadline=None)
@given(st.lists(st.tuples(names, names), min_size=1, max_size=40),
       st.lists(st.tuples(st.integers(0, 60), st.sampled_from([0, 7, 2 ** 63, 2 ** 64 - 1])),
                min_size=1, max_size=80))
def test_memberships_and_write_clustering_round_trip(tmp_path_factory, edges, picks):
    graph = quelmar_tools.graph_from(edges)
    known = sorted({name for edge in edges for name in edge})
    rows = [(known[i % len(known)], cluster) for i, cluster in picks]
    clustering = quelmar_tools.clustering_from(graph, np.array(rows, dtype=np.uint64))
    table = quelmar_tools.memberships(clustering)
    assert list(table.columns) == ["node", "cluster"]
    assert (table.dtypes == np.uint64).all()
    expected = {}
    for node, cluster in rows:
        expected.setdefault(cluster, set()).add(node)
    expected = sorted((c, n) for c, members in expected.items() if len(members) > 1
                      for n in members)
    assert list(zip(table["cluster"].tolist(), table["node"].tolist())) == expected
    folder = tmp_path_factory.mktemp("written")
    path = folder / "clusters.txt"
    quelmar_tools.write_clustering(clustering, path)
    again = quelmar.Clustering(graph, str(path))
    pd.testing.assert_frame_equal(quelmar_tools.memberships(again), table)
    assert os.listdir(folder) == ["clusters.txt"]
    some = sorted({c for c, _ in expected})[:1]
    assert quelmar_tools.memberships(clustering, ids=some)["cluster"].tolist() == [
        c for c, _ in expected if c in some]


def test_write_clustering_leaves_nothing_behind_when_it_fails(tmp_path):
    graph = quelmar_tools.graph_from([[1, 2]])
    clustering = quelmar_tools.clustering_from(graph, [[1, 2]])
    (tmp_path / "taken").mkdir()
    with pytest.raises(OSError):
        quelmar_tools.write_clustering(clustering, tmp_path / "taken")
    assert os.listdir(tmp_path) == ["taken"]


def run(*args):
    done = subprocess.run([COMMAND, *map(str, args)], capture_output=True, text=True, timeout=120)
    return done.returncode, done.stdout, done.stderr


def test_command(tmp_path):
    network = cliques(3, 12)
    edges, clusters = tmp_path / "edges.txt", tmp_path / "clusters.txt"
    edges.write_text("".join(f"{u} {v}\n" for u, v in network.edges))
    clusters.write_text("".join(f"{u} 4\n" for u in range(36)) + "0 5\n1 5\n")
    out, report = tmp_path / "out.txt", tmp_path / "report.csv"
    status, text, err = run(edges, clusters, out, "--report", report)
    assert (status, err) == (0, "")
    assert text.splitlines()[:3] == ["input clusters    2", "well-connected    0 as given (0.0 %)",
                                     "output clusters   3 after 2 cuts"]
    assert "36 of 36 (100.0 %) before, 36 (100.0 %) after" in text
    graph = quelmar.Graph(str(edges))
    written = quelmar_tools.memberships(quelmar.Clustering(graph, str(out)))
    assert written["cluster"].tolist() == [0] * 12 + [1] * 12 + [2] * 12
    table = pd.read_csv(report, index_col="id")
    assert table.loc[4].tolist() == [36, 3, 36, 2, False]
    for args, expected, message in [
        ((edges, tmp_path / "absent.txt", out), 1, "quelmar-wcc: "),
        ((edges, clusters, tmp_path / "no" / "out.txt"), 1, "quelmar-wcc: "),
        ((edges, clusters, out, "--criterion", "log3"), 2, "--criterion: criterion 'log3'"),
        ((edges, clusters, out, "--min-size", "1"), 2, "--min-size: must be at least 2"),
        ((edges, clusters), 2, "usage: quelmar-wcc"),
    ]:
        status, text, err = run(*args)
        assert (status, text) == (expected, ""), err
        assert message in err and "Traceback" not in err
        if expected == 1:
            assert err.count("\n") == 1


def test_docstring_examples_run():
    # test_docstrings runs the public names' examples, members' included;
    # this module's criterion helpers are public here only.
    assert doctest.testmod(refinement).failed == 0
