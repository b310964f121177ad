"""Pictures of clusterings, drawn with matplotlib (the optional extra
``quelmar[plot]``): the 21-point summaries of ClusteringStats, the columns of
a cluster table against size, the clusters that are not well connected, and
how two clusterings match.

Importing this module does not import matplotlib: each function imports it
when called, and raises ImportError naming the extra when it is missing
(``require_matplotlib``). Given ``ax=`` (or ``figure=``) a function draws
into it and touches nothing else, pyplot included: that is how programs that
hold their own figures (the HTML report) use them. Without, it makes a new
figure through pyplot, as pandas' and seaborn's plots do, so that a notebook
shows it and ``plt.show()``, ``plt.savefig`` and ``plt.close`` reach it. Each
returns what it drew into.
"""

from __future__ import annotations

import math
from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any, Optional

import numpy as np
import numpy.typing as npt
import pandas as pd

import quelmar
from quelmar_tools.agreement import compare
from quelmar_tools.integers import as_integer
from quelmar_tools.members import memberships
from quelmar_tools.refinement import (
    Criterion,
    checked_min_size,
    criterion_values,
    least_connectivity,
)
from quelmar_tools.summaries import PERCENTILES
from quelmar_tools.table import Ids, cluster_counts

if TYPE_CHECKING:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure

__all__ = [
    "MISSING_MATPLOTLIB", "best_match_jaccard", "connectivity", "measure_by_size",
    "overlap_heatmap", "require_matplotlib", "size_distribution", "summaries"
]

FloatArray = npt.NDArray[np.float64]

#: What a plot function raises, as ImportError, when matplotlib is missing.
MISSING_MATPLOTLIB = ('quelmar_tools.plot draws with matplotlib, which is not installed: '
                      'pip install "quelmar[plot]"')

#: Title and unit of each statistic's summary panel, in panel order; other
#: statistics follow in name order, titled by name.
PANELS = {
    "size": ("Size", "members"),
    "mcd": ("Smallest member degree", "degree in the graph"),
    "density": ("Density", "internal edges / node pairs"),
    "modularity": ("Modularity contribution", "at resolution 1"),
    "deviationtreeness": ("Deviation from a tree", "(m + 1 - n) / n"),
    "cpm": ("CPM score", "m - r * n(n - 1) / 2"),
}
PANEL_COLUMNS = 3
PANEL_INCHES = (4.3, 3.6)
# Entries 5 to 15 of a summary: the middle half of the clusters.
MIDDLE = slice(5, 16)
MEDIAN = 10

COLOUR = "#2b6ca3"
HIGHLIGHT = "#c0392b"
MUTED = "#9a9a9a"
GRID = "#e5e5e5"
HEATMAP_COLOURS = "Blues"
#: Beyond this many points, scatters are rasterised in vector output.
RASTER_POINTS = 5000
#: Points of the criterion's curve, spread evenly on the log axis.
CURVE_POINTS = 256
#: Bins of the best-match Jaccard histogram over [0, 1].
JACCARD_BINS = 20

SIZE_LABEL = "members (n)"
NO_CLUSTERS = "no clusters"
#: gid of each group of connectivity(); in the legend in this order.
SMALL, PASSING, FAILING = "below min_size", "well connected", "not well connected"


def require_matplotlib() -> None:
    """Raises ImportError naming the ``plot`` extra unless matplotlib imports.

    Every plot function calls it before any work; so can other drawing code
    (the HTML report), to fail early with the same message.

    Raises
    ------
    ImportError
        With MISSING_MATPLOTLIB as its message, the failed import as its
        cause.

    Examples
    --------
    >>> from quelmar_tools.plot import require_matplotlib
    >>> require_matplotlib()  # matplotlib is installed: nothing happens
    """
    try:
        import matplotlib  # noqa: F401
    except ImportError as error:
        raise ImportError(MISSING_MATPLOTLIB) from error


