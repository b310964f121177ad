"""The report of quelmar-stats as one self-contained HTML page.

The page holds the report's figures as tables (each number shown rounded,
its exact value in the cell's ``title``), the plots of ``quelmar_tools.plot``
as inline SVG, and the largest and worst-connected clusters. It needs no
network to be viewed: no script, no external style sheet, font or image;
the plots draw their text as paths. Every text taken from the input (file
paths, cluster ids, measure names) is HTML-escaped.
"""

from __future__ import annotations

import functools
import html
import io
import math
import re
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Callable, Iterable, Optional, Sequence

import numpy as np
import pandas as pd

import quelmar
import quelmar_tools
from quelmar_tools._files import PathLike, atomic_text
from quelmar_tools.refinement import criterion_values
from quelmar_tools.summaries import PERCENTILES

if TYPE_CHECKING:
    from quelmar_tools.cli import Report

__all__ = ["CRITERION", "MINCUT", "MIN_SIZE", "TOP_CLUSTERS", "Page", "largest", "page_html",
           "require_plotting", "worst_connected", "write_page"]

#: The rows of the tables of largest and of worst-connected clusters.
TOP_CLUSTERS = 20
#: The connectivity criterion t(n) and the fewest members for which the
#: worst-connected table and the connectivity plot rank a cluster; the
#: defaults of quelmar-wcc.
CRITERION = "log10"
MIN_SIZE = 11
#: The measure the worst-connected table ranks by.
MINCUT = "mincut"

# SVG from matplotlib: its ids are unique within one figure only (glyph
# definitions are numbered per figure), so each figure's ids get a prefix.
_SVG_ID = re.compile(r'((?<![\w-])id="|href="#|url\(#)')
# Namespace declarations: the HTML parser puts inline SVG in its namespace.
_SVG_NAMESPACES = re.compile(r'\s+xmlns(?::\w+)?="[^"]*"')
_CLUSTER_COLUMNS = ("n", "m", "c", "mcd", "density", MINCUT)
# The title of the ratio column, and its meaning, said on the page.
_RATIO = f"{MINCUT} / {CRITERION}(n)"

_STYLE = """
body { font: 15px/1.45 system-ui, sans-serif; color: #1d232a; margin: 2em auto;
       max-width: 72em; padding: 0 1.5em; }
h1 { font-size: 1.6em; margin-bottom: 0.2em; }
h2 { font-size: 1.25em; margin-top: 2em; border-bottom: 1px solid #d5dbe1; }
table { border-collapse: collapse; margin: 0.8em 0; }
th, td { padding: 0.2em 0.6em; border-bottom: 1px solid #e6eaee; }
th { text-align: left; font-weight: 600; }
td { text-align: right; font-variant-numeric: tabular-nums; }
td.text { text-align: left; color: #56606b; }
thead th { background: #f2f5f8; text-align: right; white-space: nowrap; }
thead th:first-child { text-align: left; }
tbody th { white-space: nowrap; }
.wide { overflow-x: auto; }
.inputs td { text-align: left; font-family: ui-monospace, monospace; }
figure { margin: 1em 0; }
figure svg { max-width: 100%; height: auto; }
figcaption, p.note { color: #56606b; }
"""


@dataclass
class Page:
    """What one page shows.

    The command fills it from its report; see write_page.

    Parameters
    ----------
    report : quelmar_tools.cli.Report
        The figures of the text and JSON reports.
    table : pandas.DataFrame
        The cluster table of the clusters reported (``cluster_table``) with
        a ``mincut`` column and one column per measure in `measures`.
    sources : sequence of (str, str)
        What the report was made from, as (label, text) rows: file paths
        and options.
    measures : sequence of str
        The measures asked for, each plotted against size.
    clustering, other : quelmar.Clustering, optional
        With a comparison: the two clusterings, for the overlap heatmap.
    ids : sequence of int, optional
        The clusters of `clustering` compared; all when None.
    matches : pandas.DataFrame, optional
        With a comparison: ``match_table(clustering, other, ids=ids)``.

    Examples
    --------
    >>> from quelmar_tools.html_report import Page
    >>> [name for name in Page.__dataclass_fields__][:2]
    ['report', 'table']
    """

    report: Report
    table: pd.DataFrame
    sources: Sequence[tuple[str, str]] = ()
    measures: Sequence[str] = ()
    clustering: Optional[quelmar.Clustering] = None
    other: Optional[quelmar.Clustering] = None
    ids: Optional[Sequence[int]] = None
    matches: Optional[pd.DataFrame] = None


