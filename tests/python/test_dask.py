"""quelmar_tools.dask against the module on the same files: random small
graphs and overlapping clusterings, compared count for count and summary for
summary, and each failure once."""

import random

import numpy as np
import pandas as pd
import pytest

import quelmar
from support import loader_error, skeleton_counts

pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")
qd = pytest.importorskip("quelmar_tools.dask")

TOP = 2**64 - 1
SMALL_BLOCKS = qd.Options(block_bytes=200, partitions=2)


@pytest.fixture(scope="session")
def client():
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    )
    with distributed.Client(cluster) as c:
        yield c
    cluster.close()


def module_statistics(edges, clusters, cpm, ids):
    graph = quelmar.Graph(edges)
    clustering = quelmar.Clustering(graph, clusters, **({} if cpm is None else {"cpm": cpm}))
    subset = clustering.select(lambda c: True) if ids is None else clustering.select_in(ids)
    s = subset.compute_statistics()
    counts = (s.num_clusters, s.covered_nodes, s.covered_edges, s.total_nodes, s.total_edges)
    return counts, {k: list(v.percentiles) for k, v in s.distributions.items()}


def as_module(got):
    """A Statistics record in module_statistics' form."""
    counts = (got.num_clusters, got.covered_nodes, got.covered_edges, got.total_nodes,
              got.total_edges)
    return counts, got.distributions


def random_case(rng):
    """Names drawn from a small pool that spans [0, 2^64): repeats, reversed
    lines, self-loops; clusters overlap, some name unknown nodes (at most one
    line per cluster), some end up as singletons."""
    pool = [rng.getrandbits(64) for _ in range(30)] + [0, TOP, 2**63, 2**63 + 1, 2**53 + 1]
    nodes = rng.sample(pool, rng.randint(2, len(pool)))
    edges = [tuple(rng.sample(nodes, 2)) for _ in range(rng.randint(1, 60))]
    edges += [(a, a) for a in rng.sample(nodes, 2)] + [edges[0][::-1], edges[0]]
    rng.shuffle(edges)
    present = sorted({x for e in edges for x in e})
    strangers = [n for n in pool if n not in present]
    memberships = []
    for cluster in rng.sample([1, 2, 3, 2**63 + 5, TOP, 0], rng.randint(1, 6)):
        members = rng.sample(present, min(len(present), rng.choice([1, 2, 3, 6])))
        memberships += [(m, cluster) for m in members + members[:1]]
        if strangers and rng.random() < 0.4:
            memberships.append((rng.choice(strangers), cluster))
    rng.shuffle(memberships)
    return edges, memberships


def split(files, name, lines, parts):
    """Writes the lines over several files; returns their paths."""
    cut = sorted(random.Random(len(lines)).sample(range(len(lines) + 1), parts - 1))
    bounds = [0, *cut, len(lines)]
    return [files.lines(lines[a:b], f"{name}{i}.txt") for i, (a, b) in
            enumerate(zip(bounds, bounds[1:]))]


@pytest.mark.parametrize("seed", range(5))
def test_statistics_equal_the_module(client, files, seed):
    rng = random.Random(seed)
    edges, memberships = random_case(rng)
    edge_file = files.edges(edges)
    cluster_file = files.memberships(memberships)
    cpm = rng.choice([None, 0.25])
    ids = rng.choice([None, [2, 3, 99, TOP]])
    expected = module_statistics(edge_file, cluster_file, cpm, ids)

    # One file each, or the same lines split over several files.
    if seed % 2:
        edge_file = split(files, "e", [f"{a} {b}" for a, b in edges], 3)
        cluster_file = split(files, "c", [f"{n}\t{c}" for n, c in memberships], 2)
    # Any partition count and either shuffle method give the same result.
    options = qd.Options(block_bytes=200, partitions=(2, 3, 4, 7, 5)[seed],
                         shuffle_method=("tasks", "p2p")[seed % 2])
    got = qd.statistics(edge_file, cluster_file, cpm=cpm, ids=ids, client=client,
                        options=options)
    assert as_module(got) == expected


