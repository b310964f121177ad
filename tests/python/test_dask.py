"""quelmar_tools.dask against the module on the same files: random small
graphs and overlapping clusterings, compared count for count and summary for
summary, and each failure once."""

import contextlib
import io
import os
import random
import re
import shutil
import subprocess
import sys
import time

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
                        options=options, compute=seed != 0)
    if seed == 0:  # a Future that progress can follow
        with contextlib.redirect_stdout(io.StringIO()):
            distributed.progress(got)
        got = got.result()
    assert as_module(got) == expected


def write_parquet(path, rows, files, row_group_size):
    """Rows (node, cluster) over several files, cut into row groups, beside
    columns that are not read."""
    import pyarrow as pa
    import pyarrow.parquet as pq

    bounds = np.linspace(0, len(rows), files + 1).astype(int)
    paths = []
    for i, (a, b) in enumerate(zip(bounds, bounds[1:])):
        part = np.array(rows[a:b], dtype=np.uint64).reshape(-1, 2)
        table = pa.table({"note": [f"row {r}" for r in range(len(part))],
                          "a": part[:, 0], "b": part[:, 1],
                          "weight": np.arange(len(part), dtype=np.float64)})
        paths.append(f"{path}{i}.parquet")
        pq.write_table(table.select(["a", "b", "note", "weight"]), paths[-1],
                       row_group_size=row_group_size)
    return paths


def test_parquet_rows_are_named_by_file_and_row(client, files):
    edges, memberships = random_case(random.Random(7))
    expected = module_statistics(files.edges(edges), files.memberships(memberships), 0.25, None)
    edge_files = write_parquet(files.path("e"), edges, 2, 7)
    # Tasks of one or of several row groups give the same result.
    got = qd.statistics(edge_files, write_parquet(files.path("c"), memberships, 3, 4), cpm=0.25,
                        client=client, options=qd.Options(block_bytes=16 * 9, partitions=3))
    assert as_module(got) == expected

    # Two lines of one cluster name nodes the graph lacks: the second is named
    # by its file and its row within the file.
    lines = memberships + [(TOP - 1, 5), (TOP - 2, 5), (1, 1)]
    message = loader_error(lambda: quelmar.Clustering(quelmar.Graph(files.edges(edges)),
                                                      files.memberships(lines)))
    member_files = write_parquet(files.path("u"), lines, 3, 2)
    with pytest.raises(qd.LineError) as raised:
        qd.statistics(edge_files, member_files, client=client,
                      options=qd.Options(block_bytes=16 * 2, partitions=2))
    rows_before = len(lines) - len(pd.read_parquet(member_files[-1]))
    assert str(raised.value) == f"{member_files[-1]}: row {len(lines) - 2 - rows_before}: {message}"


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
    future = qd.size_diff(edge_file, cluster_file, other_file, ids=[1, 2**63 + 9],
                          client=client, compute=False)
    with contextlib.redirect_stdout(io.StringIO()):
        distributed.progress(future)
    assert future.result() == (count, list(changes.percentiles))
    missing = files.clusters({1: nodes[:2]}, "missing.txt")
    with pytest.raises(LookupError, match="no entry found for key"):
        qd.size_diff(edge_file, cluster_file, missing, client=client)


def test_native_joins_refuse_pieces_that_do_not_line_up():
    from quelmar_tools import _native

    u = np.zeros(3, np.uint64)
    tag = np.zeros(3, np.uint8)
    with pytest.raises(ValueError, match="hi: expected as many items as lo"):
        _native.lo_side([(u, u), (u, u[:2])], [], None, 2, False)
    with pytest.raises(TypeError, match="m_cluster: expected uint64"):
        _native.lo_side([], [(u, u.astype(np.int64))], None, 2, False)
    with pytest.raises(TypeError, match="edges: expected tuples of at least 2 arrays"):
        _native.lo_side([(u,)], [], None, 2, False)
    with pytest.raises(ValueError, match="parts: expected at least one partition"):
        _native.lo_side([], [], None, 0, False)
    with pytest.raises(ValueError, match="tag: expected as many items as hi"):
        _native.degrees(u, u, u, [(u, u, tag[:2])])
    with pytest.raises(ValueError, match="hi_rows: expected every piece to have lo or none"):
        _native.node_side(u, u, u, [], None, [(u, u, tag), (u, u, tag, u)], 2)
    with pytest.raises(ValueError, match="lo: expected as many items as hi"):
        _native.node_side(u, u, u, [], None, [(u, u, tag, u[:1])], 2)
    with pytest.raises(ValueError, match="unknown_pos: expected as many items as unknown_cluster"):
        _native.cluster_side([(u,) * 7 + (u, u[:1])], 2)


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


