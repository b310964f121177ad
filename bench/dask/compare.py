"""The whole statistics job side by side in one run: the module in this
process, then quelmar_tools.dask on a LocalCluster of two single-threaded
worker processes, once with Dask's default memory limit and once with a
small one. Checks that all agree and prints time, peak memory per worker,
bytes spilled from worker memory and bytes written by the P2P shuffle.
--joins is kept for old command lines: the joins are native.

    python bench/dask/compare.py EDGES CLUSTERS [--cpm R] [--limits auto 700MB]
        [--joins native]
"""

from __future__ import annotations

import argparse
import resource
import threading
import time
from typing import Any

import quelmar
from distributed import Client, LocalCluster

import quelmar_tools.dask as qd
from quelmar_tools.dask import _plan  # to show the choices made


def module_job(edges: str, clusters: str, cpm: float) -> tuple[Any, float]:
    start = time.perf_counter()
    graph = quelmar.Graph(edges)
    stats = quelmar.Clustering(graph, clusters, cpm=cpm).select(lambda c: True).compute_statistics()
    elapsed = time.perf_counter() - start
    counts = (stats.num_clusters, stats.covered_nodes, stats.covered_edges, stats.total_nodes,
              stats.total_edges)
    return (counts, {k: list(v.percentiles) for k, v in stats.distributions.items()}), elapsed


class PeakMemory:
    """Samples every worker's resident memory while the job runs."""

    def __init__(self, client: Client) -> None:
        self.client = client
        self.peaks: dict[str, int] = {}
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.sample, daemon=True)

    def sample(self) -> None:
        import psutil

        while not self.stop.is_set():
            try:
                rss = self.client.run(lambda: psutil.Process().memory_info().rss)
            except Exception:  # a worker restarting
                rss = {}
            for worker, value in rss.items():
                self.peaks[worker] = max(self.peaks.get(worker, 0), value)
            self.stop.wait(0.25)

    def __enter__(self) -> "PeakMemory":
        self.thread.start()
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop.set()
        self.thread.join()


def worker_counters(dask_worker: Any) -> tuple[int, int]:
    """Bytes written to disk so far: by spilling results, and by the P2P shuffle."""
    written = [(str(k), v) for k, v in dask_worker.digests_total.items()
               if "disk-write" in str(k) and "bytes" in str(k)]
    p2p = sum(v for k, v in written if "p2p" in k)
    return int(sum(v for _, v in written) - p2p), int(p2p)


def dask_jobs(edges: str, clusters: str, cpm: float, limit: str, options: qd.Options,
              joins: list[str]) -> list[tuple[Any, float, str]]:
    with LocalCluster(n_workers=2, threads_per_worker=1, memory_limit=limit,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        plan = _plan.plan(options, [edges], [[clusters]], client)
        print(f"  ({plan.partitions} partitions, {plan.block_bytes >> 20} MiB blocks, "
              f"{plan.shuffle_method or 'p2p'} shuffle)")
        results = []
        for _ in joins:
            results.append(dask_job(client, edges, clusters, cpm, options))
        return results


def dask_job(client: Client, edges: str, clusters: str, cpm: float,
             options: qd.Options) -> tuple[Any, float, str]:
    before = client.run(worker_counters)  # the counters add up over the cluster's jobs
    with PeakMemory(client) as memory:
        start = time.perf_counter()
        got = qd.statistics(edges, clusters, cpm=cpm, client=client, options=options)
        elapsed = time.perf_counter() - start
    after = client.run(worker_counters)
    spilled = sum(c[0] - before.get(w, (0, 0))[0] for w, c in after.items())
    written = sum(c[1] - before.get(w, (0, 0))[1] for w, c in after.items())
    peaks = ", ".join(f"{p / 2**20:.0f}" for p in sorted(memory.peaks.values()))
    note = (f"peak RSS per worker {peaks} MiB; spilled {spilled / 2**20:.0f} MiB; "
            f"P2P disk writes {written / 2**20:.0f} MiB")
    counts = (got.num_clusters, got.covered_nodes, got.covered_edges, got.total_nodes,
              got.total_edges)
    return (counts, got.distributions), elapsed, note


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("edges")
    parser.add_argument("clusters")
    parser.add_argument("--cpm", type=float, default=0.1)
    parser.add_argument("--limits", nargs="+", default=["auto", "700MB"])
    parser.add_argument("--partitions", type=int, default=None, help="of every shuffle")
    parser.add_argument("--block-mb", type=int, default=None, help="of text per parsing task")
    parser.add_argument("--method", default=None, help="of the shuffles")
    parser.add_argument("--joins", nargs="+", default=["native"], choices=["native"])
    args = parser.parse_args()

    with open(args.edges, "rb") as f:
        lines = sum(chunk.count(b"\n") for chunk in iter(lambda: f.read(1 << 24), b""))
    expected, module_time = module_job(args.edges, args.clusters, args.cpm)
    module_peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(f"module            {module_time:7.1f} s   peak RSS {module_peak:.0f} MiB")
    for limit in args.limits:
        options = qd.Options(block_bytes=args.block_mb and args.block_mb << 20,
                             partitions=args.partitions, shuffle_method=args.method)
        runs = dask_jobs(args.edges, args.clusters, args.cpm, limit, options, args.joins)
        for kind, (got, elapsed, note) in zip(args.joins, runs, strict=True):
            assert got == expected, (got, expected)
            cpu = 2 * elapsed / lines * 1e6
            print(f"dask limit {limit:6} {kind:6} joins {elapsed:7.1f} s   "
                  f"{elapsed / module_time:.1f}x the module; "
                  f"{cpu:.2f} us of worker time per edge line; {note}")
    print(f"({lines} edge lines; results equal)")


if __name__ == "__main__":
    main()
