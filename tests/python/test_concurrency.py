"""The interpreter lock is released during the long native work, shared
objects are safe across threads, and subsets outlive what they came from."""

import gc
import sys
import threading
import time

import pytest

import quelmar


@pytest.fixture(scope="module")
def large_inputs(tmp_path_factory):
    # A ring of 200 000 nodes; every node in five overlapping clusters of ten.
    folder = tmp_path_factory.mktemp("large")
    nodes = 200_000
    graph = folder / "ring.txt"
    graph.write_text("".join(f"{i} {(i + 1) % nodes}\n" for i in range(nodes)))
    clusters = folder / "clusters.txt"
    with open(clusters, "w") as out:
        for shift in range(5):
            out.write("".join(f"{i} {shift * nodes + (i + 2 * shift) // 10}\n"
                              for i in range(nodes)))
    return str(graph), str(clusters)


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


def test_no_other_thread_runs_while_a_graph_loads(large_inputs):
    graph_path, _ = large_inputs
    assert ticks_during(lambda: quelmar.Graph(graph_path)) == 0


def test_other_threads_run_while_a_clustering_packs(large_inputs):
    graph_path, clusters_path = large_inputs
    graph = quelmar.Graph(graph_path)
    assert ticks_during(lambda: quelmar.Clustering(graph, clusters_path)) > 0


def test_other_threads_run_while_statistics_are_computed(large_inputs):
    graph_path, clusters_path = large_inputs
    subset = quelmar.Clustering(quelmar.Graph(graph_path), clusters_path).select_in(
        list(range(500_000)))
    assert ticks_during(subset.compute_statistics) > 0


def summary_of(stats):
    return (stats.num_clusters, stats.covered_nodes, stats.covered_edges,
            {k: v.percentiles for k, v in stats.distributions.items()})


def test_threads_share_graphs_clusterings_and_subsets(large_inputs):
    graph_path, clusters_path = large_inputs
    graph = quelmar.Graph(graph_path)
    results, errors = [], []

    def build_and_compute(index):
        try:
            clustering = quelmar.Clustering(graph, clusters_path, cpm=0.5)
            subset = clustering.select_in(list(range(index % 3, 1_000_000, 3)))
            results.append((index % 3, summary_of(subset.compute_statistics())))
        except BaseException as error:  # noqa: B036 - reported below
            errors.append(error)

    threads = [threading.Thread(target=build_and_compute, args=(i,)) for i in range(6)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not errors
    by_selection = {}
    for selection, summary in results:
        by_selection.setdefault(selection, []).append(summary)
    assert len(by_selection) == 3
    for summaries in by_selection.values():
        assert all(s == summaries[0] for s in summaries)


def test_statistics_of_one_subset_from_many_threads(large_inputs):
    graph_path, clusters_path = large_inputs
    subset = quelmar.Clustering(quelmar.Graph(graph_path), clusters_path).select(
        lambda c: c.m >= 9)
    expected = summary_of(subset.compute_statistics())
    results = []
    threads = [threading.Thread(target=lambda: results.append(
        summary_of(subset.compute_statistics()))) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [expected] * 4


def test_subsets_outlive_their_clustering_and_graph(files):
    graph = quelmar.Graph(files.edges([(1, 2), (2, 3), (3, 1), (3, 4)]))
    clustering = quelmar.Clustering(graph, files.clusters({1: [1, 2, 3], 2: [3, 4]}))
    subset = clustering.select_in([1, 2])
    other = clustering.select(lambda c: c.n == 2)
    expected = summary_of(subset.compute_statistics())
    del graph, clustering
    gc.collect()
    assert summary_of(subset.compute_statistics()) == expected
    assert other.keys == [2]
    count, _ = subset.compute_size_diff(quelmar.Clustering(
        quelmar.Graph(files.edges([(1, 2), (2, 3), (3, 4)], "g2.txt")),
        files.clusters({1: [1, 2], 2: [2, 3, 4]}, "c2.txt")))
    assert count == 1


def test_objects_released_on_another_thread(files):
    graph = quelmar.Graph(files.edges([(1, 2), (2, 3)]))
    clustering = quelmar.Clustering(graph, files.clusters({1: [1, 2, 3]}))
    objects = [graph, clustering, clustering.select_in([1])]
    objects.append(objects[-1].compute_statistics())
    del graph, clustering

    def release():
        objects.clear()
        gc.collect()

    thread = threading.Thread(target=release)
    thread.start()
    thread.join()
    assert objects == []