def every_function(edges, clusters, client, options):
    """Each public function run to its end on the same input."""
    return [
        lambda: qd.statistics(edges, clusters, client=client, options=options),
        lambda: qd.cluster_table(edges, clusters, client=client, options=options).compute(),
        lambda: qd.size_diff(edges, clusters, clusters, client=client, options=options),
    ]


@pytest.mark.parametrize("bad", ["malformed", "unknown nodes"])
def test_every_function_names_the_first_bad_line_in_file_order(client, files, bad):
    edges = files.edges([(1, 2), (2, 3), (3, 4)])
    parts = [[f"{n} {c}" for n, c in [(1, 10), (2, 10), (3, 11), (4, 11)] * 2] for _ in range(5)]
    if bad == "malformed":  # the later file's bad line is in an earlier block
        parts[2][6], parts[4][1] = "3 x", "7"
    else:  # cluster 12's second unknown node comes first, in file order
        parts[2][3:3], parts[2][7:7] = ["90 12"], ["91 12"]
        parts[1][0:0], parts[4][2:2] = ["92 13"], ["93 13"]
    paths = [files.lines(p, f"part{i}.txt") for i, p in enumerate(parts)]
    message = loader_error(lambda: quelmar.Clustering(quelmar.Graph(edges),
                                                      files.lines(sum(parts, []), "all.txt")))
    line = 7 if bad == "malformed" else 8
    for call in every_function(edges, paths, client, qd.Options(block_bytes=48, partitions=2)):
        with pytest.raises(qd.LineError) as raised:
            call()
        assert str(raised.value) == f"{paths[2]}:{line}: {message}"


class FakeClient:
    """A client whose one worker reports the given limit and threads."""

    def __init__(self, memory_limit, nthreads=1):
        self.info = {"id": "w", "nthreads": nthreads, "memory_limit": memory_limit,
                     "status": "running"}

    def scheduler_info(self, n_workers=5):
        return {"workers": {"w": self.info}}


def test_plans_that_cannot_fit_a_worker_fail_before_running(files):
    edges = files.lines([f"{i} {i + 1}" for i in range(1000)], "graph.txt")
    plan = qd._plan.plan
    chosen = plan(qd.Options(), [edges], [], FakeClient(600 << 20))
    # Blocks that cannot fit: the error names the limit, the need and what fits.
    with pytest.raises(MemoryError) as raised:
        plan(qd.Options(block_bytes=64 << 20), [edges], [], FakeClient(600 << 20))
    assert "limit of 600 MiB" in str(raised.value)
    assert f"Options(partitions={chosen.partitions}, block_bytes={chosen.block_bytes}, " \
        f"shuffle_method={chosen.shuffle_method!r}) would fit" in str(raised.value)
    # Below an idle worker and one task nothing fits; a limit that does is named.
    with pytest.raises(MemoryError, match="no Options fit: .* at least (\\d+) MiB") as raised:
        plan(qd.Options(), [edges], [], FakeClient(200 << 20, nthreads=2))
    least = int(re.search(r"at least (\d+) MiB", str(raised.value)).group(1)) << 20
    assert plan(qd.Options(), [edges], [], FakeClient(least + (1 << 20), nthreads=2))


