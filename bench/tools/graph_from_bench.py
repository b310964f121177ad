"""graph_from on an edge array against quelmar.Graph on the same edges as
text, side by side in one run.

    python bench/tools/graph_from_bench.py EDGES [--cache FILE.npy] [--rounds R]
        [--clusters CLUSTERING]

EDGES is read once with numpy into a (k, 2) uint64 array (kept in --cache
for later runs). Each round loads the graph both ways, alternating; the
report gives the best time of each and their ratio. With --clusters, both
graphs are checked to give identical statistics for that clustering.
"""

from __future__ import annotations

import argparse
import os
import time
from typing import Callable

import numpy as np
import numpy.typing as npt

import quelmar
import quelmar_tools


def edge_array(path: str, cache: str | None) -> npt.NDArray[np.uint64]:
    if cache and os.path.exists(cache):
        array: npt.NDArray[np.uint64] = np.load(cache)
        return array
    array = np.loadtxt(path, dtype=np.uint64, usecols=(0, 1), ndmin=2)
    if cache:
        np.save(cache, array)
    return array


def best_time(step: Callable[[], object], times: list[float]) -> object:
    start = time.perf_counter()
    result = step()
    times.append(time.perf_counter() - start)
    return result


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("edges")
    parser.add_argument("--cache")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--clusters")
    args = parser.parse_args()

    array = edge_array(args.edges, args.cache)
    print(f"{len(array)} edges")
    text_times: list[float] = []
    array_times: list[float] = []
    for _ in range(args.rounds):
        from_text = best_time(lambda: quelmar.Graph(args.edges), text_times)
        del from_text
        from_array = best_time(lambda: quelmar_tools.graph_from(array), array_times)
        del from_array
    text, made = min(text_times), min(array_times)
    print(f"quelmar.Graph(text)     {text:7.2f} s")
    print(f"graph_from(array)       {made:7.2f} s")
    print(f"ratio                   {made / text:7.2f}")

    if args.clusters:
        stats = []
        for graph in (quelmar.Graph(args.edges), quelmar_tools.graph_from(array)):
            clustering = quelmar.Clustering(graph, args.clusters, cpm=0.1)
            result = clustering.select(lambda cluster: True).compute_statistics()
            stats.append((result.num_clusters, result.covered_nodes, result.covered_edges,
                          result.total_nodes, result.total_edges,
                          sorted((k, v.percentiles) for k, v in result.distributions.items())))
        print("identical statistics:", stats[0] == stats[1])


if __name__ == "__main__":
    main()
