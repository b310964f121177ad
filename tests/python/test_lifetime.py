"""Reference leaks and object lifetimes of the binding: every operation run
thousands of times leaves no Python objects, native memory, file descriptors
or threads behind; results outlive what made them; objects may be released
on any thread; and native memory is returned once the last holder goes."""

import gc
import os
import sys
import threading
import time

import pytest

import quelmar
from support import Files, fingerprint, native_heap_bytes, run_python

GRAPH = "".join(f"{i} {i + 1}\n{i} {i + 2}\n" for i in range(0, 60)) + "0 59\n"
CLUSTERS = "".join(f"{i} {i // 6}\n{i} {100 + (i + 3) // 6}\n" for i in range(60))
OTHER_CLUSTERS = "".join(f"{i} {i // 5}\n" for i in range(60))


@pytest.fixture(scope="module")
def paths(tmp_path_factory):
    files = Files(tmp_path_factory.mktemp("lifetime"))
    return {
        "graph": files.text(GRAPH, "graph.txt"),
        "clusters": files.text(CLUSTERS, "clusters.txt"),
        "other": files.text(OTHER_CLUSTERS, "other.txt"),
        "bad_clusters": files.text("0 1\n\n", "bad.txt"),
        "missing": files.path("missing.txt"),
    }


@pytest.fixture(scope="module")
def objects(paths):
    graph = quelmar.Graph(paths["graph"])
    clustering = quelmar.Clustering(graph, paths["clusters"], cpm=0.25)
    other = quelmar.Clustering(graph, paths["other"])
    subset = clustering.select(lambda c: c.n >= 5)
    stats = subset.compute_statistics()
    return {
        "graph": graph, "clustering": clustering, "other": other, "subset": subset,
        "stats": stats, "summary": stats.distributions["density"],
    }


def open_descriptors():
    return len(os.listdir("/proc/self/fd"))


def running_threads():
    return len(os.listdir("/proc/self/task"))


def expect_failure(call, kind):
    try:
        call()
    except BaseException as error:  # noqa: B036 - PanicException is a BaseException
        assert type(error).__name__ == kind, repr(error)
        return
    raise AssertionError(f"{call} did not fail")