def test_small_or_missing_workers_fail_in_bounded_time(files):
    edges, clusters = files.edges([(1, 2)]), files.memberships([(1, 7)])
    with distributed.LocalCluster(n_workers=0, memory_limit="150MB", processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as small:
        with pytest.raises(TimeoutError, match="no Dask worker joined"):
            qd.statistics(edges, clusters, client=small, options=qd.Options(worker_timeout=0.2))
        cluster.scale(1)  # the call waits for it, then finds its limit too small
        with pytest.raises(MemoryError, match="limit of 143 MiB is too small"):
            qd.statistics(edges, clusters, client=small)


def test_a_job_whose_workers_stay_paused_stops(client, files):
    def pause_above(dask_worker, fraction):  # the worker's own monitor pauses it
        dask_worker.memory_manager.memory_pause_fraction = fraction

    edges, clusters = files.edges([(1, 2)]), files.memberships([(1, 7)])
    before = client.run(lambda dask_worker: dask_worker.memory_manager.memory_pause_fraction)
    client.run(pause_above, fraction=1e-6)
    try:
        start = time.monotonic()
        with pytest.raises(MemoryError, match="stayed paused for 1 s"):
            qd.statistics(edges, clusters, client=client, options=qd.Options(worker_timeout=1))
        assert time.monotonic() - start < 20
    finally:
        client.run(pause_above, fraction=next(iter(before.values())))
    assert qd.statistics(edges, clusters, client=client).total_edges == 1


ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def guide_dask_blocks():
    """The Python blocks of the guide's Dask page, but the one that needs a
    batch system."""
    with open(os.path.join(ROOT, "docs", "guide", "dask.md"), encoding="utf-8") as page:
        text = page.read()
    blocks = re.findall(r"```python\n(.*?)```", text, re.S)
    return [b for b in blocks if "dask_jobqueue" not in b]


def test_guide_recipes_run_as_written(tmp_path):
    crawl = tmp_path / "crawl"
    crawl.mkdir()
    with open(os.path.join(ROOT, "examples", "data", "graph.tsv"), encoding="utf-8") as graph:
        lines = graph.readlines()
    for i, part in enumerate((lines[: len(lines) // 2], lines[len(lines) // 2:])):
        (crawl / f"edges-{i}.txt").write_text("".join(part), encoding="utf-8")
    shutil.copy(os.path.join(ROOT, "examples", "data", "clustering.tsv"), crawl / "clusters.txt")
    blocks = guide_dask_blocks()
    assert len(blocks) == 2
    for number, block in enumerate(blocks):
        script = tmp_path / f"recipe{number}.py"  # saved as a file: LocalCluster's workers import it
        script.write_text(block, encoding="utf-8")
        done = subprocess.run([sys.executable, str(script)], cwd=tmp_path, capture_output=True,
                              text=True, timeout=300)
        assert done.returncode == 0, done.stderr[-3000:]
    data = os.path.join(ROOT, "examples", "data")
    counts, _ = module_statistics(os.path.join(data, "graph.tsv"),
                                  os.path.join(data, "clustering.tsv"), None, None)
    assert done.stdout.split()[-1] == str(counts[4])  # total edges, from the Parquet files
    assert (crawl / "table").is_dir()


def test_a_job_whose_workers_keep_dying_stops():
    class Restarting(FakeClient):  # a new worker at every look, as a nanny restarts it
        def scheduler_info(self, n_workers=5):
            self.info = {**self.info, "id": self.info["id"] + "'"}
            return super().scheduler_info()

    def never_done(future, timeout):
        raise TimeoutError

    with pytest.raises(RuntimeError, match="lost 4 times"):
        qd._calls._watch(Restarting(1 << 30), None, never_done, timeout=60)


def test_workers_run_the_in_memory_joins_without_pandas(files, monkeypatch):
    # What a worker unpickles to run a statistics job whose rows move in
    # memory: loading pandas or Dask's dataframes would cost it ~100 MiB.
    edges, clusters = files.edges([(1, 2), (2, 3)]), files.memberships([(1, 7), (2, 7)])
    monkeypatch.setattr(qd._calls, "default_client", lambda: None)  # a Delayed, not a Future
    job = qd.statistics(edges, clusters, compute=False,
                        options=qd.Options(shuffle_method="tasks", partitions=2))
    import cloudpickle

    graph = cloudpickle.dumps(dict(job.__dask_graph__()))
    loaded = subprocess.run(
        [sys.executable, "-c", "import pickle, sys; pickle.loads(sys.stdin.buffer.read()); "
         "print(sorted(m for m in ('pandas', 'dask.dataframe', 'pyarrow') if m in sys.modules))"],
        input=graph, capture_output=True, check=True)
    assert loaded.stdout.decode().strip() == "[]"
    # Nor does building that job load them in the caller's process (the first
    # job would spend about 0.6 s importing them).
    build = ("import sys, quelmar_tools.dask as qd; qd.statistics(sys.argv[1], sys.argv[2], "
             "compute=False, options=qd.Options(shuffle_method='tasks', partitions=2)); "
             "print(sorted(m for m in ('pandas', 'dask.dataframe') if m in sys.modules))")
    built = subprocess.run([sys.executable, "-c", build, edges, clusters], capture_output=True,
                           check=True)
    assert built.stdout.decode().strip() == "[]"


def test_the_rows_move_in_memory_where_dask_may_spill_them(files):
    edges = files.lines([f"{i} {i + 1}" for i in range(1000)], "graph.txt")
    lines = 20_000_000  # the benchmark's scale, on workers of 700 MB
    offer = qd._plan.Workers(700_000_000, 1, 2, 1_400_000_000, 2, True)
    planned = qd._plan._fitting(offer, lines, 800 << 20)
    assert planned.shuffle_method == "tasks"
    assert qd._plan.need(offer, lines, planned) <= qd._plan.usable(offer.memory)
    import dask

    with dask.config.set({"distributed.worker.memory.target": False,
                          "distributed.worker.memory.spill": False}):
        assert qd._plan._fitting(offer, lines, 800 << 20).shuffle_method is None  # P2P
        # A worker already holding more than a fresh one is planned as such.
        busy = FakeClient(600 << 20)
        busy.info["metrics"] = {"memory": 460 << 20}
        with pytest.raises(MemoryError, match="460 MiB for the idle worker"):
            qd._plan.plan(qd.Options(), [edges], [], busy)


def test_text_parsed_into_pieces_equals_parsing_then_routing(files):
    # parse_routed is parse_block then _stages.routed in one native pass
    # (the native twin of _scramble.scramble included).
    rng = random.Random(3)
    edges = files.edges([(rng.getrandbits(64), rng.getrandbits(64)) for _ in range(300)])
    members = files.memberships([(rng.getrandbits(64), rng.randrange(9)) for _ in range(300)])
    for path, kind in ((edges, "edges"), (members, "clustering")):
        block = qd._parsing.Block(path, 2, 100, os.path.getsize(path) - 50)
        rows, failure = qd._parsing.parse_block(block, kind)
        pieces, routed_failure = qd._parsing.parse_routed(block, kind, 5)
        assert failure is None and routed_failure is None
        want = qd._stages.routed(rows, 0, 5)
        assert [[c.tolist() for c in p] for p in pieces] == [[c.tolist() for c in p] for p in want]


def test_blocks_of_any_size_hold_every_line_once(files):
    # Cut anywhere, with CRLF lines and a last line without its line feed,
    # blocks hold each line once, at its position; an empty file is one
    # empty block; and a file that shrank since it was cut is an error, never
    # a shorter input.
    text = "1 2\r\n30 40\n5 6\n700 8"
    path = files.text(text, "lines.txt")
    whole, failure = qd._parsing.parse_block(qd._parsing.Block(path, 0, 0, len(text)),
                                             "clustering")
    assert failure is None and len(whole[0]) == 4
    for size in range(1, len(text) + 2):
        parts = [qd._parsing.parse_block(b, "clustering")[0]
                 for b in qd._parsing.blocks([path], size)]
        assert [np.concatenate(c).tolist() for c in zip(*parts)] == [c.tolist() for c in whole]
    empty = qd._parsing.blocks([files.text("", "empty.txt")], 4)
    assert [len(qd._parsing.parse_routed(b, "edges", 3)[0][0][0]) for b in empty] == [0]
    cut = qd._parsing.blocks([path], 8)
    os.truncate(path, 9)
    with pytest.raises(OSError, match="lines.txt shrank to 9 bytes"):
        [qd._parsing.parse_block(b, "clustering") for b in cut]