def worst_connected(table: pd.DataFrame, *, top: int = TOP_CLUSTERS) -> pd.DataFrame:
    """The worst-connected clusters, by minimum cut over log10 of the size.

    Among the clusters of at least MIN_SIZE members, those with the
    smallest ratio of minimum cut to the CRITERION (mincut divided by
    log10 n), ties to the smallest id; a ratio of 1 or less is a cluster
    that is not well connected.

    Parameters
    ----------
    table : pandas.DataFrame
        A cluster table with the ``n`` and ``mincut`` columns.
    top : int, default TOP_CLUSTERS
        How many clusters to keep.

    Returns
    -------
    pandas.DataFrame
        Those rows of `table`, worst first, with a ``ratio`` column added.

    Raises
    ------
    KeyError
        When `table` lacks the ``mincut`` column.

    Examples
    --------
    >>> import pandas as pd
    >>> from quelmar_tools.html_report import worst_connected
    >>> table = pd.DataFrame({"n": [12, 100, 5], "mincut": [3.0, 2.0, 0.0]},
    ...                      index=pd.Index([1, 2, 3], name="id"))
    >>> worst_connected(table)["ratio"].round(3).tolist()
    [1.0, 2.78]
    """
    eligible = table[table["n"] >= MIN_SIZE]
    threshold = criterion_values(CRITERION, eligible["n"].to_numpy(dtype=np.float64))
    ranked = eligible.assign(ratio=eligible[MINCUT].to_numpy() / threshold)
    ranked = ranked.rename_axis("id").reset_index()
    ranked = ranked.sort_values(["ratio", "id"], kind="stable").head(top)
    return ranked.set_index("id")


def largest(table: pd.DataFrame, *, top: int = TOP_CLUSTERS) -> pd.DataFrame:
    """The clusters with the most members, ties to the smallest id.

    Parameters
    ----------
    table : pandas.DataFrame
        A cluster table (an ``n`` column, indexed by id).
    top : int, default TOP_CLUSTERS
        How many clusters to keep.

    Returns
    -------
    pandas.DataFrame
        Those rows of `table`, largest first.

    Raises
    ------
    KeyError
        When `table` lacks the ``n`` column.

    Examples
    --------
    >>> import pandas as pd
    >>> from quelmar_tools.html_report import largest
    >>> table = pd.DataFrame({"n": [4, 9, 9]}, index=pd.Index([1, 5, 2], name="id"))
    >>> largest(table, top=2).index.tolist()
    [2, 5]
    """
    ranked = table.rename_axis("id").reset_index()
    order = np.lexsort((ranked["id"].to_numpy(), -ranked["n"].to_numpy(dtype=np.float64)))
    return ranked.iloc[order[:top]].set_index("id")


