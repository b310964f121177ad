"""Published forms against the plain files, side by side in one run.

    python bench/tools/published_bench.py EDGES CLUSTERS [--rounds 3] [--cache-dir DIR]

EDGES is an edge list and CLUSTERS a clustering file of it (node, cluster
per line). The script makes, once, in --cache-dir: EDGES compressed with
``gzip -6`` and a file of one community per line holding the clusters of
CLUSTERS. Each round then times, in this order:

* ``gzip -dc EDGES.gz > /dev/null``, the floor of any load of the gzip file;
* ``quelmar_tools.graph_from(EDGES.gz)`` and ``graph_from(EDGES)``;
* ``clustering_from(graph, CLUSTERS)`` and the same from the communities
  file with ``layout="communities"``.

It prints each round's times and ratios (gzip load over ``gzip -dc``,
communities over memberships), the best of each, checks that the forms give
the same totals, and prints the misreading rule's figures for the clustering
(internal edges against those of random node sets of the same sizes).
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import time
from typing import Any, Callable

import numpy as np


def timed(call: Callable[[], Any]) -> tuple[float, Any]:
    start = time.perf_counter()
    result = call()
    return time.perf_counter() - start, result


def prepared(edges: str, clusters: str, cache_dir: str) -> tuple[str, str]:
    os.makedirs(cache_dir, exist_ok=True)
    packed = os.path.join(cache_dir, os.path.basename(edges) + ".gz")
    if not os.path.exists(packed):
        with open(packed + ".part", "wb") as out:
            subprocess.run(["gzip", "-6", "-c", edges], stdout=out, check=True)
        os.replace(packed + ".part", packed)
    communities = os.path.join(cache_dir, "communities_of_" + os.path.basename(clusters))
    if not os.path.exists(communities):
        import pandas as pd

        table = pd.read_csv(clusters, sep=r"\s+", header=None, usecols=[0, 1],
                            names=["node", "cluster"], dtype=np.uint64)
        with open(communities + ".part", "w") as out:
            for _, nodes in table.groupby("cluster", sort=True)["node"]:
                out.write(" ".join(map(str, nodes.tolist())) + "\n")
        os.replace(communities + ".part", communities)
    return packed, communities


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("edges")
    parser.add_argument("clusters")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--cache-dir", default=os.path.join("bench", "data"))
    args = parser.parse_args()
    packed, communities = prepared(args.edges, args.clusters, args.cache_dir)

    import quelmar_tools
    from quelmar_tools import _native

    best: dict[str, float] = {}
    for round_ in range(args.rounds):
        floor, _ = timed(lambda: subprocess.run(f"gzip -dc '{packed}' > /dev/null", shell=True,
                                                check=True))
        gz, from_gz = timed(lambda: quelmar_tools.graph_from(packed))
        del from_gz
        plain, graph = timed(lambda: quelmar_tools.graph_from(args.edges))
        rows, by_rows = timed(lambda: quelmar_tools.clustering_from(graph, args.clusters))
        lines, by_lines = timed(lambda: quelmar_tools.clustering_from(
            graph, communities, layout="communities"))
        times = {"gzip -dc": floor, "gzip load": gz, "plain load": plain,
                 "memberships": rows, "communities": lines}
        for name, value in times.items():
            best[name] = min(best.get(name, value), value)
        print(f"round {round_ + 1}: " + ", ".join(f"{k} {v:.2f} s" for k, v in times.items())
              + f"; gzip load / gzip -dc {gz / floor:.2f}, communities / memberships "
              f"{lines / rows:.2f}", flush=True)
    print("best: " + ", ".join(f"{k} {v:.2f} s" for k, v in best.items())
          + f"; gzip load / gzip -dc {best['gzip load'] / best['gzip -dc']:.2f}, "
          f"communities / memberships {best['communities'] / best['memberships']:.2f}")

    a, b = quelmar_tools.totals(by_rows), quelmar_tools.totals(by_lines)
    differing = {key: (a[key], b[key]) for key in a if a[key] != b[key]}
    print("communities file: same totals as the memberships file" if not differing
          else f"communities file: totals differ {differing}")
    n, m = (np.frombuffer(column, dtype=np.uint64)
            for column in _native.cluster_counts(by_rows, None)[1:3])
    nodes, edges = a["total_nodes"], a["total_edges"]
    expected = edges * float(np.dot(n.astype(float), n.astype(float))) / float(nodes) ** 2
    print(f"misreading rule: {int(m.sum())} internal edges, random node sets of the same sizes "
          f"{expected:.1f} ({m.sum() / expected:.1f} times)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
