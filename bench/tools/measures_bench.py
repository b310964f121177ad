"""The quality measures of cluster_table against packing the same clustering,
side by side in one run, and the minimum cut of the largest connected
cluster against igraph's mincut_value on the same subgraph.

    python bench/tools/measures_bench.py GRAPH CLUSTERING [--rounds 3] [--peer-cap 120]

GRAPH is an edge list or snapshot, CLUSTERING a clustering file of it. Each
round times, in turn: loading and packing the clustering, the default table,
the count measures, the member-pass measures, components with triangle
participation, and the minimum cut of every cluster. Then the largest
cluster whose minimum cut is not 0 is cut alone, and igraph (when installed)
cuts its induced subgraph in a child process stopped after --peer-cap
seconds.
"""

from __future__ import annotations

import argparse
import multiprocessing
import time
from typing import Any, Callable

import numpy as np

import quelmar
import quelmar_tools

GROUPS = {
    "counts": ["conductance", "normalized_cut", "cut_ratio", "expansion",
               "average_internal_degree"],
    "member pass": ["max_odf", "average_odf", "flake_odf", "embeddedness", "hub_dominance",
                    "fomd"],
    "components + triangles": ["components", "largest_component", "triangle_participation"],
    "mincut": ["mincut", "mincut_side"],
}


def timed(step: Callable[[], Any]) -> tuple[float, Any]:
    start = time.perf_counter()
    result = step()
    return time.perf_counter() - start, result


def igraph_cut(edges: np.ndarray, nodes: int, answer: Any) -> None:
    import igraph
    start = time.perf_counter()
    value = igraph.Graph(n=nodes, edges=edges.tolist()).mincut_value()
    answer.put((value, time.perf_counter() - start))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("graph")
    parser.add_argument("clustering")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--peer-cap", type=float, default=120.0)
    args = parser.parse_args()

    graph = quelmar.Graph(args.graph)
    times: dict[str, list[float]] = {"packing": [], "default table": [],
                                     **{name: [] for name in GROUPS}}
    clustering = None
    for _ in range(args.rounds):
        spent, clustering = timed(lambda: quelmar_tools.clustering_from(graph, args.clustering))
        times["packing"].append(spent)
        times["default table"].append(timed(lambda: quelmar_tools.cluster_table(clustering))[0])
        for name, measures in GROUPS.items():
            times[name].append(timed(lambda: quelmar_tools.cluster_table(
                clustering, measures=measures))[0])
    packing = min(times["packing"])
    for name, spent in times.items():
        ratios = [t / p for t, p in zip(spent, times["packing"])]
        print(f"{name:<24} best {min(spent):7.2f} s   per round x packing "
              f"{min(ratios):.2f}-{max(ratios):.2f}   (best / best packing "
              f"{min(spent) / packing:.2f})")

    table = quelmar_tools.cluster_table(clustering, measures=["components", "mincut"])
    connected = table[(table["components"] == 1)]
    largest = int(connected["n"].idxmax())
    print(f"largest connected cluster {largest}: {int(connected.loc[largest, 'n'])} members, "
          f"{int(connected.loc[largest, 'm'])} edges inside")
    spent, alone = timed(lambda: quelmar_tools.cluster_table(clustering, ids=[largest],
                                                             measures=["mincut"]))
    print(f"quelmar mincut {int(alone['mincut'].iloc[0])} in {spent:.3f} s")

    try:
        import igraph  # noqa: F401
    except ImportError:
        print("igraph not installed: no peer run")
        return
    edges = subgraph_edges(args.graph, args.clustering, largest)
    answer: Any = multiprocessing.Queue()
    child = multiprocessing.Process(target=igraph_cut, args=(edges[0], edges[1], answer))
    start = time.perf_counter()
    child.start()
    child.join(args.peer_cap)
    if child.is_alive():
        child.terminate()
        print(f"igraph mincut_value: stopped at the cap of {args.peer_cap:.0f} s "
              f"(at least {time.perf_counter() - start:.0f} s)")
    else:
        value, peer = answer.get()
        print(f"igraph mincut_value {value} in {peer:.3f} s ({peer / spent:.0f}x)")


def subgraph_edges(graph_path: str, clustering_path: str, cluster: int) -> tuple[np.ndarray, int]:
    """The induced subgraph of `cluster` without self-loops, nodes renumbered."""
    import pandas as pd
    memberships = pd.read_csv(clustering_path, sep=r"\s+", header=None, usecols=[0, 1],
                              dtype=np.uint64)
    members = np.unique(memberships[memberships[1] == np.uint64(cluster)][0].to_numpy())
    edges = pd.read_csv(graph_path, sep=r"\s+", header=None, usecols=[0, 1],
                        dtype=np.uint64).to_numpy()
    inside = np.isin(edges[:, 0], members) & np.isin(edges[:, 1], members)
    edges = edges[inside & (edges[:, 0] != edges[:, 1])]
    local = np.searchsorted(members, edges)
    local.sort(axis=1)
    return np.unique(local, axis=0), len(members)


if __name__ == "__main__":
    main()
