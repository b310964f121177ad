"""Data as it is published, read by the companion and quelmar-stats: every
form (gzip, header lines, commas, one community per line, standard input, a
membership vector with unassigned nodes) against the same data in the plain
form, its bad variants, and the warnings for clusterings that cannot belong
to the graph: they fire on shifted names and empty files, and stay quiet on
real clusterings."""

import doctest
import gzip
import json
import os
import subprocess
import sys
import tempfile
import warnings

import networkx as nx
import numpy as np
import pytest

import quelmar
import quelmar_tools
from quelmar_tools import building
from support import fingerprint

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
COMMAND = os.path.join(os.path.dirname(sys.executable), "quelmar-stats")


def everything(clustering):
    return fingerprint(clustering.select(lambda c: True).compute_statistics())


def quiet(call, *args, **kwargs):
    """call(...), failing the test on any warning."""
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        return call(*args, **kwargs)


def command(*args, stdin=None):
    done = subprocess.run([COMMAND, *map(str, args)], capture_output=True, timeout=120,
                          input=stdin)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


@pytest.fixture(scope="module")
def planted(tmp_path_factory):
    """A planted partition: the graph's edge list, its clusters, and the
    plain files of both."""
    folder = tmp_path_factory.mktemp("planted")
    network = nx.planted_partition_graph(12, 25, p_in=0.4, p_out=0.01, seed=3)
    # Names scattered over the blocks, as a crawl's are: shifted by one,
    # they land in other blocks.
    order = np.random.default_rng(3).permutation(300).tolist()
    network = nx.relabel_nodes(network, dict(enumerate(order)))
    network.graph["partition"] = [{order[n] for n in block}
                                  for block in nx.planted_partition_graph(
                                      12, 25, 0.4, 0.01, seed=3).graph["partition"]]
    edges = [(a, b) for a, b in network.edges]
    clusters = [sorted(block) for block in network.graph["partition"]]
    (folder / "graph.txt").write_text("".join(f"{a} {b}\n" for a, b in edges))
    (folder / "clusters.txt").write_text(
        "".join(f"{n} {k}\n" for k, nodes in enumerate(clusters) for n in nodes))
    return folder, edges, clusters


def write(folder, name, text):
    path = folder / name
    path.write_bytes(gzip.compress(text.encode()) if name.endswith(".gz") else text.encode())
    return str(path)