def summaries(stats: quelmar.ClusteringStats, *, statistics: Optional[Iterable[str]] = None,
              figure: Optional[Figure] = None) -> Figure:
    """The 21-point summaries of a ClusteringStats, one panel per statistic.

    Each panel shows a statistic's value at every fifth percentile of the
    clusters, from the minimum (0 %) to the maximum (100 %), with the middle
    half (25 % to 75 %) shaded and the median marked. A statistic whose
    values are positive and span a factor of 15 or more is drawn on a log
    axis. The figure's title gives the clusters' coverage.

    Parameters
    ----------
    stats : quelmar.ClusteringStats
        What ``compute_statistics()`` returned.
    statistics : iterable of str, optional
        Keys of ``stats.distributions``, one panel each in this order; by
        default all of them: size, mcd, density, modularity,
        deviationtreeness and cpm first, the others after by name.
    figure : matplotlib.figure.Figure, optional
        An empty figure to draw into; by default a new one, three panels a
        row.

    Returns
    -------
    matplotlib.figure.Figure
        The figure, with the panels as its axes.

    Raises
    ------
    ValueError
        For a statistic `stats` does not have, naming it and those it has,
        or an empty `statistics`.
    ImportError
        Without matplotlib.

    Examples
    --------
    >>> import quelmar_tools
    >>> from quelmar_tools import plot
    >>> graph = quelmar_tools.graph_from([[1, 2], [2, 3], [3, 1], [4, 5], [5, 6]])
    >>> clusters = quelmar_tools.clustering_from(graph, [[1, 2, 3], [4, 5, 6]])
    >>> stats = clusters.select(lambda cluster: True).compute_statistics()
    >>> figure = plot.summaries(stats, statistics=["size", "density"])
    >>> [axes.get_title(loc="left") for axes in figure.axes]
    ['Size', 'Density']
    """
    require_matplotlib()
    distributions = stats.distributions
    names = _statistic_names(distributions, statistics)
    columns = min(PANEL_COLUMNS, len(names))
    rows = math.ceil(len(names) / columns)
    if figure is None:
        import matplotlib.pyplot as plt

        figure = plt.figure(figsize=(PANEL_INCHES[0] * columns, PANEL_INCHES[1] * rows),
                            layout="constrained")
    grid = figure.subplots(rows, columns, squeeze=False)
    for index, axes in enumerate(grid.flat):
        if index >= len(names):
            axes.set_axis_off()
            continue
        title, unit = PANELS.get(names[index], (names[index], ""))
        _draw_summary(axes, distributions[names[index]].percentiles, title, unit,
                      bottom=index + columns >= len(names))
    nodes = _percent(stats.covered_nodes, stats.total_nodes)
    edges = _percent(stats.covered_edges, stats.total_edges)
    figure.suptitle(f"{stats.num_clusters} clusters: they cover {nodes:.1f} % of "
                    f"{stats.total_nodes} nodes and {edges:.1f} % of {stats.total_edges} edges")
    return figure