def assert_no_growth(action, rounds):
    """Runs action() `rounds` times after a warm-up; fails if Python objects,
    native memory, descriptors or threads grew with the count."""
    for _ in range(max(rounds // 10, 50)):
        action()
    gc.collect()
    blocks, heap = sys.getallocatedblocks(), native_heap_bytes()
    descriptors, threads = open_descriptors(), running_threads()
    for _ in range(rounds):
        action()
    gc.collect()
    grown_blocks = sys.getallocatedblocks() - blocks
    assert grown_blocks < 64, f"{grown_blocks} Python blocks more after {rounds} calls"
    if heap is not None:
        grown_heap = native_heap_bytes() - heap
        assert grown_heap < 256 * 1024, f"{grown_heap} native bytes more after {rounds} calls"
    assert open_descriptors() == descriptors
    assert running_threads() == threads


def actions(paths, objects):
    graph, clustering, other = objects["graph"], objects["clustering"], objects["other"]
    subset, stats, summary = objects["subset"], objects["stats"], objects["summary"]
    ids = [5, 3, 5, 1, 2 ** 64 - 1, 100, 107]
    big_ids = [2 ** 63 + i for i in range(10)]

    def read_skeleton(c):
        return c.n + c.m + c.c + c.mcd + c.vol >= 0

    def raising(c):
        raise ValueError("refused")

    return {
        "graph": lambda: quelmar.Graph(paths["graph"]),
        "graph-missing": lambda: expect_failure(lambda: quelmar.Graph(paths["missing"]),
                                                "PanicException"),
        "graph-not-a-path": lambda: expect_failure(lambda: quelmar.Graph(b"x"), "TypeError"),
        "clustering": lambda: quelmar.Clustering(graph, paths["clusters"], cpm=0.5),
        "clustering-failing": lambda: expect_failure(
            lambda: quelmar.Clustering(graph, paths["bad_clusters"]), "PanicException"),
        "clustering-bad-cpm": lambda: expect_failure(
            lambda: quelmar.Clustering(graph, paths["clusters"], cpm="x"), "TypeError"),
        "select_in": lambda: clustering.select_in(ids),
        "select_in-big-ids": lambda: clustering.select_in(big_ids),
        "select_in-bad-element": lambda: expect_failure(
            lambda: clustering.select_in([1, 2, "x"]), "TypeError"),
        "select_in-negative": lambda: expect_failure(
            lambda: clustering.select_in([1, -1]), "OverflowError"),
        "select_in-tuple": lambda: expect_failure(lambda: clustering.select_in((1,)),
                                                  "TypeError"),
        "select": lambda: clustering.select(read_skeleton),
        "select-raising": lambda: expect_failure(lambda: clustering.select(raising),
                                                 "PanicException"),
        "select-not-bool": lambda: expect_failure(lambda: clustering.select(lambda c: 1),
                                                  "PanicException"),
        "select-not-callable": lambda: expect_failure(lambda: clustering.select(5),
                                                      "TypeError"),
        "keys": lambda: subset.keys,
        "compute_statistics": subset.compute_statistics,
        "stats-getters": lambda: (stats.num_clusters, stats.covered_nodes, stats.covered_edges,
                                  stats.total_nodes, stats.total_edges, stats.distributions),
        "summary-getters": lambda: (summary.percentiles, summary.minimum, summary.median,
                                    summary.maximum),
        "compute_size_diff": lambda: subset.compute_size_diff(clustering),
        "compute_size_diff-missing-entry": lambda: expect_failure(
            lambda: subset.compute_size_diff(other), "PanicException"),
        "compute_size_diff-wrong-type": lambda: expect_failure(
            lambda: subset.compute_size_diff(subset), "TypeError"),
        "set_nthreads-after-pool": lambda: expect_failure(lambda: quelmar.set_nthreads(2),
                                                          "PanicException"),
        "no-constructor": lambda: expect_failure(lambda: type(stats)(), "TypeError"),
        "read-only-property": lambda: expect_failure(
            lambda: setattr(summary, "minimum", 1.0), "AttributeError"),
    }


ROUNDS = {"graph": 1000, "clustering": 1000, "compute_statistics": 2000}
ACTION_NAMES = [
    "graph", "graph-missing", "graph-not-a-path", "clustering", "clustering-failing",
    "clustering-bad-cpm", "select_in", "select_in-big-ids", "select_in-bad-element",
    "select_in-negative", "select_in-tuple", "select", "select-raising", "select-not-bool",
    "select-not-callable", "keys", "compute_statistics", "stats-getters", "summary-getters",
    "compute_size_diff", "compute_size_diff-missing-entry", "compute_size_diff-wrong-type",
    "set_nthreads-after-pool", "no-constructor", "read-only-property",
]


@pytest.mark.parametrize("name", ACTION_NAMES)
def test_repeated_calls_leak_nothing(paths, objects, name):
    every_action = actions(paths, objects)
    assert sorted(every_action) == sorted(ACTION_NAMES)
    assert_no_growth(every_action[name], ROUNDS.get(name, 5000))


def test_arguments_keep_their_reference_counts(paths, objects):
    graph, clustering = objects["graph"], objects["clustering"]
    path = "".join(paths["clusters"])  # a string of its own, not shared with the fixture
    cpm = float("0.75")
    ids = [1, 2, 2 ** 64 - 1]
    predicate = lambda c: c.n > 5  # noqa: E731
    watched = [graph, clustering, path, cpm, ids, predicate, *ids]
    before = [sys.getrefcount(item) for item in watched]
    for _ in range(500):
        quelmar.Clustering(graph, path, cpm=cpm).select_in(ids).compute_statistics()
        clustering.select(predicate).compute_size_diff(clustering)
    gc.collect()
    assert [sys.getrefcount(item) for item in watched] == before


def test_results_outlive_everything_that_made_them(paths):
    def make():
        graph = quelmar.Graph(paths["graph"])
        clustering = quelmar.Clustering(graph, paths["clusters"], cpm=0.5)
        rhs = quelmar.Clustering(quelmar.Graph(paths["graph"]), paths["clusters"])
        skeletons = []
        subset = clustering.select(lambda c: skeletons.append(c) or c.m > 4)
        counts = [(s.n, s.m, s.c, s.mcd, s.vol) for s in skeletons]
        by_ids = clustering.select_in([0, 1, 2, 101, 999])
        expected = (fingerprint(subset.compute_statistics()),
                    fingerprint(by_ids.compute_statistics()),
                    subset.compute_size_diff(rhs)[1].percentiles, counts)
        return subset, by_ids, rhs, skeletons, expected

    subset, by_ids, rhs, skeletons, expected = make()
    gc.collect()
    # Reuse the freed memory: a released native object would now hold garbage.
    churn = [bytearray(4096) for _ in range(20_000)]
    quelmar.Clustering(quelmar.Graph(paths["graph"]), paths["other"]).select(lambda c: True)
    del churn
    assert fingerprint(subset.compute_statistics()) == expected[0]
    assert fingerprint(by_ids.compute_statistics()) == expected[1]
    assert subset.compute_size_diff(rhs)[1].percentiles == expected[2]
    assert by_ids.keys == [0, 1, 2, 101, 999]
    assert [(s.n, s.m, s.c, s.mcd, s.vol) for s in skeletons] == expected[3]


@pytest.mark.skipif(native_heap_bytes() is None, reason="needs glibc's mallinfo2")
@pytest.mark.parametrize("order", [
    ("subset", "clustering", "graph"), ("graph", "clustering", "subset"),
    ("clustering", "subset", "graph"),
])
def test_memory_returns_when_the_last_holder_goes(files, order):
    # Large enough that the native heap alone grows measurably: the name
    # table and the neighbour array are mapped from the system, not the heap.
    nodes = 100_000
    edges = "".join(f"{i} {(i * 7 + 1) % nodes}\n{i} {(i + 1) % nodes}\n" for i in range(nodes))
    clusters = "".join(f"{i} {i // 10}\n" for i in range(nodes))
    graph_path = files.text(edges, "g.txt")
    clusters_path = files.text(clusters, "c.txt")
    gc.collect()
    before = native_heap_bytes()
    held = {"graph": quelmar.Graph(graph_path)}
    held["clustering"] = quelmar.Clustering(held["graph"], clusters_path)
    held["subset"] = held["clustering"].select(lambda c: True)
    held["subset"].compute_statistics()
    assert native_heap_bytes() - before > 2_000_000
    for name in order:
        del held[name]
        gc.collect()
    assert native_heap_bytes() - before < 256 * 1024


def test_objects_released_on_other_threads(paths):
    # Made on one thread, released on another, while a third computes with
    # objects that share the same graph.
    graph = quelmar.Graph(paths["graph"])
    shared = quelmar.Clustering(graph, paths["clusters"]).select(lambda c: True)
    expected = fingerprint(shared.compute_statistics())
    handoff, problems = [], []
    made = threading.Event()
    stop = threading.Event()

    def maker():
        try:
            for _ in range(150):
                clustering = quelmar.Clustering(graph, paths["clusters"], cpm=1.0)
                subset = clustering.select_in([1, 2, 3])
                handoff.append([clustering, subset, subset.compute_statistics(),
                                quelmar.Graph(paths["graph"])])
            made.set()
        except BaseException as error:  # noqa: B036 - reported below
            problems.append(error)
            made.set()

    def releaser():
        while not (made.is_set() and not handoff):
            try:
                handoff.pop(0).clear()
            except IndexError:
                time.sleep(0.001)

    def computer():
        while not stop.is_set():
            if fingerprint(shared.compute_statistics()) != expected:
                problems.append("statistics changed")

    threads = [threading.Thread(target=f) for f in (maker, releaser, releaser, computer)]
    for thread in threads:
        thread.start()
    for thread in threads[:3]:
        thread.join(timeout=300)
    stop.set()
    threads[3].join(timeout=300)
    assert not any(thread.is_alive() for thread in threads)
    assert problems == []
    del shared, graph
    gc.collect()


@pytest.mark.parametrize("seconds", [0.05, 0.3])
def test_interpreter_exits_cleanly_while_threads_compute(files, seconds):
    # Daemon threads still inside the module (packing, statistics, selection)
    # when the interpreter shuts down: the process exits normally.
    edges = "".join(f"{i} {(i + 1) % 50000}\n{i} {(i * 3 + 7) % 50000}\n" for i in range(50000))
    graph_path = files.text(edges, "g.txt")
    clusters_path = files.text("".join(f"{i} {i // 25}\n" for i in range(50000)), "c.txt")
    result = run_python(f"""
        import threading, time, quelmar
        graph = quelmar.Graph({graph_path!r})
        clustering = quelmar.Clustering(graph, {clusters_path!r})
        subset = clustering.select(lambda c: True)
        def forever(work):
            while True:
                work()
        for work in [subset.compute_statistics, subset.compute_statistics,
                     lambda: quelmar.Clustering(graph, {clusters_path!r}),
                     lambda: clustering.select(lambda c: c.n > 3)]:
            threading.Thread(target=forever, args=(work,), daemon=True).start()
        time.sleep({seconds})
        print("leaving")
    """, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "leaving\n"
    assert "Fatal" not in result.stderr