class TestTwins:
    def test_graph_forms_load_the_plain_graph(self, planted):
        folder, edges, _ = planted
        plain = quelmar.Graph(str(folder / "graph.txt"))
        expected = everything(quelmar.Clustering(plain, str(folder / "clusters.txt"), cpm=0.2))
        tabs = "".join(f"{a}\t{b}\n" for a, b in edges)
        forms = {
            "snap.ungraph.txt.gz": "# Undirected graph\n# Nodes: 300\n# FromNodeId\tToNodeId\n"
                                   + tabs,
            "konect.tsv": "% sym unweighted\n% 1 300\n" + tabs,
            "table.csv": "source,target\n" + "".join(f"{a},{b}\n" for a, b in edges),
            "spaced.csv.gz": "".join(f"{a}, {b}, 1.0\r\n" for a, b in edges),
        }
        for name, text in forms.items():
            graph = quelmar_tools.graph_from(write(folder, name, text))
            got = everything(quelmar.Clustering(graph, str(folder / "clusters.txt"), cpm=0.2))
            assert got == expected, name

    @pytest.mark.parametrize("name, lines", [
        ("communities.txt", lambda clusters: ["\t".join(map(str, c)) for c in clusters]),
        ("communities.txt.gz", lambda clusters: ["# ground truth"] + [
            " ".join(map(str, c + c[:2])) for c in clusters]),   # repeats count once
        ("communities.csv", lambda clusters: [",".join(map(str, c)) for c in clusters]),
    ])
    def test_communities_load_the_membership_twin(self, planted, name, lines):
        folder, _, clusters = planted
        graph = quelmar.Graph(str(folder / "graph.txt"))
        expected = everything(quelmar.Clustering(graph, str(folder / "clusters.txt")))
        path = write(folder, name, "".join(f"{line}\n" for line in lines(clusters)))
        got = quiet(quelmar_tools.clustering_from, graph, path, layout="communities")
        assert everything(got) == expected
        assert got.select(lambda c: True).keys == list(range(len(clusters)))
        assert quelmar_tools.totals(got) == \
            quelmar_tools.totals(quelmar_tools.clustering_from(graph, clusters))

    def test_membership_vector_leaves_negative_labels_unassigned(self, planted):
        folder, _, clusters = planted
        graph = quelmar.Graph(str(folder / "graph.txt"))
        vector = np.full(300, -1, dtype=np.int64)
        kept = {k: nodes[:-3] for k, nodes in enumerate(clusters)}
        for k, nodes in kept.items():
            vector[nodes] = k
        twin = quelmar_tools.clustering_from(graph, kept)
        for source in (vector, vector.tolist(), vector.astype(np.float64)):
            got = quiet(quelmar_tools.clustering_from, graph, source)
            assert everything(got) == everything(twin)
            assert quelmar_tools.totals(got)["unassigned_nodes"] == 3 * len(clusters)
        assert quelmar_tools.totals(twin)["unassigned_nodes"] == 0
        with pytest.raises(TypeError, match="position 7: cluster id 0.5"):
            quelmar_tools.clustering_from(graph, [-1] * 7 + [0.5])

    def test_standard_input_for_either_file(self, planted):
        folder, edges, clusters = planted
        graph, clustering = folder / "graph.txt", folder / "clusters.txt"
        expected = command(graph, clustering, "--format", "json")
        assert expected[0] == 0
        packed = gzip.compress(graph.read_bytes())
        assert command("-", clustering, "--format", "json", stdin=packed) == expected
        assert command(graph, "-", "--format", "json", stdin=clustering.read_bytes()) == expected
        lines = "".join(" ".join(map(str, c)) + "\n" for c in clusters).encode()
        assert command(graph, "-", "--layout", "communities", "--format", "json",
                       stdin=lines) == expected
        status, out, err = command("-", "-")
        assert (status, out) == (2, "") and "standard input" in err
        status, _, err = command("-", clustering, stdin=b"1 2\n3\n")
        assert status == 1 and err == "quelmar-stats: -:2: missing to\n"


