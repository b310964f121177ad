"""
Quality measures against cluster size
=====================================

The per-cluster table of the bundled clustering with two quality measures,
drawn against cluster size: conductance (the share of a cluster's edge ends
that leave it), and the exact minimum cut beside the log10 line that
``well_connected`` holds clusters to, so that the clusters that are not
well-connected stand out. Then the refinement that cuts them::

    python examples/plot_quality.py [--out examples/out/quality.png]

Needs matplotlib (``pip install "quelmar[plot]"``).
"""

from __future__ import annotations

import argparse
import os

import matplotlib.pyplot as plt
import quelmar

import bundled
import quelmar_tools
from quelmar_tools import plot


def main() -> None:
    parser = argparse.ArgumentParser(description="quality measures of the bundled clustering")
    parser.add_argument("--out", default=os.path.join(bundled.OUT, "quality.png"))
    args = parser.parse_args()

    graph = quelmar.Graph(bundled.GRAPH)
    clustering = quelmar.Clustering(graph, bundled.CLUSTERING)
    table = quelmar_tools.cluster_table(clustering, measures=["conductance", "mincut"])
    print(table[["n", "m", "c", "conductance", "mincut"]].describe().round(3))

    figure, (left, middle, right) = plt.subplots(1, 3, figsize=(15, 4.5), layout="constrained")
    plot.size_distribution(table, ax=left)
    plot.measure_by_size(table, "conductance", ax=middle)
    plot.connectivity(table, ax=right)

    refined = quelmar_tools.well_connected(clustering)
    report = refined.report
    print(f"{len(report)} clusters in, {len(refined.origin)} well-connected clusters out, "
          f"{int(report['cuts'].sum())} minimum cuts made")

    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    figure.savefig(args.out)
    print(f"plot saved to {args.out}")


if __name__ == "__main__":
    main()