def size_distribution(table: pd.DataFrame, *, ax: Optional[Axes] = None) -> Axes:
    """The distribution of cluster sizes, on log axes.

    For every size n that occurs, the number of clusters with at least n
    members. The count of clusters at least as large needs no choice of bins, counts
    every cluster once, and keeps the few largest clusters visible, where a
    histogram of 10^5 sizes would show a flat tail of ones.

    Parameters
    ----------
    table : pandas.DataFrame
        A cluster table (``cluster_table``); its column ``n`` is read.
    ax : matplotlib.axes.Axes, optional
        Where to draw; by default the axes of a new figure.

    Returns
    -------
    matplotlib.axes.Axes
        The axes, with one line: the sizes as x, the counts as y.

    Raises
    ------
    ValueError
        When `table` has no column ``n``.
    ImportError
        Without matplotlib.

    Examples
    --------
    >>> import quelmar_tools
    >>> from quelmar_tools import plot
    >>> graph = quelmar_tools.graph_from([[1, 2], [2, 3], [3, 1], [4, 5], [5, 6], [6, 7]])
    >>> clusters = quelmar_tools.clustering_from(graph, [[1, 2, 3], [4, 5, 6, 7]])
    >>> ax = plot.size_distribution(quelmar_tools.cluster_table(clusters))
    >>> ax.lines[0].get_xdata().tolist(), ax.lines[0].get_ydata().tolist()
    ([3.0, 4.0], [2.0, 1.0])
    """
    axes = _new_axes(ax)
    sizes = _numbers(table, "n")
    distinct, counts = np.unique(sizes, return_counts=True)
    at_least = np.cumsum(counts[::-1])[::-1].astype(np.float64)
    axes.step(distinct, at_least, where="pre", color=COLOUR, marker="o", markersize=3,
              linewidth=1.2)
    _log_scale(axes, "x")
    _log_scale(axes, "y")
    axes.set_xlabel(SIZE_LABEL)
    axes.set_ylabel("clusters with at least n members")
    axes.set_title("Cluster sizes", loc="left")
    _finish(axes, len(sizes))
    return axes


def measure_by_size(table: pd.DataFrame, measure: str, *, ax: Optional[Axes] = None) -> Axes:
    """A value or measure column of a cluster table against cluster size.

    One point per cluster, size on a log axis. The column is drawn on a log
    axis too when its values are positive and span a factor of 15 or more.
    Clusters without a value (NaN, as some measures give small or isolated
    clusters) are left out, and the title says how many.

    Parameters
    ----------
    table : pandas.DataFrame
        A cluster table (``cluster_table``, with ``measures=`` for the
        quality measures); columns ``n`` and `measure` are read.
    measure : str
        The column to draw: ``density``, ``conductance``, ...
    ax : matplotlib.axes.Axes, optional
        Where to draw; by default the axes of a new figure.

    Returns
    -------
    matplotlib.axes.Axes
        The axes, with one scatter: sizes as x, the column as y.

    Raises
    ------
    ValueError
        When `table` lacks ``n`` or `measure`, naming it.
    TypeError
        When the column is not numeric.
    ImportError
        Without matplotlib.

    Examples
    --------
    >>> import quelmar_tools
    >>> from quelmar_tools import plot
    >>> graph = quelmar_tools.graph_from([[1, 2], [2, 3], [3, 1], [4, 5], [5, 6], [6, 7]])
    >>> clusters = quelmar_tools.clustering_from(graph, [[1, 2, 3], [4, 5, 6, 7]])
    >>> table = quelmar_tools.cluster_table(clusters)
    >>> ax = plot.measure_by_size(table, "density")
    >>> ax.collections[0].get_offsets().tolist()
    [[3.0, 1.0], [4.0, 0.5]]
    """
    axes = _new_axes(ax)
    sizes, values = _numbers(table, "n"), _numbers(table, measure)
    known = np.isfinite(values)
    _scatter(axes, sizes[known], values[known], COLOUR, measure)
    _log_scale(axes, "x")
    if _wide_positive_range(values[known]):
        _log_scale(axes, "y")
    axes.set_xlabel(SIZE_LABEL)
    axes.set_ylabel(measure)
    unknown = int(len(values) - known.sum())
    note = f" ({unknown} without a value, not shown)" if unknown else ""
    axes.set_title(f"{measure} by size{note}", loc="left")
    _finish(axes, len(sizes))
    return axes


