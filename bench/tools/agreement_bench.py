"""compare() and match_table() against scikit-learn's NMI and ARI on label
arrays already in memory, side by side in one run.

    python bench/tools/agreement_bench.py EDGES CLUSTERS OTHER [--rounds 3]

EDGES is an edge list, CLUSTERS a clustering file of it and OTHER a
perturbed copy (the benchmarks page shows one way to make it). For the partition
measures each node keeps its first cluster on both sides; every graph node
a side leaves uncovered is a singleton, in the label arrays as in compare's
default. Times, best over the rounds:

* ours: nmi, ari, vi and f1, and both match tables;
* scikit-learn: normalized_mutual_info_score plus adjusted_rand_score;
* ours on the clusterings as they are (overlapping): omega, and onmi.
"""

from __future__ import annotations

import argparse
import time
from typing import Any, Callable

import numpy as np
import pandas as pd

import quelmar_tools


def timed(step: Callable[[], Any], times: list[float]) -> Any:
    start = time.perf_counter()
    result = step()
    times.append(time.perf_counter() - start)
    return result


def read(path: str) -> pd.DataFrame:
    return pd.read_csv(path, sep=r"\s+", header=None, usecols=[0, 1], names=["node", "cluster"],
                       dtype=np.uint64)


def labels(nodes: np.ndarray, partition: pd.DataFrame) -> np.ndarray:
    """A label per graph node: its cluster's, or one of its own."""
    out = np.arange(len(nodes), dtype=np.uint64) + np.uint64(2**63)
    where = np.searchsorted(nodes, partition["node"].to_numpy())
    out[where] = partition["cluster"].to_numpy()
    return out


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("edges")
    parser.add_argument("clusters")
    parser.add_argument("other")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    from sklearn.metrics import adjusted_rand_score, normalized_mutual_info_score

    graph = quelmar_tools.graph_from(args.edges)
    nodes = np.unique(pd.read_csv(args.edges, sep=r"\s+", header=None, usecols=[0, 1],
                                  dtype=np.uint64).to_numpy())
    a, b = read(args.clusters), read(args.other)
    # Memberships of nodes the graph lacks are skipped by the loader; the
    # label arrays leave them out too.
    pa, pb = (frame[np.isin(frame["node"].to_numpy(), nodes)].drop_duplicates("node")
              for frame in (a, b))
    ca, cb = (quelmar_tools.clustering_from(graph, frame) for frame in (pa, pb))
    la, lb = labels(nodes, pa), labels(nodes, pb)
    print(f"{len(nodes)} nodes; partitions of {len(pa)} and {len(pb)} memberships")

    ours: list[float] = []
    peer: list[float] = []
    for _ in range(args.rounds):
        result = timed(lambda: (quelmar_tools.compare(ca, cb),
                                quelmar_tools.match_table(ca, cb),
                                quelmar_tools.match_table(ca, cb, reverse=True)), ours)
        expected = timed(lambda: (normalized_mutual_info_score(la, lb),
                                  adjusted_rand_score(la, lb)), peer)
    print(f"ours: nmi, ari, vi, f1 and both match tables  {min(ours):6.2f} s")
    print(f"scikit-learn: nmi and ari                     {min(peer):6.2f} s "
          f"(ours / theirs {min(ours) / min(peer):.2f})")
    print(f"agree: nmi {result[0]['nmi']:.15g} against {expected[0]:.15g}, "
          f"ari {result[0]['ari']:.15g} against {expected[1]:.15g}")

    cover_a, cover_b = (quelmar_tools.clustering_from(graph, path)
                        for path in (args.clusters, args.other))
    for measure in ("omega", "onmi"):
        spent: list[float] = []
        for _ in range(args.rounds):
            value = timed(lambda: quelmar_tools.compare(cover_a, cover_b,
                                                        measures=[measure]), spent)
        print(f"{measure} of the covers {value[measure]:.6f}                {min(spent):6.2f} s")


if __name__ == "__main__":
    main()