class TestBadForms:
    @pytest.mark.parametrize("name, text, message", [
        ("mid.txt", "# header\n0 1\n# not a header\n1 2\n", r"mid.txt:3: invalid digit .*\"#\""),
        ("mid.txt.gz", "% header\n0 1\n% not a header\n", r"mid.txt.gz:3: invalid digit"),
        ("short.txt", "source,target\n0,1\n2\n", "short.txt:3: missing to"),
    ])
    def test_graph_files(self, tmp_path, name, text, message):
        with pytest.raises(ValueError, match=message):
            quelmar_tools.graph_from(write(tmp_path, name, text))

    def test_truncated_gzip_names_the_file(self, tmp_path, planted):
        folder, _, _ = planted
        packed = gzip.compress((folder / "graph.txt").read_bytes())
        path = tmp_path / "cut.txt.gz"
        path.write_bytes(packed[:len(packed) // 2])
        with pytest.raises(ValueError, match=f"cannot load {path}: gzip data ends"):
            quelmar_tools.graph_from(path)
        status, out, err = command(path, folder / "clusters.txt")
        assert (status, out) == (1, "") and err.startswith(f"quelmar-stats: cannot load {path}")

    def test_community_files(self, tmp_path, planted):
        folder, _, _ = planted
        graph = quelmar.Graph(str(folder / "graph.txt"))
        for text, message in [("# h\n0 1\n\n2 3\n", "c.txt:3: missing node_name"),
                              ("0 1\n2 3x\n", 'c.txt:2: invalid digit found in string "3x"'),
                              ("0 1\n2 998 999\n", "c.txt:2: node 999 requested in cluster 1")]:
            path = write(tmp_path, "c.txt", text)
            with pytest.raises(ValueError, match=message):
                quelmar_tools.clustering_from(graph, path, layout="communities")
        with pytest.raises(ValueError, match="unknown layout 'rows'"):
            quelmar_tools.clustering_from(graph, path, layout="rows")
        with pytest.raises(ValueError, match="describes a file"):
            quelmar_tools.clustering_from(graph, [[0, 1]], layout="communities")
        status, out, err = command(folder / "graph.txt", write(tmp_path, "e.txt", "0 1\n\n"),
                                   "--layout", "communities")
        assert (status, out) == (1, "") and err.count("\n") == 1 and ":2: missing node_name" in err

    def test_the_module_keeps_its_grammar(self, tmp_path):
        for name, text in [("h.txt", "# h\n0 1\n"), ("c.txt", "0,1\n"), ("g.txt.gz", "0 1\n")]:
            with pytest.raises(BaseException) as raised:  # noqa: B017 - PanicException
                quelmar.Graph(write(tmp_path, name, text))
            assert type(raised.value).__name__ == "PanicException"


def shifted(clusters, by=1):
    return {k: [n + by for n in nodes] for k, nodes in enumerate(clusters)}


class TestMisreadings:
    def test_shifted_names_warn_and_fail_under_strict(self, tmp_path, planted):
        folder, _, clusters = planted
        graph = quelmar.Graph(str(folder / "graph.txt"))
        with pytest.warns(UserWarning, match="fewer than twice .* shifted.*strict=True"):
            quelmar_tools.clustering_from(graph, shifted(clusters))
        path = write(tmp_path, "shifted.txt", "".join(
            f"{n} {k}\n" for k, nodes in shifted(clusters).items() for n in nodes))
        status, out, err = command(folder / "graph.txt", path)
        assert status == 0 and "warning: the clusters hold" in err
        status, out, err = command(folder / "graph.txt", path, "--strict")
        assert (status, out) == (1, "")
        # Another graph's clustering: the right names, the wrong graph.
        other = nx.planted_partition_graph(12, 25, p_in=0.4, p_out=0.01, seed=4)
        mixed = np.random.default_rng(1).permutation(300)
        relabelled = quelmar_tools.graph_from(
            nx.relabel_nodes(other, dict(enumerate(mixed.tolist()))))
        with pytest.warns(UserWarning, match="random node sets"):
            quelmar_tools.clustering_from(relabelled, clusters)

    def test_empty_clusterings_warn_and_fail_under_strict(self, tmp_path, planted):
        folder, _, _ = planted
        graph = quelmar.Graph(str(folder / "graph.txt"))
        empty = write(tmp_path, "empty.txt", "# nothing but a header\n")
        with pytest.warns(UserWarning, match="empty.txt holds no membership"):
            quelmar_tools.clustering_from(graph, empty)
        with pytest.raises(ValueError, match="holds no membership"):
            quelmar_tools.clustering_from(graph, [], strict=True)
        assert command(folder / "graph.txt", empty)[0] == 0
        status, out, err = command(folder / "graph.txt", empty, "--strict")
        assert (status, out) == (1, "") and "holds no membership" in err

    @pytest.mark.parametrize("graph, clustering", [
        ("examples/data/graph.tsv", "examples/data/clustering.tsv"),
        ("examples/data/graph.tsv", "examples/data/clustering_alt.tsv"),
    ])
    def test_bundled_clusterings_are_quiet(self, graph, clustering):
        loaded = quelmar_tools.graph_from(os.path.join(ROOT, graph))
        quiet(quelmar_tools.clustering_from, loaded, os.path.join(ROOT, clustering))

    def test_lfr_ground_truth_and_detected_clusterings_are_quiet(self):
        network = nx.LFR_benchmark_graph(1000, 3, 1.5, 0.3, average_degree=10, max_degree=50,
                                         min_community=20, max_community=100, seed=7)
        network.remove_edges_from(nx.selfloop_edges(network))
        graph = quelmar_tools.graph_from(network)
        truth = {frozenset(network.nodes[n]["community"]) for n in network}
        for clustering in (list(truth), nx.community.louvain_communities(network, seed=7),
                           nx.community.label_propagation_communities(network)):
            quiet(quelmar_tools.clustering_from, graph, [sorted(c) for c in clustering])
        with pytest.warns(UserWarning, match="random node sets"):
            quelmar_tools.clustering_from(graph, [[n + 1 for n in c] for c in truth])

    def test_clusters_covering_most_of_the_graph_are_quiet(self, planted):
        folder, _, clusters = planted
        graph = quelmar.Graph(str(folder / "graph.txt"))
        quiet(quelmar_tools.clustering_from, graph, [list(range(300))])
        halves = [sum(clusters[:6], []), sum(clusters[6:], [])]
        quiet(quelmar_tools.clustering_from, graph, halves)
        with pytest.warns(UserWarning, match="random node sets"):
            quelmar_tools.clustering_from(graph, [list(range(150)), list(range(150, 300))])


def test_report_counts_unassigned_nodes(planted):
    folder, _, _ = planted
    status, out, _ = command(folder / "graph.txt", folder / "clusters.txt")
    assert status == 0 and ", 0 unassigned nodes" in out
    status, out, _ = command(folder / "graph.txt", folder / "clusters.txt", "--format", "json")
    assert json.loads(out)["unassigned_nodes"] == 0


def test_networkit_graphs_and_their_clusterings():
    nk = pytest.importorskip("networkit")
    generator = nk.generators.LFRGenerator(2000)
    generator.generatePowerlawDegreeSequence(15, 50, -2)
    generator.generatePowerlawCommunitySizeSequence(20, 100, -1)
    generator.setMu(0.3)
    network = generator.run().getGraph()
    truth = generator.getPartition()
    graph = quelmar_tools.graph_from(network)
    twin = nx.Graph(list(network.iterEdges()))
    twin.add_nodes_from(network.iterNodes())
    assert quelmar_tools.totals(quelmar_tools.clustering_from(graph, truth)) == \
        quelmar_tools.totals(quelmar_tools.clustering_from(quelmar_tools.graph_from(twin), truth))
    leiden = nk.community.ParallelLeiden(network)
    leiden.run()
    for clustering in (truth, leiden.getPartition()):
        quiet(quelmar_tools.clustering_from, graph, clustering)
    vector = np.asarray(truth.getVector(), dtype=np.int64)
    with pytest.warns(UserWarning, match="random node sets"):
        quelmar_tools.clustering_from(graph, np.roll(vector, 1))
    weighted = nk.Graph(3, weighted=True, directed=True)
    weighted.addEdge(0, 1, 2.5)
    with pytest.warns(UserWarning, match="ignored: edge directions, edge weights"):
        quelmar_tools.graph_from(weighted)


def test_wcc_reads_communities_from_standard_input_and_is_strict(tmp_path, planted):
    folder, _, clusters = planted
    wcc = os.path.join(os.path.dirname(sys.executable), "quelmar-wcc")

    def refine(*args, stdin=None):
        done = subprocess.run([wcc, *map(str, args)], capture_output=True, timeout=120,
                              input=stdin)
        return done.returncode, done.stdout.decode(), done.stderr.decode()

    plain = refine(folder / "graph.txt", folder / "clusters.txt", tmp_path / "plain.txt")
    assert plain[0] == 0 and plain[2] == ""
    lines = "".join(" ".join(map(str, c)) + "\n" for c in clusters).encode()
    piped = refine(folder / "graph.txt", "-", tmp_path / "piped.txt", "--layout", "communities",
                   stdin=lines)
    assert piped == plain
    assert (tmp_path / "piped.txt").read_text() == (tmp_path / "plain.txt").read_text()
    moved = "".join(" ".join(str((n + 1) % 300) for n in c) + "\n" for c in clusters).encode()
    status, out, err = refine(folder / "graph.txt", "-", tmp_path / "moved.txt", "--layout",
                              "communities", "--strict", stdin=moved)
    assert (status, out) == (1, "") and "random node sets" in err
    assert refine("-", "-", tmp_path / "x.txt")[0] == 2


def test_reader_examples_run(tmp_path, monkeypatch):
    # graph_from_file, clustering_from_file and misreading are public in
    # their module only, so test_docstrings does not run their examples.
    monkeypatch.setattr(tempfile, "tempdir", str(tmp_path))
    assert doctest.testmod(building).failed == 0