def connectivity(table: pd.DataFrame, *, criterion: Criterion = "log10", min_size: int = 11,
                 ax: Optional[Axes] = None) -> Axes:
    """Each cluster's minimum cut against its size, with the criterion's curve.

    The curve is t(n); the clusters that are not well connected are red. A
    cluster is not well connected, as ``well_connected`` decides it, when
    it has at least `min_size` members and its edge connectivity λ (the
    ``mincut`` column) is not above t(n): λ <= t(n), and always when λ is
    0 (a disconnected cluster is split whatever t says). Smaller clusters,
    which ``well_connected`` drops, are grey. The cut is drawn on a
    symmetric log axis, linear below 1, so that λ = 0 shows.

    Parameters
    ----------
    table : pandas.DataFrame
        A cluster table with the minimum cut:
        ``cluster_table(clustering, measures=["mincut"])``. Rows whose cut
        is NaN (clusters of one member) are left out.
    criterion : str or callable, default "log10"
        t(n), as ``well_connected`` takes it: a sum of terms such as
        ``"log10"``, ``"2log10+1"``, ``"0.1n^0.5"``, or a callable from
        size to float.
    min_size : int, default 11
        The fewest members a well-connected cluster has; at least 2.
    ax : matplotlib.axes.Axes, optional
        Where to draw; by default the axes of a new figure.

    Returns
    -------
    matplotlib.axes.Axes
        The axes: three scatters, with gid ``"below min_size"``,
        ``"well connected"`` and ``"not well connected"``, sizes as x and
        cuts as y; the curve t(n) from `min_size` to the largest size.

    Raises
    ------
    ValueError
        When `table` lacks ``n`` or ``mincut``, for a criterion string that
        cannot be read, or `min_size` below 2.
    TypeError
        For a criterion that is neither a str nor callable.
    ImportError
        Without matplotlib.

    Examples
    --------
    >>> import networkx as nx, quelmar_tools
    >>> from quelmar_tools import plot
    >>> two = nx.disjoint_union(nx.complete_graph(12), nx.complete_graph(12))
    >>> two.add_edge(0, 12)
    >>> graph = quelmar_tools.graph_from(two)
    >>> clusters = quelmar_tools.clustering_from(graph, [range(12), range(24)])
    >>> table = quelmar_tools.cluster_table(clusters, measures=["mincut"])
    >>> ax = plot.connectivity(table)
    >>> failing = [c for c in ax.collections if c.get_gid() == "not well connected"]
    >>> failing[0].get_offsets().tolist()
    [[24.0, 1.0]]
    """
    axes = _new_axes(ax)
    sizes, cuts = _numbers(table, "n"), _numbers(table, "mincut")
    size_floor = checked_min_size(min_size)
    largest = int(sizes.max()) if len(sizes) else 0
    least = least_connectivity(criterion, size_floor, largest).astype(np.float64)
    known = ~np.isnan(cuts)
    sizes, cuts = sizes[known], cuts[known]
    large = sizes >= size_floor
    failing = np.zeros(len(sizes), dtype=bool)
    at = (sizes[large] - size_floor).astype(np.int64)
    failing[large] = (cuts[large] == 0) | (cuts[large] < least[at])
    groups = ((SMALL, ~large, MUTED), (PASSING, large & ~failing, COLOUR),
              (FAILING, failing, HIGHLIGHT))
    for gid, chosen, colour in groups:
        points = _scatter(axes, sizes[chosen], cuts[chosen], colour,
                          f"{gid} ({int(chosen.sum())})")
        points.set_gid(gid)
    if largest >= size_floor:
        curve = np.unique(np.round(np.geomspace(size_floor, largest, CURVE_POINTS)))
        shown = f"t(n) = {criterion}" if isinstance(criterion, str) else "t(n)"
        axes.plot(curve, criterion_values(criterion, curve), color="#333333", linestyle="--",
                  linewidth=1.2, label=shown)
    axes.axvline(size_floor, color=MUTED, linestyle=":", linewidth=1,
                 label=f"min_size = {size_floor}")
    _log_scale(axes, "x")
    _log_scale(axes, "y", symmetric=True)
    axes.set_xlabel(SIZE_LABEL)
    axes.set_ylabel("minimum cut (edge connectivity)")
    axes.set_title("Connectivity by size", loc="left")
    # Framed: points lie anywhere, and a legend looking for room would weigh each of them.
    axes.legend(loc="upper left", fontsize=8, framealpha=0.85)
    _finish(axes, len(sizes))
    return axes


