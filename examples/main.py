"""The main job on the bundled example
===================================

Load, cluster, select, report::

    python examples/main.py [GRAPH CLUSTERING [OTHER_CLUSTERING]]

Without arguments it uses the files in examples/data (regenerate them with
examples/make_example.py). Prints how long each step took, the coverage of the
graph by the clusters, and percentile summaries of the per-cluster statistics.
"""

from __future__ import annotations

import os
import sys
import time
from typing import Callable, TypeVar

import quelmar

import bundled

T = TypeVar("T")

DEFAULTS = [bundled.GRAPH, bundled.CLUSTERING, bundled.CLUSTERING_ALT]
CPM_RESOLUTION = 0.1
# Entries of a 21-point summary: entry i is the percentile at i * 5 %.
COLUMNS = [("min", 0), ("p5", 1), ("p25", 5), ("median", 10), ("p75", 15), ("p95", 19),
           ("max", 20)]


def timed(label: str, step: Callable[[], T]) -> T:
    start = time.perf_counter()
    result = step()
    print(f"{label:<28}{time.perf_counter() - start:9.4f} s")
    return result


def percent(part: int, whole: int) -> float:
    return 100.0 * part / whole if whole else 0.0


def print_summary_table(distributions: dict[str, quelmar.SummarizedDistribution]) -> None:
    header = f"{'statistic':<18}" + "".join(f"{name:>11}" for name, _ in COLUMNS)
    print(header)
    print("-" * len(header))
    for name in sorted(distributions):
        entries = distributions[name].percentiles
        print(f"{name:<18}" + "".join(f"{entries[i]:>11.4g}" for _, i in COLUMNS))


def main(argv: list[str]) -> None:
    paths = argv[1:] or DEFAULTS
    graph_path, clustering_path = paths[0], paths[1]
    other_path = paths[2] if len(paths) > 2 else None

    graph = timed("load graph", lambda: quelmar.Graph(graph_path))
    clustering = timed("load + pack clustering",
                       lambda: quelmar.Clustering(graph, clustering_path, cpm=CPM_RESOLUTION))
    everything = timed("select all clusters", lambda: clustering.select(lambda cluster: True))
    stats = timed("compute statistics", everything.compute_statistics)

    print()
    print(f"clusters        {stats.num_clusters}")
    print(f"covered nodes   {stats.covered_nodes} of {stats.total_nodes} "
          f"({percent(stats.covered_nodes, stats.total_nodes):.1f} %)")
    print(f"covered edges   {stats.covered_edges} of {stats.total_edges} "
          f"({percent(stats.covered_edges, stats.total_edges):.1f} %)")
    print()
    print_summary_table(stats.distributions)

    if other_path:
        other = quelmar.Clustering(graph, other_path)
        large = clustering.select(lambda cluster: cluster.n >= 10)
        grown, changes = large.compute_size_diff(other)
        print()
        print(f"clusters of 10 or more nodes: {len(large.keys)}; against {os.path.basename(other_path)}"
              f" {grown} grew; relative size change min {changes.minimum:.3f}, "
              f"median {changes.median:.3f}, max {changes.maximum:.3f}")


if __name__ == "__main__":
    main(sys.argv)
