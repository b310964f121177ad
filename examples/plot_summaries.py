"""Draws the 21-point summaries of a clustering as one PNG figure.

    pip install "quelmar[plot]"     # matplotlib, for quelmar_tools.plot
    python examples/plot_summaries.py [GRAPH CLUSTERING] [--cpm 0.1] [--out summaries.png]

Without GRAPH and CLUSTERING it uses the bundled example in examples/data.
Each panel shows one per-cluster statistic over all clusters: its value at
every fifth percentile from the minimum (0 %) to the maximum (100 %), with
the middle half of the clusters (25 % to 75 %) shaded and the median marked.
"""

from __future__ import annotations

import argparse
import os
import sys

import quelmar
from quelmar_tools import plot

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_GRAPH = os.path.join(HERE, "data", "graph.tsv")
DEFAULT_CLUSTERING = os.path.join(HERE, "data", "clustering.tsv")


def main(argv: list[str]) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("graph", nargs="?", default=DEFAULT_GRAPH)
    parser.add_argument("clustering", nargs="?", default=DEFAULT_CLUSTERING)
    parser.add_argument("--cpm", type=float, default=0.1,
                        help="CPM resolution (default 0.1; 0 or less leaves the CPM panel out)")
    parser.add_argument("--out", default="summaries.png")
    args = parser.parse_args(argv)
    try:
        plot.require_matplotlib()
    except ImportError as error:
        sys.exit(str(error))

    cpm: float | None = args.cpm if args.cpm > 0 else None
    graph = quelmar.Graph(args.graph)
    if cpm is None:
        clustering = quelmar.Clustering(graph, args.clustering)
    else:
        clustering = quelmar.Clustering(graph, args.clustering, cpm=cpm)
    stats = clustering.select(lambda cluster: True).compute_statistics()
    figure = plot.summaries(stats)
    resolution = "" if cpm is None else f", CPM at r = {cpm:g}"
    figure.suptitle(f"{os.path.basename(args.clustering)}{resolution}: "
                    f"{figure.get_suptitle()}")
    figure.savefig(args.out, dpi=110)
    print(f"wrote {args.out}")


if __name__ == "__main__":
    main(sys.argv[1:])