def overlap_heatmap(a: quelmar.Clustering, b: quelmar.Clustering, *, top: int = 20,
                    ids: Optional[Ids] = None, other_ids: Optional[Ids] = None,
                    ax: Optional[Axes] = None) -> Axes:
    """How the largest clusters of two clusterings of one graph overlap.

    A heatmap of the Jaccard index of every pair among the `top` largest
    clusters of each. The cells hold Jaccard indices ``|A ∩ B| / |A ∪ B|`` rather than shared
    members: among clusters of very unequal sizes a count of shared members
    is dominated by the larger cluster, while the Jaccard index puts every
    pair on one scale from 0 (disjoint) to 1 (the same members), the
    index by which ``match_table`` picks best matches. Rows are the
    clusters of `a`, columns those of `b`, largest first (ties by id), both
    labelled by cluster id.

    Parameters
    ----------
    a, b : quelmar.Clustering
        Two clusterings of the same graph.
    top : int, default 20
        How many of the largest clusters of each side; all when fewer.
    ids, other_ids : iterable of int, optional
        Choose among these clusters of `a` and of `b`; all by default.
    ax : matplotlib.axes.Axes, optional
        Where to draw; by default the axes of a new figure. A colour bar is
        added beside it.

    Returns
    -------
    matplotlib.axes.Axes
        The axes, with one image: its array holds the Jaccard indices, row
        i for the i-th largest cluster of `a`.

    Raises
    ------
    ValueError
        For clusterings of different graphs, or `top` below 1.
    TypeError
        When `a` or `b` is not a quelmar.Clustering.
    ImportError
        Without matplotlib.

    Examples
    --------
    >>> import quelmar_tools
    >>> from quelmar_tools import plot
    >>> graph = quelmar_tools.graph_from([[1, 2], [2, 3], [3, 4], [4, 5], [5, 6]])
    >>> a = quelmar_tools.clustering_from(graph, {7: [1, 2, 3], 8: [4, 5, 6]})
    >>> b = quelmar_tools.clustering_from(graph, {0: [1, 2, 3, 4, 5, 6]})
    >>> ax = plot.overlap_heatmap(a, b)
    >>> ax.images[0].get_array().tolist()
    [[0.5], [0.5]]
    """
    require_matplotlib()
    compare(a, b, ids=(), other_ids=(), measures=[])  # the types and the one graph
    count = as_integer(top, "top")
    if count < 1:
        raise ValueError(f"top must be at least 1, got {count}")
    axes = _new_axes(ax)
    rows, row_sizes = _largest(a, ids, count)
    columns, column_sizes = _largest(b, other_ids, count)
    if not len(rows) or not len(columns):
        _finish(axes, 0)
        return axes
    shared = memberships(a, rows).merge(memberships(b, columns), on="node")
    pairs = shared.groupby(["cluster_x", "cluster_y"]).size()
    common = np.zeros((len(rows), len(columns)), dtype=np.float64)
    row_at = pd.Index(rows).get_indexer(pairs.index.get_level_values(0))
    column_at = pd.Index(columns).get_indexer(pairs.index.get_level_values(1))
    common[row_at, column_at] = pairs.to_numpy()
    union = row_sizes[:, None] + column_sizes[None, :] - common
    image = axes.imshow(common / union, vmin=0.0, vmax=1.0, cmap=HEATMAP_COLOURS,
                        aspect="auto", interpolation="nearest")
    axes.set_yticks(range(len(rows)), labels=[str(key) for key in rows.tolist()])
    axes.set_xticks(range(len(columns)), labels=[str(key) for key in columns.tolist()],
                    rotation=90)
    axes.tick_params(labelsize=8)
    axes.set_ylabel("a: cluster id (largest first)")
    axes.set_xlabel("b: cluster id (largest first)")
    axes.set_title("Overlap of the largest clusters", loc="left")
    axes.figure.colorbar(image, ax=axes, label="Jaccard index")
    return axes


