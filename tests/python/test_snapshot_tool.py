"""quelmar-snapshot: an edge list through a snapshot loads into the same graph;
failures and interruptions leave no output behind."""

import os
import random
import signal
import subprocess
import sys
import time

import pytest

import quelmar
from support import fingerprint, run_on_terminal, skeleton_counts

TOOL = os.path.join(os.path.dirname(sys.executable), "quelmar-snapshot")


def convert(*args, **kwargs):
    return subprocess.run([TOOL, *map(str, args)], capture_output=True, text=True, timeout=120,
                          **kwargs)


def everything_about(graph, clustering_path, other_path):
    """All the module reports about a graph and two clusterings of it."""
    clustering = quelmar.Clustering(graph, clustering_path, cpm=0.25)
    other = quelmar.Clustering(graph, other_path)
    everything = clustering.select(lambda c: True)
    grown, changes = everything.compute_size_diff(other)
    return (fingerprint(everything.compute_statistics()), skeleton_counts(clustering), grown,
            changes.percentiles)


@pytest.fixture
def messy_graph(files):
    """An edge list with what real files hold: repeats, reversals, self-loops,
    extreme names, extra tokens, tabs and CRLF endings; two clusterings."""
    rng = random.Random(11)
    names = sorted({rng.randrange(2**64) for _ in range(300)}) + [0, 2**64 - 1]
    lines = []
    for _ in range(2500):
        a, b = rng.choice(names), rng.choice(names)
        lines.append(rng.choice([f"{a} {b}", f"{b}\t{a}", f"+{a} {b} 3.5 x", f"{a} {b}\r"]))
    lines += [f"{names[0]} {names[0]}", f"{2**64 - 1} 0"]
    clusters = {k: rng.sample(names, rng.randrange(2, 40)) for k in range(1, 60)}
    other = {k: rng.sample(names, rng.randrange(2, 40)) for k in range(1, 60)}
    return (files.lines(lines, "graph.txt"), files.clusters(clusters),
            files.clusters(other, "other.txt"))


class TestRoundTrip:
    def test_snapshot_gives_the_statistics_of_its_edge_list(self, messy_graph, tmp_path):
        graph_path, clustering, other = messy_graph
        out = tmp_path / "graph.lz4"
        done = convert(graph_path, out)
        assert done.returncode == 0, done.stderr
        assert done.stderr == ""
        assert f"{out}: 302 nodes" in done.stdout
        from_text = everything_about(quelmar.Graph(graph_path), clustering, other)
        from_snapshot = everything_about(quelmar.Graph(str(out)), clustering, other)
        assert from_snapshot == from_text
        assert from_text[0][3] == 302

    def test_output_depends_on_the_graph_alone(self, messy_graph, tmp_path):
        graph_path, _, _ = messy_graph
        assert convert(graph_path, tmp_path / "a.lz4").returncode == 0
        assert convert("-q", graph_path, tmp_path / "b.lz4").returncode == 0
        # A snapshot converts to itself.
        assert convert(tmp_path / "a.lz4", tmp_path / "c.lz4").returncode == 0
        first = (tmp_path / "a.lz4").read_bytes()
        assert (tmp_path / "b.lz4").read_bytes() == first
        assert (tmp_path / "c.lz4").read_bytes() == first

    def test_empty_edge_list(self, files, tmp_path):
        out = tmp_path / "empty.lz4"
        assert convert(files.lines([], "empty.txt"), out).returncode == 0
        stats = quelmar.Clustering(quelmar.Graph(str(out)), files.memberships([])) \
            .select_in([]).compute_statistics()
        assert (stats.total_nodes, stats.total_edges) == (0, 0)


