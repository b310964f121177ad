"""quelmar_tools.dask.compare and match_table against the in-process
compare and match_table, side by side in one run, from the same text files.

    python bench/dask/agreement.py EDGES CLUSTERS OTHER [--rounds 1] [--tmp DIR]

For the partition measures each node keeps its first cluster on both sides:
the partitions are written to DIR first (not timed). Each side's time
includes reading the graph and both clusterings:

* in process: Graph, two Clusterings, compare() (nmi, ari, vi, f1), both
  match tables;
* Dask, on a LocalCluster of two single-threaded worker processes: compare
  alone, then compare and both match tables (three jobs, each reading the
  files again).

Checks that the results agree (measures to 1e-12, tables exactly).
"""

from __future__ import annotations

import argparse
import math
import os
import tempfile
import time

import numpy as np
import pandas as pd
from distributed import Client, LocalCluster

import quelmar
import quelmar_tools
import quelmar_tools.dask as qd


def first_clusters(source: str, target: str) -> None:
    frame = pd.read_csv(source, sep=r"\s+", header=None, usecols=[0, 1],
                        names=["node", "cluster"], dtype=np.uint64)
    frame.drop_duplicates("node").to_csv(target, sep="\t", header=False, index=False)


def in_process(edges: str, a: str, b: str) -> tuple[dict, pd.DataFrame, pd.DataFrame]:
    graph = quelmar.Graph(edges)
    ca, cb = quelmar.Clustering(graph, a), quelmar.Clustering(graph, b)
    return (quelmar_tools.compare(ca, cb), quelmar_tools.match_table(ca, cb),
            quelmar_tools.match_table(ca, cb, reverse=True))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("edges")
    parser.add_argument("clusters")
    parser.add_argument("other")
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--tmp", default=None, help="folder for the partition files")
    args = parser.parse_args()

    folder = args.tmp or tempfile.mkdtemp(prefix="agreement-bench-")
    a, b = os.path.join(folder, "a.txt"), os.path.join(folder, "b.txt")
    first_clusters(args.clusters, a)
    first_clusters(args.other, b)

    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        for round_ in range(args.rounds):
            start = time.perf_counter()
            measures, table, reverse = in_process(args.edges, a, b)
            ours = time.perf_counter() - start

            start = time.perf_counter()
            got = qd.compare(a, b, edges=args.edges, client=client)
            alone = time.perf_counter() - start
            got_table = qd.match_table(a, b, edges=args.edges, client=client).compute()
            got_reverse = qd.match_table(a, b, edges=args.edges, client=client,
                                         reverse=True).compute()
            together = time.perf_counter() - start

            assert list(got) == list(measures)
            assert all(math.isclose(got[k], v, rel_tol=1e-12) for k, v in measures.items())
            pd.testing.assert_frame_equal(got_table, table, check_exact=True)
            pd.testing.assert_frame_equal(got_reverse, reverse, check_exact=True)
            print(f"round {round_}: in process {ours:6.1f} s; dask compare {alone:6.1f} s "
                  f"({alone / ours:.1f}x); dask compare + both tables {together:6.1f} s "
                  f"({together / ours:.1f}x)")
    print(f"results equal: {measures}")


if __name__ == "__main__":
    main()