def best_match_jaccard(matches: pd.DataFrame, *, ax: Optional[Axes] = None) -> Axes:
    """The distribution of the best-match Jaccard index of a match table.

    A histogram over [0, 1] in bins of 0.05 (an index of 1 in the last), one
    count per matched cluster. Clusters without a match (NaN) are left out;
    the title says how many.

    Parameters
    ----------
    matches : pandas.DataFrame
        A match table (``match_table``); its column ``jaccard`` is read.
    ax : matplotlib.axes.Axes, optional
        Where to draw; by default the axes of a new figure.

    Returns
    -------
    matplotlib.axes.Axes
        The axes, with one bar per bin.

    Raises
    ------
    ValueError
        When `matches` has no column ``jaccard``.
    ImportError
        Without matplotlib.

    Examples
    --------
    >>> import quelmar_tools
    >>> from quelmar_tools import plot
    >>> graph = quelmar_tools.graph_from([[1, 2], [2, 3], [3, 4], [4, 5], [5, 6]])
    >>> a = quelmar_tools.clustering_from(graph, {7: [1, 2, 3], 8: [4, 5, 6]})
    >>> b = quelmar_tools.clustering_from(graph, {0: [1, 2, 3, 4]})
    >>> ax = plot.best_match_jaccard(quelmar_tools.match_table(a, b))
    >>> [round(float(bar.get_x()), 2) for bar in ax.patches if bar.get_height() == 1]
    [0.15, 0.75]
    """
    axes = _new_axes(ax)
    values = _numbers(matches, "jaccard")
    matched = values[~np.isnan(values)]
    axes.hist(matched, bins=np.linspace(0.0, 1.0, JACCARD_BINS + 1).tolist(), color=COLOUR,
              edgecolor="white", linewidth=0.5)
    axes.set_xlim(0.0, 1.0)
    axes.set_xlabel("Jaccard index of the best match")
    axes.set_ylabel("clusters")
    unmatched = len(values) - len(matched)
    note = f" ({unmatched} without a match, not shown)" if unmatched else ""
    axes.set_title(f"Best matches{note}", loc="left")
    _finish(axes, len(values))
    return axes


def _new_axes(ax: Optional[Axes]) -> Axes:
    """`ax`, or the axes of a new pyplot figure."""
    require_matplotlib()
    if ax is not None:
        return ax
    import matplotlib.pyplot as plt

    return plt.figure(layout="constrained").add_subplot()


def _finish(axes: Axes, rows: int) -> None:
    axes.grid(True, color=GRID, linewidth=0.6)
    axes.set_axisbelow(True)
    if not rows:
        # Log axes over no data have no limits to tick.
        if axes.get_xscale() == "log":
            axes.set_xlim(1, 10)
        if axes.get_yscale() == "log":
            axes.set_ylim(1, 10)
        axes.text(0.5, 0.5, NO_CLUSTERS, ha="center", va="center", transform=axes.transAxes,
                  color=MUTED)


def _scatter(axes: Axes, x: FloatArray, y: FloatArray, colour: str, label: str) -> Any:
    return axes.scatter(x, y, s=8, color=colour, alpha=0.6, linewidths=0, label=label,
                        rasterized=len(x) > RASTER_POINTS)


def _numbers(table: pd.DataFrame, column: str) -> FloatArray:
    """A column of `table` as float64, missing values as NaN."""
    if column not in table.columns:
        raise ValueError(f"the table has no column {column!r}; it has "
                         f"{', '.join(map(str, table.columns)) or 'none'}")
    try:
        return table[column].to_numpy(dtype=np.float64, na_value=np.nan)
    except (TypeError, ValueError) as error:
        raise TypeError(f"column {column!r} is not numeric: {table[column].dtype}") from error


