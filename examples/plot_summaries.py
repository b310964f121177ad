"""Draws the six 21-point summaries of a clustering as one PNG figure.

    pip install matplotlib          # needed by this example only
    python examples/plot_summaries.py [GRAPH CLUSTERING] [--cpm 0.1] [--out summaries.png]

Without GRAPH and CLUSTERING it uses the bundled example in examples/data.
Each panel shows one per-cluster statistic over all clusters: its value at
every fifth percentile from the minimum (0 %) to the maximum (100 %), with
the middle half of the clusters (25 % to 75 %) shaded and the median marked.
"""

from __future__ import annotations

import argparse
import math
import os
import sys

import quelmar

try:
    import matplotlib
except ImportError:
    sys.exit("plot_summaries.py draws with matplotlib, which is not installed: "
             "pip install matplotlib")

matplotlib.use("Agg")  # files only, no window

import matplotlib.pyplot as plt  # noqa: E402  (after choosing the backend)
from matplotlib.axes import Axes  # noqa: E402
from matplotlib.ticker import FuncFormatter  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_GRAPH = os.path.join(HERE, "data", "graph.tsv")
DEFAULT_CLUSTERING = os.path.join(HERE, "data", "clustering.tsv")

# Panel order and titles, by key of ClusteringStats.distributions.
PANELS = [
    ("size", "Size", "members"),
    ("mcd", "Smallest member degree", "degree in the graph"),
    ("density", "Density", "internal edges / node pairs"),
    ("modularity", "Modularity contribution", "at resolution 1"),
    ("deviationtreeness", "Deviation from a tree", "(m + 1 - n) / n"),
    ("cpm", "CPM score", "m - r * n(n - 1) / 2"),
]
FRACTIONS = [5 * i for i in range(21)]  # percent, entry i of a summary
COLOUR = "#2b6ca3"


def wide_positive_range(values: list[float]) -> bool:
    """Whether a logarithmic axis shows these values better."""
    low, high = min(values), max(values)
    return low > 0 and high / low >= 15


def draw_panel(axes: Axes, values: list[float], title: str, unit: str, bottom: bool) -> None:
    axes.fill_between(FRACTIONS[5:16], values[5:16], color=COLOUR, alpha=0.15, linewidth=0,
                      label="middle half")
    axes.plot(FRACTIONS, values, color=COLOUR, marker="o", markersize=3.5, linewidth=1.4)
    axes.plot([50], [values[10]], marker="D", color="#c0392b", markersize=6,
              label=f"median {values[10]:.4g}")
    if wide_positive_range(values):
        axes.set_yscale("log")
        axes.yaxis.set_major_formatter(FuncFormatter(lambda value, _: f"{value:g}"))
    else:
        axes.axhline(0.0, color="#999999", linewidth=0.7, zorder=0)
    axes.set_title(title, fontsize=11, loc="left")
    axes.set_ylabel(unit, fontsize=9)
    axes.set_xlim(-3, 103)
    axes.set_xticks([0, 25, 50, 75, 100])
    axes.set_xticklabels(["min", "25 %", "median", "75 %", "max"], fontsize=8)
    if bottom:
        axes.set_xlabel("share of clusters with a smaller value", fontsize=9)
    axes.tick_params(axis="y", labelsize=8)
    axes.grid(True, color="#e5e5e5", linewidth=0.6)
    axes.legend(loc="upper left", fontsize=8, frameon=False)


def plot(stats: quelmar.ClusteringStats, cpm: float | None, source: str, out: str) -> None:
    distributions = stats.distributions
    figure, grid = plt.subplots(2, 3, figsize=(13, 7.2))
    for index, (axes, (key, title, unit)) in enumerate(zip(grid.flat, PANELS)):
        if key not in distributions:
            axes.set_axis_off()
            axes.text(0.5, 0.5, "no CPM resolution given", ha="center", va="center")
            continue
        if key == "cpm":
            title = f"{title} (r = {cpm:g})"
        values = distributions[key].percentiles
        if any(math.isnan(value) for value in values):
            values = [0.0 if math.isnan(value) else value for value in values]
        draw_panel(axes, values, title, unit, bottom=index >= 3)
    covered_nodes = 100.0 * stats.covered_nodes / max(stats.total_nodes, 1)
    covered_edges = 100.0 * stats.covered_edges / max(stats.total_edges, 1)
    figure.suptitle(
        f"{stats.num_clusters} clusters of {source}: they cover {covered_nodes:.1f} % of "
        f"{stats.total_nodes} nodes and {covered_edges:.1f} % of {stats.total_edges} edges",
        fontsize=12)
    figure.tight_layout(rect=(0, 0, 1, 0.96))
    figure.savefig(out, dpi=110)
    plt.close(figure)


def main(argv: list[str]) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("graph", nargs="?", default=DEFAULT_GRAPH)
    parser.add_argument("clustering", nargs="?", default=DEFAULT_CLUSTERING)
    parser.add_argument("--cpm", type=float, default=0.1,
                        help="CPM resolution (default 0.1; 0 or less leaves the panel empty)")
    parser.add_argument("--out", default="summaries.png")
    args = parser.parse_args(argv)

    cpm: float | None = args.cpm if args.cpm > 0 else None
    graph = quelmar.Graph(args.graph)
    if cpm is None:
        clustering = quelmar.Clustering(graph, args.clustering)
    else:
        clustering = quelmar.Clustering(graph, args.clustering, cpm=cpm)
    stats = clustering.select(lambda cluster: True).compute_statistics()
    plot(stats, cpm, os.path.basename(args.clustering), args.out)
    print(f"wrote {args.out}")


if __name__ == "__main__":
    main(sys.argv[1:])