def test_parquet_input_equals_text(client, files):
    edges, memberships = random_case(random.Random(7))
    expected = module_statistics(files.edges(edges), files.memberships(memberships), 0.25, None)

    def parquet(rows, name):
        table = pd.DataFrame(np.array(rows, dtype=np.uint64), columns=["a", "b"])
        table.to_parquet(files.path(name))
        return files.path(name)

    half = len(edges) // 2
    edge_files = [parquet(edges[:half], "e0.parquet"), parquet(edges[half:], "e1.parquet")]
    got = qd.statistics(edge_files, parquet(memberships, "c.parquet"), cpm=0.25, client=client)
    assert as_module(got) == expected

    # Two lines of one cluster name nodes the graph lacks: the second is named by its row.
    lines = memberships + [(TOP - 1, 5), (TOP - 2, 5)]
    message = loader_error(lambda: quelmar.Clustering(quelmar.Graph(files.edges(edges)),
                                                      files.memberships(lines)))
    with pytest.raises(qd.LineError) as raised:
        qd.statistics(edge_files, parquet(lines, "unknown.parquet"), client=client)
    assert str(raised.value) == f"partition 0 row {len(lines) - 1}: {message}"


def test_table_and_size_diff_equal_the_module(client, files):
    rng = random.Random(42)
    edges, memberships = random_case(rng)
    nodes = sorted({x for e in edges for x in e})
    edge_file = files.edges(edges)
    clusters = {k: rng.sample(nodes, rng.randint(2, len(nodes))) for k in (1, 2, 2**63 + 9)}
    cluster_file = files.clusters(clusters)
    grown = {k: v + [n for n in nodes if n not in v][:1] for k, v in clusters.items()}
    other_file = files.clusters({**grown, 77: nodes[:2]}, "other.txt")

    graph = quelmar.Graph(edge_file)
    clustering = quelmar.Clustering(graph, cluster_file)
    table = qd.cluster_table(edge_file, cluster_file, cpm=0.5, client=client,
                             options=SMALL_BLOCKS).compute()
    table = table.sort_index()
    assert table.index.dtype == np.uint64 and list(table.index) == sorted(clusters)
    assert [tuple(r) for r in table[["n", "m", "c", "mcd", "vol"]].itertuples(index=False)] == \
        skeleton_counts(clustering)

    subset = clustering.select_in([1, 2**63 + 9])
    count, changes = subset.compute_size_diff(quelmar.Clustering(graph, other_file))
    assert qd.size_diff(edge_file, cluster_file, other_file, ids=[1, 2**63 + 9],
                        client=client) == (count, list(changes.percentiles))
    missing = files.clusters({1: nodes[:2]}, "missing.txt")
    with pytest.raises(LookupError, match="no entry found for key"):
        qd.size_diff(edge_file, cluster_file, missing, client=client)


@pytest.mark.parametrize(
    "edge_lines, member_lines, where",
    [
        (["1 2", "2 3", "4"], ["1 7"], "graph.txt:3"),
        (["1 2", "", "x y"], ["1 7"], "graph.txt:2"),
        (["1 2", "2 +x"], ["1 7"], "graph.txt:2"),
        (["1 2", "2 18446744073709551616"], ["1 7"], "graph.txt:2"),
        (["1 2"], ["1 7", "2 x", "3"], "clusters.txt:2"),
        (["1 2"], ["1 7", "x 7"], "clusters.txt:2"),
        (["1 2"], ["1 7", "9 7", "2 8", "+009 7"], "clusters.txt:4"),
    ],
)
def test_failures_name_file_and_line(client, files, edge_lines, member_lines, where):
    edges = files.lines(edge_lines, "graph.txt")
    clusters = files.lines(member_lines, "clusters.txt")
    message = loader_error(lambda: quelmar.Clustering(quelmar.Graph(edges), clusters))
    with pytest.raises(qd.LineError) as raised:
        qd.statistics(edges, clusters, client=client, options=SMALL_BLOCKS)
    assert str(raised.value) == f"{files.path(where.split(':')[0])}:{where.split(':')[1]}: " \
        f"{message}"
