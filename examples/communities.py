"""From a networkx graph to a per-cluster table
============================================

Detect communities with networkx, measure them with quelmar, and plot one
column::

    python examples/communities.py [--out PLOT.png]

The plot goes to examples/out/communities.png unless --out says otherwise
(examples/out/ is not tracked).

Needs networkx (and matplotlib for the plot, ``pip install "quelmar[plot]"``; the plot is
skipped without it).
"""

from __future__ import annotations

import argparse
import os

import networkx as nx

import quelmar_tools
from quelmar_tools import plot

import bundled


def main() -> None:
    parser = argparse.ArgumentParser(description="communities of a networkx graph, measured")
    default_out = os.path.join(bundled.OUT, "communities.png")
    parser.add_argument("--out", default=default_out, help="where to save the plot")
    args = parser.parse_args()

    # A planted partition: 30 groups of 20 nodes, dense inside, sparse across.
    network = nx.planted_partition_graph(30, 20, p_in=0.3, p_out=0.005, seed=7)
    graph = quelmar_tools.graph_from(network)
    communities = nx.community.louvain_communities(network, seed=7)
    clustering = quelmar_tools.clustering_from(graph, communities, cpm=0.1)

    table = quelmar_tools.cluster_table(clustering, cpm=0.1)
    print(table.sort_values("modularity", ascending=False).head())
    totals = quelmar_tools.totals(clustering)
    print(f"modularity {totals['modularity']:.6f} "
          f"(networkx: {nx.community.modularity(network, communities):.6f}), "
          f"{totals['node_coverage']:.1%} of the nodes covered")

    summary = quelmar_tools.summary_table(
        clustering.select(lambda cluster: True).compute_statistics())
    print(summary[[0, 50, 100]])

    try:
        plot.require_matplotlib()
    except ImportError as missing:  # the plot extra is optional
        print(f"no plot: {missing}")
        return
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots()
    plot.measure_by_size(table, "density", ax=axes)
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    figure.savefig(args.out)
    print(f"plot saved to {args.out}")


if __name__ == "__main__":
    main()