def page_html(page: Page) -> str:
    """The HTML text of the report page.

    Parameters
    ----------
    page : Page
        What to show.

    Returns
    -------
    str
        A whole HTML document, with nothing to fetch.

    Raises
    ------
    ImportError
        When matplotlib is not installed.

    Examples
    --------
    See write_page.
    """
    figures = _Figures()
    plot, report, table = figures.plot, page.report, page.table
    distributions = {name: summary.percentiles
                     for name, summary in sorted(report.stats.distributions.items())}
    parts = [_inputs(page.sources), _section("Overview", _overview(report))]
    parts.append(_section(
        "Per-cluster statistics", _summary_table("summaries", {**distributions,
                                                               **report.measures}),
        figures.svg(plot.summaries(report.stats, figure=figures.new((11.0, 7.5))),
                    "The 21-point summaries of the per-cluster statistics.")))
    parts.append(_section("Cluster sizes", figures.axes(
        lambda ax: plot.size_distribution(table, ax=ax), "How many clusters have each size.")))
    if page.measures:
        drawn = [figures.axes(functools.partial(plot.measure_by_size, table, name),
                              f"{name} against cluster size.") for name in page.measures]
        if MINCUT in page.measures:
            drawn.append(figures.axes(
                lambda ax: plot.connectivity(table, criterion=CRITERION, min_size=MIN_SIZE,
                                             ax=ax),
                f"Minimum cut against size, with the {CRITERION} criterion curve "
                f"(clusters of at least {MIN_SIZE} members)."))
        parts.append(_section("Quality measures", *drawn))
    parts.append(_section("Largest clusters",
                          _cluster_rows("largest", largest(table), "No clusters.")))
    parts.append(_section("Worst-connected clusters", _paragraph(
        f"Among the clusters of at least {MIN_SIZE} members, those with the smallest ratio "
        f"{_RATIO} of their minimum cut (edge connectivity) to the {CRITERION} of their size; "
        f"a cluster is well connected when its minimum cut exceeds {CRITERION}(n), a ratio "
        "above 1."), _cluster_rows(
            "worst-connected", worst_connected(table),
            f"No cluster has {MIN_SIZE} or more members.")))
    if report.comparison is not None:
        parts.append(_comparison(page, figures))
    return _document(_title(page.sources), "".join(parts))


def write_page(path: PathLike, page: Page) -> None:
    """Writes the report page to `path`, whole or not at all.

    The page goes to a temporary file in the same folder, renamed over
    `path` once complete.

    Parameters
    ----------
    path : str or os.PathLike
        The file to write.
    page : Page
        What to show.

    Raises
    ------
    OSError
        When the file cannot be written.
    ImportError
        When matplotlib is not installed.

    Examples
    --------
    The command writes its page so (``--html``):

    >>> import contextlib, io, os, tempfile
    >>> from quelmar_tools import cli
    >>> folder = tempfile.mkdtemp()
    >>> for name, text in [("graph.tsv", "1 2\\n2 3\\n1 3\\n3 4\\n"),
    ...                    ("clusters.tsv", "1 7\\n2 7\\n3 7\\n")]:
    ...     with open(os.path.join(folder, name), "w") as out:
    ...         _ = out.write(text)
    >>> page = os.path.join(folder, "report.html")
    >>> with contextlib.redirect_stdout(io.StringIO()):
    ...     status = cli.main([os.path.join(folder, "graph.tsv"),
    ...                        os.path.join(folder, "clusters.tsv"), "--html", page])
    >>> status
    0
    >>> open(page).read().startswith("<!DOCTYPE html>")
    True
    """
    text = page_html(page)
    with atomic_text(path) as out:
        out.write(text)


def require_plotting() -> None:
    """Raises ImportError, naming the extra, when the plots cannot be drawn.

    Raises
    ------
    ImportError
        When matplotlib is not installed.

    Examples
    --------
    >>> from quelmar_tools.html_report import require_plotting
    >>> require_plotting()  # matplotlib is installed: nothing happens
    """
    from quelmar_tools import plot

    plot.require_matplotlib()