def _largest(clustering: quelmar.Clustering, ids: Optional[Ids],
             count: int) -> tuple[npt.NDArray[np.uint64], FloatArray]:
    """The ids and sizes of the `count` largest clusters, largest first,
    ties by id."""
    keys, counts = cluster_counts(clustering, ids)
    sizes = counts[0]
    order = np.lexsort((keys, -sizes.astype(np.float64)))[:count]
    return keys[order], sizes[order].astype(np.float64)


def _statistic_names(distributions: Mapping[str, Any],
                     statistics: Optional[Iterable[str]]) -> list[str]:
    if statistics is None:
        names = ([name for name in PANELS if name in distributions]
                 + sorted(name for name in distributions if name not in PANELS))
    else:
        names = [statistics] if isinstance(statistics, str) else list(statistics)
    for name in names:
        if name not in distributions:
            raise ValueError(f"no statistic {name!r} in these statistics; they have "
                             f"{', '.join(sorted(distributions))}")
    if not names:
        raise ValueError("no statistic to draw")
    return names


def _draw_summary(axes: Axes, values: Sequence[float], title: str, unit: str,
                  bottom: bool) -> None:
    axes.fill_between(PERCENTILES[MIDDLE], values[MIDDLE], color=COLOUR, alpha=0.15,
                      linewidth=0, label="middle half")
    axes.plot(PERCENTILES, values, color=COLOUR, marker="o", markersize=3.5, linewidth=1.4)
    axes.plot([PERCENTILES[MEDIAN]], [values[MEDIAN]], marker="D", color=HIGHLIGHT,
              markersize=6, linestyle="none", label=f"median {values[MEDIAN]:.4g}")
    if _wide_positive_range(np.asarray(values, dtype=np.float64)):
        _log_scale(axes, "y")
    else:
        axes.axhline(0.0, color=MUTED, linewidth=0.7, zorder=0)
    axes.set_title(title, fontsize=11, loc="left")
    axes.set_ylabel(unit, fontsize=9)
    axes.set_xlim(-3, 103)
    axes.set_xticks([0, 25, 50, 75, 100], labels=["min", "25 %", "median", "75 %", "max"],
                    fontsize=8)
    if bottom:
        axes.set_xlabel("share of clusters with a smaller value", fontsize=9)
    axes.tick_params(axis="y", labelsize=8)
    axes.grid(True, color=GRID, linewidth=0.6)
    axes.legend(loc="upper left", fontsize=8, frameon=False)


def _log_scale(axes: Axes, which: str, symmetric: bool = False) -> None:
    """A log scale on the axis `which` ("x" or "y"), in plain numbers; ticked
    at 1, 2 and 5 of every power of ten, or, symmetric, linear below 1 so
    that 0 shows."""
    from matplotlib.ticker import FuncFormatter, LogLocator, NullFormatter

    set_scale = axes.set_xscale if which == "x" else axes.set_yscale
    axis = axes.xaxis if which == "x" else axes.yaxis
    if symmetric:
        set_scale("symlog", linthresh=1)
    else:
        set_scale("log")
        axis.set_major_locator(LogLocator(base=10, subs=(1.0, 2.0, 5.0)))
    axis.set_major_formatter(FuncFormatter(lambda value, _: f"{value:g}"))
    axis.set_minor_formatter(NullFormatter())


def _wide_positive_range(values: FloatArray) -> bool:
    """Whether a log axis shows these values better: all positive, spanning
    a factor of 15 or more."""
    finite = values[np.isfinite(values)]
    if not len(finite):
        return False
    low, high = float(finite.min()), float(finite.max())
    return low > 0 and high / low >= 15


def _percent(part: int, whole: int) -> float:
    return 100.0 * part / whole if whole else 0.0
