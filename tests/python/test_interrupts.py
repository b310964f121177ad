"""Ctrl-C during Graph(): the load stops with KeyboardInterrupt, whether it is
busy reading or blocked on input, and the module stays usable.

The inputs are named pipes (the `pipe` fixture), so a load lasts as long as
the test wants."""

import signal
import subprocess
import sys
import textwrap
import time

import lz4.frame

CHILD = """
    import signal, sys
    # A run started with SIGINT ignored (as a background job is) would pass
    # that on: Ctrl-C must reach the load as in an interactive session.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    import quelmar
    print("loading", flush=True)
    try:
        quelmar.Graph(sys.argv[1])
        print("loaded", flush=True)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
    # Nothing is left half-built: the module works as before.
    graph = quelmar.Graph(sys.argv[2])
    stats = quelmar.Clustering(graph, sys.argv[3]).select(lambda c: True).compute_statistics()
    print("after", stats.total_nodes, stats.covered_nodes, flush=True)
"""


def interrupt_load(graph_path, files):
    small = files.edges([(1, 2), (2, 3), (3, 1), (4, 5)], name="small.txt")
    clusters = files.clusters({1: [1, 2, 3]}, name="small_clusters.txt")
    child = subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(CHILD), graph_path, small, clusters],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "loading\n"
        time.sleep(0.5)  # well into the load
        assert child.poll() is None, child.stderr.read()
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=30)
        waited = time.monotonic() - sent
    finally:
        child.kill()
    assert child.returncode == 0, err
    assert out.splitlines() == ["interrupted", "after 5 3"]
    # Generous for a loaded machine; without the checks it would never end.
    assert waited < 10


def test_busy_edge_list_load(pipe, files):
    # Long lines of ignored tokens: much to read, little to keep.
    lines = ("1 2 " + "7" * 120 + "\n").encode() * 8000
    interrupt_load(pipe("graph.txt", b"", lines), files)


def test_edge_list_load_blocked_on_input(pipe, files):
    interrupt_load(pipe("graph.txt", b"1 2\n3 4\n"), files)


def test_snapshot_load_blocked_on_input(pipe, files):
    compressor = lz4.frame.LZ4FrameCompressor(content_checksum=True)
    header = compressor.begin()
    interrupt_load(pipe("graph.lz4", header), files)


def test_open_blocked_without_a_writer(pipe, files):
    interrupt_load(pipe("graph.txt", None), files)