class _Figures:
    """The plots of one page, drawn by quelmar_tools.plot as inline SVG."""

    def __init__(self) -> None:
        from quelmar_tools import plot

        self.plot: Any = plot
        self.made = 0

    def new(self, size: tuple[float, float] = (7.2, 4.2)) -> Any:
        # A bare Figure: no pyplot, so no backend and no global list of figures.
        from matplotlib.figure import Figure

        return Figure(figsize=size, layout="constrained")

    def axes(self, draw: Callable[..., Any], caption: str) -> str:
        """A figure of one Axes that `draw(ax=...)` fills."""
        figure = self.new()
        draw(ax=figure.add_subplot())
        return self.svg(figure, caption)

    def svg(self, figure: Any, caption: str) -> str:
        import matplotlib

        buffer = io.StringIO()
        # Text as paths, so that no font is needed; a fixed salt, so that
        # the same report gives the same page.
        with matplotlib.rc_context({"svg.fonttype": "path", "svg.hashsalt": "quelmar"}):
            figure.savefig(buffer, format="svg",
                           metadata={"Date": None, "Creator": None, "Format": None,
                                     "Type": None})
        self.made += 1
        return (f"<figure>{_inline_svg(buffer.getvalue(), f'f{self.made}-')}"
                f"<figcaption>{_escape(caption)}</figcaption></figure>\n")


def _inline_svg(text: str, prefix: str) -> str:
    """An SVG document as an element of an HTML page: no prolog, no
    namespace declarations, its ids prefixed."""
    svg = text[text.index("<svg"):]
    opening_end = svg.index(">")
    svg = _SVG_NAMESPACES.sub("", svg[:opening_end]) + svg[opening_end:]
    return _SVG_ID.sub(lambda match: match.group(1) + prefix, svg)


def _escape(text: Any) -> str:
    return html.escape(str(text), quote=True)


def _document(title: str, body: str) -> str:
    return ("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            f"<title>{_escape(title)}</title>\n<style>{_STYLE}</style>\n</head>\n<body>\n"
            f"<h1>{_escape(title)}</h1>\n{body}</body>\n</html>\n")


def _title(sources: Sequence[tuple[str, str]]) -> str:
    named = dict(sources)
    clustering = named.get("clustering")
    return f"Clustering report: {clustering}" if clustering else "Clustering report"


def _section(heading: str, *blocks: str) -> str:
    return f"<section>\n<h2>{_escape(heading)}</h2>\n{''.join(blocks)}</section>\n"


def _paragraph(text: str) -> str:
    return f"<p class=\"note\">{_escape(text)}</p>\n"


def _number(value: Any, shown: Optional[str] = None, note: str = "") -> str:
    """A cell: the value rounded for reading, exact in its title."""
    if isinstance(value, (bool, np.bool_)):
        return f"<td>{'yes' if value else 'no'}</td>"
    if isinstance(value, (int, np.integer)):
        exact = str(int(value))
        text = exact if shown is None else shown
    else:
        number = float(value)
        exact = repr(number)
        text = (f"{number:.4g}" if shown is None else shown) if math.isfinite(number) else exact
    if note:
        text += f" <span class=\"text\">{_escape(note)}</span>"
    return f"<td title=\"{_escape(exact)}\">{text}</td>"


def _row(header: str, cells: Iterable[str], key: Optional[str] = None) -> str:
    """A body row; `key` (the header by default) names it for a reader of
    the page, such as the JSON report's key of its figure."""
    return (f"<tr data-key=\"{_escape(header if key is None else key)}\">"
            f"<th scope=\"row\">{_escape(header)}</th>{''.join(cells)}</tr>\n")


def _table(table_id: str, head: Sequence[str], rows: Iterable[str]) -> str:
    header = "".join(f"<th scope=\"col\">{_escape(label)}</th>" for label in head)
    return (f"<div class=\"wide\"><table id=\"{_escape(table_id)}\">\n<thead><tr>{header}"
            f"</tr></thead>\n<tbody>\n{''.join(rows)}</tbody></table></div>\n")


