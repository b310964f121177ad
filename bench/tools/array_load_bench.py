"""In-memory loads of the companion against the module's file loads of the
same data, side by side in one run: time and peak memory.

    python bench/tools/array_load_bench.py EDGES CLUSTERS [--rounds 3] [--cache-dir DIR]

EDGES and CLUSTERS are an edge list and a clustering file; they are read
once into (k, 2) uint64 arrays, kept as .npy files in --cache-dir. Every
measurement runs in a fresh interpreter, so that each has its own peak, and
the rounds alternate the two routes:

* graph: quelmar.Graph(EDGES) against graph_from(array);
* clustering: quelmar.Clustering(graph, CLUSTERS) against
  clustering_from(graph, array), the graph loaded beforehand.

It reports the best time of each route and their ratio, and for the graph
the peak memory above what the interpreter held before the load, against
the array plus the finished graph (what the graph still holds once built).
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import textwrap

import numpy as np
import pandas as pd

MEASURE = """
import json, os, time, numpy as np, quelmar, quelmar_tools

def rss_kib(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field):
                return int(line.split()[1])

def reset_peak():
    with open("/proc/self/clear_refs", "w") as refs:
        refs.write("5")
"""


def read_pairs(path: str, cache_dir: str) -> str:
    cache = os.path.join(cache_dir, os.path.basename(path) + ".npy")
    if not os.path.exists(cache):
        frame = pd.read_csv(path, sep=r"\s+", header=None, usecols=[0, 1], dtype=np.uint64,
                            engine="c")
        np.save(cache, np.ascontiguousarray(frame.to_numpy(dtype=np.uint64)))
    return cache


def run(code: str) -> dict[str, float]:
    result = subprocess.run([sys.executable, "-c", MEASURE + textwrap.dedent(code)],
                            capture_output=True, text=True, check=True)
    values: dict[str, float] = json.loads(result.stdout.strip().splitlines()[-1])
    return values


def graph_round(edges: str, cache: str, from_array: bool) -> dict[str, float]:
    load = "quelmar_tools.graph_from(array)" if from_array else f"quelmar.Graph({edges!r})"
    prepare = f"array = np.load({cache!r})" if from_array else "array = None"
    # The companion loads its modules on first use: that is not the load.
    return run(f"""
        quelmar_tools.graph_from
        before = rss_kib("VmRSS:")
        {prepare}
        loaded = rss_kib("VmRSS:")
        reset_peak()
        start = time.perf_counter()
        graph = {load}
        seconds = time.perf_counter() - start
        peak = rss_kib("VmHWM:")
        held = rss_kib("VmRSS:")
        print(json.dumps({{"seconds": seconds, "peak_kib": peak - before,
                          "graph_kib": held - loaded}}))
    """)


def clustering_round(edges: str, clusters: str, cache: str, from_array: bool) -> dict[str, float]:
    load = ("quelmar_tools.clustering_from(graph, array)" if from_array
            else f"quelmar.Clustering(graph, {clusters!r})")
    prepare = f"array = np.load({cache!r})" if from_array else "array = None"
    return run(f"""
        quelmar_tools.clustering_from
        graph = quelmar.Graph({edges!r})
        {prepare}
        start = time.perf_counter()
        clustering = {load}
        print(json.dumps({{"seconds": time.perf_counter() - start}}))
    """)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("edges")
    parser.add_argument("clusters")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--cache-dir", default=os.path.dirname(os.path.abspath(__file__)))
    args = parser.parse_args()
    edge_cache = read_pairs(args.edges, args.cache_dir)
    cluster_cache = read_pairs(args.clusters, args.cache_dir)
    array_mib = os.path.getsize(edge_cache) / 2**20

    graph: dict[bool, list[dict[str, float]]] = {False: [], True: []}
    clustering: dict[bool, list[dict[str, float]]] = {False: [], True: []}
    for _ in range(args.rounds):
        for from_array in (False, True):
            graph[from_array].append(graph_round(args.edges, edge_cache, from_array))
            clustering[from_array].append(
                clustering_round(args.edges, args.clusters, cluster_cache, from_array))

    def best(runs: list[dict[str, float]]) -> float:
        return min(run["seconds"] for run in runs)

    ratios = [a["seconds"] / t["seconds"] for t, a in zip(graph[False], graph[True])]
    print(f"graph      text {best(graph[False]):6.2f} s   array {best(graph[True]):6.2f} s   "
          f"ratio of bests {best(graph[True]) / best(graph[False]):.2f} "
          f"(per round {min(ratios):.2f}-{max(ratios):.2f})")
    ratios = [a["seconds"] / t["seconds"] for t, a in zip(clustering[False], clustering[True])]
    print(f"clustering text {best(clustering[False]):6.2f} s   array "
          f"{best(clustering[True]):6.2f} s   ratio of bests "
          f"{best(clustering[True]) / best(clustering[False]):.2f} "
          f"(per round {min(ratios):.2f}-{max(ratios):.2f})")
    for run_ in graph[True]:
        graph_mib = run_["graph_kib"] / 1024
        peak_mib = run_["peak_kib"] / 1024
        print(f"graph_from peak {peak_mib:7.0f} MiB above the interpreter; array {array_mib:.0f} MiB "
              f"+ graph {graph_mib:.0f} MiB = {array_mib + graph_mib:.0f} MiB "
              f"(peak / that = {peak_mib / (array_mib + graph_mib):.2f})")


if __name__ == "__main__":
    main()
