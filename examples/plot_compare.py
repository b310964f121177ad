"""
How two clusterings match
=========================

The bundled clustering against its alternative: the agreement measures,
the Jaccard index of every pair among the largest clusters of each, and how
well every cluster is matched by its best counterpart (Jaccard index)::

    python examples/plot_compare.py [--out examples/out/compare.png]

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
    parser = argparse.ArgumentParser(description="the bundled clustering against its alternative")
    parser.add_argument("--out", default=os.path.join(bundled.OUT, "compare.png"))
    args = parser.parse_args()

    graph = quelmar.Graph(bundled.GRAPH)
    clustering = quelmar.Clustering(graph, bundled.CLUSTERING)
    other = quelmar.Clustering(graph, bundled.CLUSTERING_ALT)
    for name, value in quelmar_tools.compare(clustering, other, measures="all").items():
        print(f"{name:<8}{value:.4f}")
    matches = quelmar_tools.match_table(clustering, other)
    print(matches.sort_values("jaccard").head())

    figure, (left, right) = plt.subplots(1, 2, figsize=(13, 5.5), layout="constrained")
    plot.overlap_heatmap(clustering, other, top=15, ax=left)
    plot.best_match_jaccard(matches, ax=right)

    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    figure.savefig(args.out)
    print(f"plot saved to {args.out}")


if __name__ == "__main__":
    main()