def _inputs(sources: Sequence[tuple[str, str]]) -> str:
    rows = "".join(_row(label, [f"<td>{_escape(text)}</td>"]) for label, text in sources)
    return (f"<table class=\"inputs\" id=\"inputs\">\n<tbody>\n{rows}</tbody></table>\n"
            f"<p class=\"note\">Made by quelmar-stats {_escape(quelmar_tools.__version__)}."
            "</p>\n")


def _share(part: int, whole: int) -> str:
    return f"({100.0 * part / whole if whole else 0.0:.1f} %)"


def _overview(report: Report) -> str:
    stats, modularity = report.stats, report.modularity
    rows = [
        _row("clusters", [_number(stats.num_clusters)], "num_clusters"),
        _row("nodes in the graph", [_number(stats.total_nodes)], "total_nodes"),
        _row("covered nodes", [_number(stats.covered_nodes,
                                       note=_share(stats.covered_nodes, stats.total_nodes))],
             "covered_nodes"),
        _row("edges in the graph", [_number(stats.total_edges)], "total_edges"),
        _row("covered edges", [_number(stats.covered_edges,
                                       note=_share(stats.covered_edges, stats.total_edges))],
             "covered_edges"),
        _row("modularity", [_number(modularity.value, f"{modularity.value:.6f}",
                                    modularity.note().strip())], "modularity"),
        _row("memberships of unknown nodes, skipped", [_number(report.unknown_memberships)],
             "unknown_memberships"),
        _row("single-member clusters, dropped", [_number(report.dropped_singletons)],
             "dropped_singletons"),
        _row("unassigned nodes", [_number(report.unassigned_nodes)], "unassigned_nodes"),
    ]
    return _table("overview", ["figure", "value"], rows)


def _summary_table(table_id: str, rows: dict[str, Sequence[float]]) -> str:
    return _table(table_id, ["statistic", *(f"{p} %" for p in PERCENTILES)],
                  (_row(name, (_number(float(v)) for v in values), name)
                   for name, values in rows.items()))


def _cluster_rows(table_id: str, clusters: pd.DataFrame, empty: str) -> str:
    if clusters.empty:
        return _paragraph(empty)
    extra = ["ratio", "well connected"] if "ratio" in clusters else []
    rows = []
    for key, row in clusters.iterrows():
        cells = [_number(row[name]) for name in _CLUSTER_COLUMNS]
        if extra:
            cells += [_number(float(row["ratio"])), _number(bool(row["ratio"] > 1.0))]
        rows.append(_row(str(key), cells))
    head = ["id", *_CLUSTER_COLUMNS, *([_RATIO, "well connected"] if extra else [])]
    return _table(table_id, head, rows)


def _comparison(page: Page, figures: _Figures) -> str:
    comparison = page.report.comparison
    assert comparison is not None
    counts = [
        _row("clusters compared", [_number(comparison.compared)], "compared"),
        _row("missing in the other clustering", [_number(comparison.missing)], "missing"),
        _row("grew", [_number(comparison.grown)], "grown"),
    ]
    blocks = [
        _paragraph(f"Against {comparison.other}: the clusters of the same id in both."),
        _table("comparison", ["figure", "value"], counts),
        _paragraph("Relative size change of the clusters of the same id:"),
        _summary_table("size-change", {"size change": comparison.changes}),
    ]
    if comparison.agreement:
        blocks.append(_table("agreement", ["measure", "value"],
                             (_row(name, [_number(value)], name)
                              for name, value in comparison.agreement.items())))
    if page.clustering is not None and page.other is not None:
        clustering, other = page.clustering, page.other
        blocks.append(figures.axes(
            lambda ax: figures.plot.overlap_heatmap(clustering, other, ids=page.ids, ax=ax),
            "Overlap (Jaccard index) of the largest clusters of both clusterings."))
    matches = page.matches
    if matches is not None:
        blocks.append(figures.axes(lambda ax: figures.plot.best_match_jaccard(matches, ax=ax),
                                   "Jaccard index of each cluster's best match in the other "
                                   "clustering."))
    return _section("Comparison", *blocks)
