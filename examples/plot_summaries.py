"""
The 21-point summaries of a clustering
======================================

Each panel shows one per-cluster statistic over all clusters: its value at
every fifth percentile from the minimum (0 %) to the maximum (100 %), with
the middle half of the clusters (25 % to 75 %) shaded and the median marked::

    python examples/plot_summaries.py [GRAPH CLUSTERING] [--cpm 0.1] [--out PLOT.png]

Without GRAPH and CLUSTERING it uses the bundled example in examples/data.
The figure goes to examples/out/summaries.png unless --out says otherwise.
Needs matplotlib (``pip install "quelmar[plot]"``).
"""

from __future__ import annotations

import argparse
import os
import sys

import matplotlib.pyplot as plt
import quelmar

import bundled
from quelmar_tools import plot


def main(argv: list[str]) -> None:
    parser = argparse.ArgumentParser(description="the 21-point summaries of a clustering")
    parser.add_argument("graph", nargs="?", default=bundled.GRAPH)
    parser.add_argument("clustering", nargs="?", default=bundled.CLUSTERING)
    parser.add_argument("--cpm", type=float, default=0.1,
                        help="CPM resolution (default 0.1; 0 or less leaves the CPM panel out)")
    parser.add_argument("--out", default=os.path.join(bundled.OUT, "summaries.png"))
    args = parser.parse_args(argv)

    cpm: float | None = args.cpm if args.cpm > 0 else None
    graph = quelmar.Graph(args.graph)
    if cpm is None:
        clustering = quelmar.Clustering(graph, args.clustering)
    else:
        clustering = quelmar.Clustering(graph, args.clustering, cpm=cpm)
    stats = clustering.select(lambda cluster: True).compute_statistics()
    # Through pyplot, so that the docs gallery finds the figure.
    figure = plot.summaries(stats, figure=plt.figure(figsize=(13, 7.2), layout="constrained"))
    resolution = "" if cpm is None else f", CPM at r = {cpm:g}"
    figure.suptitle(f"{os.path.basename(args.clustering)}{resolution}: "
                    f"{figure.get_suptitle()}")
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    figure.savefig(args.out, dpi=110)
    print(f"wrote {args.out}")


if __name__ == "__main__":
    main(sys.argv[1:])
