"""Threads: the interpreter lock is released during packing and statistics
only; many Python threads building clusterings on one graph and computing
statistics on shared subsets at once get exactly the single-threaded
results; results do not depend on the worker count; and selection
predicates may call back into the module from many threads."""

import json
import random
import sys
import threading
import time
from pathlib import Path

import pytest

import quelmar
from support import fingerprint, run_python, run_threads

NODES = 100_000
CLUSTERS = 10_000


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    """A sparse random graph with overlapping clusterings of varied sizes;
    the three files share their cluster ids, so sizes can be compared."""
    folder = tmp_path_factory.mktemp("concurrency")
    rng = random.Random(11)
    edges = {(i, (i + 1) % NODES) for i in range(NODES)}
    edges |= {(rng.randrange(NODES), rng.randrange(NODES)) for _ in range(3 * NODES)}
    graph = folder / "graph.txt"
    graph.write_text("".join(f"{a} {b}\n" for a, b in sorted(edges)))
    clusterings = []
    for index in range(3):
        lines = []
        for cluster in range(CLUSTERS):
            start = rng.randrange(NODES)
            size = rng.choice([2, 3, 5, 8, 20, 60]) + index
            lines += [f"{(start + k) % NODES} {cluster}\n" for k in range(size)]
        rng.shuffle(lines)
        clusterings.append(folder / f"clusters{index}.txt")
        clusterings[-1].write_text("".join(lines))
    return str(graph), [str(path) for path in clusterings]


@pytest.fixture(scope="module")
def graph(inputs):
    return quelmar.Graph(inputs[0])


@pytest.fixture(scope="module")
def clustering(inputs, graph):
    return quelmar.Clustering(graph, inputs[1][0], cpm=0.5)


def ticks_during(call):
    """Runs call() while another thread counts; returns how many counts fell
    inside the call. With a long switch interval the interpreter never takes
    the lock from a running thread, and the counter gives it back after every
    count: it counts only while the caller has released the lock."""
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(30)
    try:
        counter = threading.Thread(target=count)
        counter.start()
        time.sleep(0.05)
        start = time.perf_counter()
        call()
        end = time.perf_counter()
        stop.set()
        counter.join()
    finally:
        sys.setswitchinterval(interval)
    return sum(1 for t in ticks if start < t < end)


class TestInterpreterLock:
    def test_no_other_thread_runs_while_a_graph_loads(self, inputs):
        assert ticks_during(lambda: quelmar.Graph(inputs[0])) == 0

    def test_other_threads_run_while_a_clustering_packs(self, inputs, graph):
        assert ticks_during(lambda: quelmar.Clustering(graph, inputs[1][0])) > 0

    def test_other_threads_run_while_statistics_are_computed(self, clustering):
        assert ticks_during(clustering.select(lambda c: True).compute_statistics) > 0


def full_job(graph, clusterings):
    """Everything a user does with one graph: build each clustering, select
    three ways, compute statistics and size differences."""
    built = [quelmar.Clustering(graph, path, cpm=0.05 * (i + 1))
             for i, path in enumerate(clusterings)]
    results = []
    for index, clustering in enumerate(built):
        everything = clustering.select(lambda c: True)
        some = clustering.select_in(list(range(index, CLUSTERS, 3)))
        large = clustering.select(lambda c: c.n >= 20 and c.m > c.n // 2)
        results.append([len(everything.keys),
                        fingerprint(everything.compute_statistics()),
                        fingerprint(some.compute_statistics()),
                        fingerprint(large.compute_statistics()), large.keys])
        count, summary = some.compute_size_diff(built[(index + 1) % len(built)])
        results.append([count, summary.percentiles])
    return results


@pytest.fixture(scope="module")
def baseline(inputs, graph):
    return full_job(graph, inputs[1])


def test_many_threads_build_and_compute_on_one_graph(inputs, graph, baseline):
    _, clusterings = inputs
    shared = [quelmar.Clustering(graph, path).select(lambda c: c.n > 4) for path in clusterings]
    shared_expected = [fingerprint(subset.compute_statistics()) for subset in shared]
    start = threading.Barrier(8)
    outcomes, problems = [], []

    def builder():
        start.wait()
        for _ in range(2):
            outcomes.append(full_job(graph, clusterings))

    def reader(offset):
        def run():
            start.wait()
            for round_ in range(12):
                index = (round_ + offset) % len(shared)
                if fingerprint(shared[index].compute_statistics()) != shared_expected[index]:
                    problems.append("shared subset statistics changed")
        return run

    run_threads([builder] * 6 + [reader(0), reader(1)])
    assert problems == []
    assert outcomes == [baseline] * 12


@pytest.mark.parametrize("workers", [1, 3])
def test_results_do_not_depend_on_the_worker_count(inputs, baseline, workers):
    graph_path, clusterings = inputs
    result = run_python(f"""
        import json, quelmar, sys
        sys.path.insert(0, {str(Path(__file__).parent)!r})
        quelmar.set_nthreads({workers})
        from test_concurrency import full_job
        print(json.dumps(full_job(quelmar.Graph({graph_path!r}), {clusterings!r})))
    """)
    assert result.returncode == 0, result.stderr
    assert json.loads(result.stdout) == json.loads(json.dumps(baseline))


def test_predicate_uses_the_module_while_selecting(inputs, graph, clustering):
    inner = clustering.select_in([1, 2, 3])
    inner_expected = fingerprint(inner.compute_statistics())
    seen = []

    def predicate(skeleton):
        # A selection in progress on this clustering does not stop any of
        # these: nested selections, statistics (which let go of the
        # interpreter lock), packing a new clustering on the worker pool.
        if skeleton.n % 7 == 0 or len(seen) < 3:
            same_size = clustering.select(lambda c: c.n == skeleton.n)
            built = quelmar.Clustering(graph, inputs[1][1])
            seen.append((len(same_size.keys), fingerprint(inner.compute_statistics()),
                         len(built.select_in([0, 1]).keys)))
        return skeleton.n >= 20

    chosen = clustering.select(predicate)
    assert chosen.keys == clustering.select(lambda c: c.n >= 20).keys
    assert seen
    for same_size, statistics, built_keys in seen:
        assert same_size >= 1
        assert statistics == inner_expected
        assert built_keys == 2


def test_predicates_on_many_threads_with_statistics_in_them(clustering):
    shared = clustering.select_in(list(range(0, CLUSTERS, 2)))
    expected_stats = fingerprint(shared.compute_statistics())
    expected_keys = clustering.select(lambda c: c.vol > 40).keys
    problems = []

    def selector():
        for _ in range(3):
            checks = []

            def predicate(skeleton):
                if len(checks) < 4:
                    checks.append(fingerprint(shared.compute_statistics()))
                return skeleton.vol > 40

            if clustering.select(predicate).keys != expected_keys:
                problems.append("selection changed")
            if any(check != expected_stats for check in checks):
                problems.append("statistics changed")

    run_threads([selector] * 5)
    assert problems == []
