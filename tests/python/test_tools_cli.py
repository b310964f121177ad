"""The quelmar-stats command: its formats, files and exit statuses."""

import importlib.util
import json
import os
import subprocess
import sys

import pandas as pd
import pytest

import quelmar
import quelmar_tools

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DATA = os.path.join(ROOT, "examples", "data")
GRAPH = os.path.join(DATA, "graph.tsv")
CLUSTERING = os.path.join(DATA, "clustering.tsv")
OTHER = os.path.join(DATA, "clustering_alt.tsv")
COMMAND = os.path.join(os.path.dirname(sys.executable), "quelmar-stats")


def run(*args):
    done = subprocess.run([COMMAND, *map(str, args)], capture_output=True, text=True, timeout=120)
    return done.returncode, done.stdout, done.stderr


def test_text_report_with_comparison():
    status, out, err = run(GRAPH, CLUSTERING, "--cpm", "0.1", "--compare", OTHER)
    assert (status, err) == (0, "")
    assert out.startswith("clusters        120\ncovered nodes   1003 of 1153 (87.0 %)\n")
    assert "cpm  " in out and "against clustering_alt.tsv: 120 clusters compared" in out


def test_json_and_csv_agree(tmp_path):
    ids = tmp_path / "ids.txt"
    ids.write_text("10\n\n30\n999\n")
    status, out, _ = run(GRAPH, CLUSTERING, "--ids", ids, "--format", "json", "--compare", OTHER)
    report = json.loads(out)
    assert status == 0 and report["num_clusters"] == 2
    assert report["comparison"]["compared"] == 2 and len(report["comparison"]["changes"]) == 21
    status, out, _ = run(GRAPH, CLUSTERING, "--ids", ids, "--format", "csv")
    table = pd.read_csv(pd.io.common.StringIO(out), index_col="statistic")
    assert table.loc["size"].tolist() == report["distributions"]["size"]


def test_cluster_table_file(tmp_path):
    out = tmp_path / "clusters.csv"
    assert run(GRAPH, CLUSTERING, "--cpm", "0.1", "--clusters", out)[0] == 0
    table = pd.read_csv(out, index_col="id")
    assert len(table) == 120 and "cpm" in table


@pytest.mark.parametrize("args, status, text", [
    ((GRAPH, "absent.tsv"), 1, "quelmar-stats: absent.tsv: No such file or directory\n"),
    ((CLUSTERING, GRAPH), 1, f"quelmar-stats: {GRAPH}:587: node "),
    ((GRAPH, CLUSTERING, "--ids", GRAPH), 1, "line 1: not a cluster id"),
    ((GRAPH,), 2, "usage: quelmar-stats"),
    ((GRAPH, CLUSTERING, "--clusters", "out.txt"), 2, ".csv or .parquet"),
    ((GRAPH, CLUSTERING, "--format", "xml"), 2, "invalid choice"),
    ((GRAPH, CLUSTERING, "--measures", "conductance,odf"), 2,
     "error: --measures: unknown measure 'odf'; known measures: conductance, normalized_cut"),
])
def test_failures(args, status, text):
    got, out, err = run(*args)
    assert (got, out) == (status, "")
    assert text in err and "Traceback" not in err
    if status == 1:
        assert err.count("\n") == 1


@pytest.mark.skipif(importlib.util.find_spec("pyarrow") is not None, reason="pyarrow installed")
def test_parquet_needs_pyarrow(tmp_path):
    status, _, err = run(GRAPH, CLUSTERING, "--clusters", tmp_path / "t.parquet")
    assert status == 1 and "needs pyarrow" in err


def test_summed_modularity_and_its_caveat(tmp_path):
    # The example clustering overlaps; its first cluster per node is a partition.
    first = {}
    with open(CLUSTERING) as lines:
        for node, cluster in (line.split() for line in lines):
            first.setdefault(node, cluster)
    partition = tmp_path / "partition.tsv"
    partition.write_text("".join(f"{node}\t{cluster}\n" for node, cluster in first.items()))
    ids = tmp_path / "ids.txt"
    ids.write_text("10\n30\n")
    graph = quelmar.Graph(GRAPH)
    for path, selected, overlapping in [(CLUSTERING, None, True), (partition, [10, 30], False)]:
        options = ["--ids", ids] if selected else []
        expected = quelmar_tools.totals(quelmar.Clustering(graph, str(path)), ids=selected)
        report = json.loads(run(GRAPH, path, "--format", "json", *options)[1])
        assert (report["modularity"], report["overlapping"]) == \
            (expected["modularity"], overlapping)
        line = run(GRAPH, path, *options)[1].splitlines()[3]
        assert line.startswith(f"modularity      {expected['modularity']:.6f}")
        assert ("clusters overlap" in line) == overlapping


def test_csv_floats_are_shortest_round_trips(tmp_path):
    table = tmp_path / "clusters.csv"
    out = run(GRAPH, CLUSTERING, "--cpm", "0.1", "--format", "csv", "--clusters", table)[1]
    for text in (out, table.read_text()):
        fields = [field for line in text.splitlines()[1:] for field in line.split(",")[1:]]
        floats = [field for field in fields if not field.isdigit()]
        assert floats and all(repr(float(field)) == field for field in floats)
