"""The example job on a Dask cluster
=================================

The statistics of the bundled graph and clustering computed by
quelmar_tools.dask on two local worker processes, checked against the
module, and the per-cluster table written as Parquet::

    python examples/dask_statistics.py [--out examples/out/table.parquet]
"""

from __future__ import annotations

import argparse
import os

import quelmar
from distributed import Client, LocalCluster

import quelmar_tools.dask as qd

import bundled

EDGES = bundled.GRAPH
CLUSTERS = bundled.CLUSTERING


def module_counts() -> tuple[int, int, int, int, int]:
    graph = quelmar.Graph(EDGES)
    stats = quelmar.Clustering(graph, CLUSTERS, cpm=0.1).select(lambda c: True).compute_statistics()
    return (stats.num_clusters, stats.covered_nodes, stats.covered_edges, stats.total_nodes,
            stats.total_edges)


def main() -> None:
    parser = argparse.ArgumentParser(description="The example job on a local Dask cluster.")
    parser.add_argument("--out", default=os.path.join(bundled.OUT, "table.parquet"))
    args = parser.parse_args()
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        stats: qd.Statistics = qd.statistics(EDGES, CLUSTERS, cpm=0.1, client=client)
        counts = (stats.num_clusters, stats.covered_nodes, stats.covered_edges,
                  stats.total_nodes, stats.total_edges)
        assert counts == module_counts(), counts
        print(f"clusters {stats.num_clusters}, covered nodes {stats.covered_nodes} "
              f"of {stats.total_nodes}, median size {stats.distributions['size'][10]}")
        table = qd.cluster_table(EDGES, CLUSTERS, cpm=0.1, client=client)
        table.to_parquet(args.out)
        print(f"per-cluster table: {args.out}")


if __name__ == "__main__":
    main()
