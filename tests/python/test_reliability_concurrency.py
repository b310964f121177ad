"""Concurrency under load: many Python threads building clusterings on one
graph and computing statistics on shared subsets at once give exactly the
single-threaded results; results do not depend on the worker count; and a
selection predicate may call back into the module."""

import json
import random
import threading

import pytest

import quelmar
from test_reliability_support import PANIC_PREFIX, panic_message, run_python, write_text

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
    graph = write_text(folder, "graph.txt", "".join(f"{a} {b}\n" for a, b in sorted(edges)))
    clusterings = []
    for index in range(3):
        lines = []
        for cluster in range(CLUSTERS):
            start = rng.randrange(NODES)
            size = rng.choice([2, 3, 5, 8, 20, 60]) + index
            lines += [f"{(start + k) % NODES} {cluster}\n" for k in range(size)]
        rng.shuffle(lines)
        clusterings.append(write_text(folder, f"clusters{index}.txt", "".join(lines)))
    return graph, clusterings


def fingerprint(stats):
    return [stats.num_clusters, stats.covered_nodes, stats.covered_edges, stats.total_nodes,
            stats.total_edges, sorted((k, v.percentiles) for k, v in stats.distributions.items())]


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
def baseline(inputs):
    graph_path, clusterings = inputs
    return full_job(quelmar.Graph(graph_path), clusterings)


def run_threads(targets, timeout=600):
    threads = [threading.Thread(target=target) for target in targets]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=timeout)
    assert not any(thread.is_alive() for thread in threads), "a thread hangs"


def test_many_threads_build_and_compute_on_one_graph(inputs, baseline):
    graph_path, clusterings = inputs
    graph = quelmar.Graph(graph_path)
    shared = [quelmar.Clustering(graph, path).select(lambda c: c.n > 4) for path in clusterings]
    shared_expected = [fingerprint(subset.compute_statistics()) for subset in shared]
    start = threading.Barrier(8)
    outcomes, problems = [], []

    def builder():
        try:
            start.wait()
            for _ in range(2):
                outcomes.append(full_job(graph, clusterings))
        except BaseException as error:  # noqa: B036 - reported below
            problems.append(repr(error))

    def reader(offset):
        def run():
            try:
                start.wait()
                for round_ in range(12):
                    subset = shared[(round_ + offset) % len(shared)]
                    if fingerprint(subset.compute_statistics()) != \
                            shared_expected[(round_ + offset) % len(shared)]:
                        problems.append("shared subset statistics changed")
            except BaseException as error:  # noqa: B036 - reported below
                problems.append(repr(error))
        return run

    run_threads([builder] * 6 + [reader(0), reader(1)])
    assert problems == []
    assert len(outcomes) == 12
    for outcome in outcomes:
        assert outcome == baseline


@pytest.mark.parametrize("workers", [1, 3])
def test_results_do_not_depend_on_the_worker_count(inputs, baseline, workers):
    graph_path, clusterings = inputs
    result = run_python(f"""
        import json, quelmar, sys
        sys.path.insert(0, {str(__import__("pathlib").Path(__file__).parent)!r})
        quelmar.set_nthreads({workers})
        from test_reliability_concurrency import full_job
        print(json.dumps(full_job(quelmar.Graph({graph_path!r}), {clusterings!r})))
    """)
    assert result.returncode == 0, result.stderr
    assert json.loads(result.stdout) == json.loads(json.dumps(baseline))


@pytest.fixture(scope="module")
def clustering(inputs):
    graph_path, clusterings = inputs
    graph = quelmar.Graph(graph_path)
    return graph, quelmar.Clustering(graph, clusterings[0], cpm=0.5)


class TestPredicatesCallingBack:
    def test_predicate_uses_the_module_while_selecting(self, inputs, clustering):
        graph, clustered = clustering
        _, paths = inputs
        inner = clustered.select_in([1, 2, 3])
        inner_expected = fingerprint(inner.compute_statistics())
        seen = []

        def predicate(skeleton):
            # A selection in progress on this clustering does not stop any of
            # these: nested selections, statistics (which let go of the
            # interpreter lock), packing a new clustering on the worker pool.
            if skeleton.n % 7 == 0 or len(seen) < 3:
                same_size = clustered.select(lambda c: c.n == skeleton.n)
                built = quelmar.Clustering(graph, paths[1])
                seen.append((len(same_size.keys), fingerprint(inner.compute_statistics()),
                             len(built.select_in([0, 1]).keys)))
            return skeleton.n >= 20

        chosen = clustered.select(predicate)
        assert chosen.keys == clustered.select(lambda c: c.n >= 20).keys
        assert seen
        for same_size, statistics, built_keys in seen:
            assert same_size >= 1
            assert statistics == inner_expected
            assert built_keys == 2

    def test_nested_failure_comes_out_unwrapped(self, tmp_path, clustering):
        graph, clustered = clustering
        missing = str(tmp_path / "absent.txt")
        direct = panic_message(quelmar.Graph, missing)
        calls = []

        def predicate(skeleton):
            calls.append(skeleton.n)
            if len(calls) == 5:
                quelmar.Clustering(graph, missing)
            return True

        nested = panic_message(clustered.select, predicate)
        assert nested == direct == PANIC_PREFIX + "No such file or directory (os error 2)"
        assert len(calls) == 5

    def test_nested_python_error_becomes_a_panic(self, clustering):
        _, clustered = clustering

        def predicate(skeleton):
            clustered.select_in(["not an id"])
            return True

        message = panic_message(clustered.select, predicate)
        assert message.startswith(PANIC_PREFIX) and "TypeError" in message

    def test_predicates_on_many_threads_with_statistics_in_them(self, clustering):
        _, clustered = clustering
        shared = clustered.select_in(list(range(0, CLUSTERS, 2)))
        expected_stats = fingerprint(shared.compute_statistics())
        expected_keys = clustered.select(lambda c: c.vol > 40).keys
        problems = []

        def selector():
            try:
                for _ in range(3):
                    checks = []

                    def predicate(skeleton):
                        if len(checks) < 4:
                            checks.append(fingerprint(shared.compute_statistics()))
                        return skeleton.vol > 40

                    if clustered.select(predicate).keys != expected_keys:
                        problems.append("selection changed")
                    if any(check != expected_stats for check in checks):
                        problems.append("statistics changed")
            except BaseException as error:  # noqa: B036 - reported below
                problems.append(repr(error))

        run_threads([selector] * 5)
        assert problems == []