class TestFailures:
    @pytest.mark.parametrize("lines, message", [
        (["1 2", "3"], "missing to"),
        (["1 2", "", "3 4"], "missing from"),
        (["1 -2"], "invalid digit found in string"),
        (["1 18446744073709551616"], "number too large to fit in target type"),
    ])
    def test_malformed_input(self, files, tmp_path, lines, message):
        source = files.lines(lines, "bad.txt")
        done = convert(source, tmp_path / "out.lz4")
        assert done.returncode == 1
        assert done.stderr == f"quelmar-snapshot: cannot load {source}: {message}\n"
        assert done.stdout == ""
        assert sorted(os.listdir(tmp_path)) == ["bad.txt"]

    def test_missing_input(self, tmp_path):
        done = convert(tmp_path / "none.txt", tmp_path / "out.lz4")
        assert done.returncode == 1
        assert "cannot load" in done.stderr
        assert "No such file or directory (os error 2)" in done.stderr
        assert os.listdir(tmp_path) == []

    def test_unwritable_output(self, files, tmp_path):
        done = convert(files.edges([(1, 2)]), tmp_path / "no" / "dir" / "out.lz4")
        assert done.returncode == 1
        assert done.stderr.startswith("quelmar-snapshot: cannot write ")
        assert done.stderr.endswith("No such file or directory (os error 2)\n")

    def test_failed_run_keeps_the_old_output(self, files, tmp_path):
        out = tmp_path / "out.lz4"
        out.write_bytes(b"previous")
        assert convert(files.lines(["1 2", "x"], "bad.txt"), out).returncode == 1
        assert out.read_bytes() == b"previous"
        assert sorted(os.listdir(tmp_path)) == ["bad.txt", "out.lz4"]

    @pytest.mark.parametrize("args", [[], ["a.txt"], ["a.txt", "b.lz4", "c"], ["--frobnicate"],
                                      ["a.txt", "out.txt"], ["a.txt", "out.LZ4"]])
    def test_usage_errors(self, args):
        done = convert(*args)
        assert done.returncode == 2
        assert "usage: quelmar-snapshot" in done.stderr
        assert done.stdout == ""

    def test_help_and_version(self):
        assert "OUT.lz4" in convert("--help").stdout
        assert convert("--version").stdout.startswith("quelmar-snapshot ")


def test_interrupt_leaves_no_file(pipe, tmp_path):
    # Long lines of ignored tokens, endlessly: much input, little memory.
    endless = pipe("endless.txt", b"", ("1 2 " + "0" * 120 + "\n").encode() * 8000)
    out = tmp_path / "out.lz4"
    out.write_bytes(b"previous")
    process = subprocess.Popen([TOOL, endless, str(out)], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    time.sleep(0.5)
    assert process.poll() is None
    process.send_signal(signal.SIGINT)
    process.communicate(timeout=10)
    assert process.returncode == -signal.SIGINT
    assert out.read_bytes() == b"previous"
    assert sorted(os.listdir(tmp_path)) == ["endless.txt", "out.lz4"]


def test_progress_is_shown_on_a_terminal_only(tmp_path):
    # Over 4 MiB of input and output, so that every stage reaches a checkpoint.
    rng = random.Random(5)
    names = [rng.randrange(2**64) for _ in range(400_000)]
    source = tmp_path / "graph.txt"
    source.write_text("".join(f"{names[i]} {names[i - 1]}\n" for i in range(1, len(names))))

    status, out, drawn = run_on_terminal([TOOL, source, tmp_path / "a.lz4"], columns=100)
    assert status == 0
    for stage in ("reading", "building", "writing"):
        assert stage in drawn
    assert "\u2588" in drawn and "MiB" in drawn
    assert drawn.endswith("\r\x1b[K")  # the line is cleared at the end
    assert "400000 nodes, 399999 edges" in out

    status, out, drawn = run_on_terminal([TOOL, "-q", source, tmp_path / "b.lz4"])
    assert (status, out, drawn) == (0, "", "")

    piped = convert(source, tmp_path / "c.lz4")
    assert piped.returncode == 0 and piped.stderr == ""
