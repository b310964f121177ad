"""cluster_table against compute_statistics() on the same clustering, side
by side in one run.

    python bench/tools/cluster_table_bench.py [--clusters 500000] [--rounds 3]

Makes a synthetic graph and clustering in memory (clusters of 2 to 10
consecutive nodes, a ring through each, plus random background edges), then
times, alternating, compute_statistics() over every cluster and
cluster_table() of every cluster. The budget of the table is one
compute_statistics() plus 2 microseconds per cluster.
"""

from __future__ import annotations

import argparse
import time
from typing import Callable

import numpy as np

import quelmar_tools


def timed(step: Callable[[], object], times: list[float]) -> None:
    start = time.perf_counter()
    step()
    times.append(time.perf_counter() - start)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--clusters", type=int, default=500_000)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    rng = np.random.default_rng(5)
    sizes = rng.integers(2, 11, size=args.clusters)
    nodes = int(sizes.sum())
    members = np.arange(nodes, dtype=np.uint64)
    cluster_of = np.repeat(np.arange(args.clusters, dtype=np.uint64), sizes)
    starts = np.repeat(np.cumsum(sizes) - sizes, sizes).astype(np.uint64)
    following = starts + (members - starts + 1) % np.repeat(sizes, sizes).astype(np.uint64)
    background = rng.integers(0, nodes, size=(nodes, 2), dtype=np.uint64)
    edges = np.concatenate([np.stack([members, following], axis=1), background])

    graph = quelmar_tools.graph_from(edges)
    clustering = quelmar_tools.clustering_from(graph, np.stack([members, cluster_of], axis=1))
    everything = clustering.select(lambda cluster: True)
    print(f"{nodes} nodes, {len(edges)} edge lines, {args.clusters} clusters")

    stats_times: list[float] = []
    table_times: list[float] = []
    for _ in range(args.rounds):
        timed(everything.compute_statistics, stats_times)
        timed(lambda: quelmar_tools.cluster_table(clustering, cpm=0.1), table_times)
    stats, table = min(stats_times), min(table_times)
    per_cluster = 1e6 / args.clusters
    print(f"compute_statistics()  {stats:7.3f} s  {stats * per_cluster:6.2f} us per cluster")
    print(f"cluster_table()       {table:7.3f} s  {table * per_cluster:6.2f} us per cluster")
    print(f"beyond one compute_statistics(): {(table - stats) * per_cluster:6.2f} us per cluster "
          f"(budget 2.00)")


if __name__ == "__main__":
    main()
