"""quelmar-stats: the statistics of a clustering from the command line.

    quelmar-stats GRAPH CLUSTERING [--cpm R] [--ids FILE] [--compare OTHER]
                  [--matches OUT] [--measures A,B,...] [--strict]
                  [--layout memberships|communities]
                  [--format text|json|csv] [--clusters OUT] [--html FILE]

Either GRAPH or CLUSTERING may be "-", standard input. Exit status 0 on
success, 1 when a file cannot be read or written (one line "quelmar-stats:
..." on stderr), 2 for a usage error, 130 on Ctrl-C. Loads that look like
misreadings (most memberships naming nodes the graph lacks, no cluster left,
fewer internal edges than twice what random node sets would hold, no
membership at all) are warned about on stderr; --strict makes them errors.
--html also writes the report, with plots, as one self-contained HTML page
(it needs matplotlib: pip install "quelmar[plot]").
"""

from __future__ import annotations

import argparse
import contextlib
import importlib.util
import json
import math
import os
import sys
import warnings
from dataclasses import dataclass, field
from typing import Any, Callable, Iterator, Optional, Sequence, TextIO

import quelmar
from quelmar_tools import _native, html_report
from quelmar_tools.agreement import compare as agreement, match_table
from quelmar_tools.building import LAYOUTS, clustering_from_file, graph_from_file
from quelmar_tools.integers import as_integer
from quelmar_tools.summaries import summarize, summary_table, to_dict
from quelmar_tools.table import (
    MEASURES,
    cluster_counts,
    cluster_table,
    cluster_values,
    measure_columns,
    table_columns,
)

__all__ = ["PROGRAM", "main"]

PROGRAM = "quelmar-stats"
# The report's columns: label and summary entry (entry i is at i * 5 %).
# Standard input, named "-" on the command line and in messages.
STDIN = "-"
STDIN_PATH = "/dev/stdin"
REPORT_COLUMNS = [("min", 0), ("p5", 1), ("p25", 5), ("median", 10), ("p75", 15), ("p95", 19),
                  ("max", 20)]


class Failure(Exception):
    """A failure reported as one line, with exit status 1."""


@dataclass
class Modularity:
    """The sum of the selected clusters' modularity contributions; it is the
    graph's modularity only for a partition, so overlap is reported with it."""
    value: float
    overlapping: bool

    def note(self) -> str:
        return " (clusters overlap: a sum of contributions, not a modularity)" \
            if self.overlapping else ""


@dataclass
class Comparison:
    other: str
    compared: int
    missing: int
    grown: int
    changes: list[float]
    # Agreement measures of the two clusterings (quelmar_tools.compare).
    agreement: dict[str, float] = field(default_factory=dict)

    def as_dict(self) -> dict[str, Any]:
        return {"other": self.other, "compared": self.compared, "missing": self.missing,
                "grown": self.grown, "changes": self.changes, "agreement": self.agreement}


@dataclass
class Report:
    stats: quelmar.ClusteringStats
    modularity: Modularity
    comparison: Optional[Comparison]
    # 21-point summaries of the --measures columns, in the order asked.
    measures: dict[str, list[float]]
    unknown_memberships: int
    dropped_singletons: int
    unassigned_nodes: int = 0


def parse_arguments(argv: Optional[Sequence[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog=PROGRAM,
        description="Coverage and per-cluster statistics of a clustering of a graph.")
    parser.add_argument("graph", help="edge list (gzip or plain text), or snapshot (.lz4); "
                        "- for standard input")
    parser.add_argument("clustering", help="clustering file: node name and cluster id per line "
                        "(see --layout); - for standard input")
    parser.add_argument("--layout", choices=LAYOUTS, default="memberships",
                        help="of CLUSTERING and OTHER: a node name and a cluster id per line "
                        "(memberships, the default), or the node names of one community per "
                        "line (communities)")
    parser.add_argument("--cpm", type=float, metavar="R", help="resolution of the cpm statistic")
    parser.add_argument("--ids", metavar="FILE", help="only the clusters named in FILE, one id "
                        "per line")
    parser.add_argument("--compare", metavar="OTHER", help="compare with the clustering file "
                        "OTHER: the sizes of clusters of the same ids, and the agreement "
                        "measures (nmi, ari, vi for partitions; f1)")
    parser.add_argument("--matches", metavar="OUT", help="with --compare: write each "
                        "cluster's best match in OTHER to OUT (.csv, or .parquet with pyarrow)")
    parser.add_argument("--measures", metavar="A,B,...", help="add summaries (and --clusters "
                        "columns) of these per-cluster quality measures, or 'all': "
                        + ", ".join(MEASURES))
    parser.add_argument("--strict", action="store_true", help="fail, rather than warn, when "
                        "the clustering looks misread or is empty, or names nodes the graph "
                        "lacks")
    parser.add_argument("--format", choices=("text", "json", "csv"), default="text")
    parser.add_argument("--clusters", metavar="OUT", help="write the per-cluster table to OUT "
                        "(.csv, or .parquet with pyarrow installed)")
    parser.add_argument("--html", metavar="FILE", help="also write the report, with plots and "
                        "the largest and worst-connected clusters, as one self-contained HTML "
                        "page (needs matplotlib)")
    args = parser.parse_args(argv)
    for option in ("clusters", "matches"):
        path = getattr(args, option)
        if path and os.path.splitext(path)[1] not in (".csv", ".parquet"):
            parser.error(f"--{option}: the file name must end in .csv or .parquet")
    if args.matches and not args.compare:
        parser.error("--matches needs --compare")
    reading_stdin = [path for path in (args.graph, args.clustering, args.compare)
                     if path == STDIN]
    if len(reading_stdin) > 1:
        parser.error("only one of GRAPH, CLUSTERING and OTHER can be - (standard input)")
    args.measures = measure_names(parser, args.measures)
    return args


def measure_names(parser: argparse.ArgumentParser, text: Optional[str]) -> list[str]:
    if not text:
        return []
    if text == "all":
        return list(MEASURES)
    names = [name.strip() for name in text.split(",") if name.strip()]
    try:
        _native.check_measures(names)
    except ValueError as error:  # the native message, naming the first unknown one
        parser.error(f"--measures: {error}")
    return list(dict.fromkeys(names))


def read_ids(path: str) -> list[int]:
    ids = []
    with open(path, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            text = line.strip()
            if not text:
                continue
            try:
                ids.append(as_integer(int(text), "cluster id"))
            except ValueError:
                raise Failure(f"{path} line {number}: not a cluster id: {text!r}") from None
    return ids


class Progress:
    """Stage names on stderr while it is a terminal; nothing otherwise."""

    def __init__(self, stream: TextIO, program: str = PROGRAM) -> None:
        self.stream = stream
        self.program = program
        self.shown = stream.isatty()

    def stage(self, text: str) -> None:
        if self.shown:
            self.stream.write(f"\r\033[K{self.program}: {text}")
            self.stream.flush()

    def done(self) -> None:
        if self.shown:
            self.stream.write("\r\033[K")
            self.stream.flush()


def compare(clustering: quelmar.Clustering, other: quelmar.Clustering, other_path: str,
            selected: list[int]) -> Comparison:
    # Only ids both sides know: compute_size_diff fails on the first one
    # the other clustering lacks.
    other_ids, _ = cluster_counts(other)
    known = set(other_ids.tolist())
    shared = [key for key in selected if key in known]
    grown, changes = clustering.select_in(shared).compute_size_diff(other)
    return Comparison(other_path, len(shared), len(selected) - len(shared), grown,
                      changes.percentiles)


def percent(part: int, whole: int) -> float:
    return 100.0 * part / whole if whole else 0.0


def summed_modularity(clustering: quelmar.Clustering, ids: Optional[list[int]],
                      stats: quelmar.ClusteringStats) -> Modularity:
    """Summed as totals() sums it; from the counts alone, without computing
    the statistics a second time."""
    _, counts = cluster_counts(clustering, ids)
    values = cluster_values(*counts, total_edges=stats.total_edges)
    members = int(counts[0].sum())
    return Modularity(math.fsum(values["modularity"].tolist()), members > stats.covered_nodes)


def text_report(report: Report) -> str:
    stats, modularity = report.stats, report.modularity
    lines = [
        f"clusters        {stats.num_clusters}",
        f"covered nodes   {stats.covered_nodes} of {stats.total_nodes} "
        f"({percent(stats.covered_nodes, stats.total_nodes):.1f} %)",
        f"covered edges   {stats.covered_edges} of {stats.total_edges} "
        f"({percent(stats.covered_edges, stats.total_edges):.1f} %)",
        f"modularity      {modularity.value:.6f}{modularity.note()}",
        f"skipped         {report.unknown_memberships} memberships of unknown nodes, "
        f"{report.dropped_singletons} single-member clusters, "
        f"{report.unassigned_nodes} unassigned nodes",
        "",
    ]
    header = f"{'statistic':<24}" + "".join(f"{label:>11}" for label, _ in REPORT_COLUMNS)
    lines += [header, "-" * len(header)]
    rows = {name: summary.percentiles for name, summary in stats.distributions.items()}
    for name in [*sorted(rows), *report.measures]:
        entries = rows.get(name, report.measures.get(name))
        assert entries is not None
        lines.append(f"{name:<24}" + "".join(f"{entries[i]:>11.4g}" for _, i in REPORT_COLUMNS))
    if report.comparison:
        c = report.comparison
        lines += ["", f"against {os.path.basename(c.other)}: {c.compared} clusters compared"
                  f" ({c.missing} missing there), {c.grown} grew; relative size change min "
                  f"{c.changes[0]:.3f}, median {c.changes[10]:.3f}, max {c.changes[20]:.3f}"]
        if c.agreement:
            lines.append("agreement: " + ", ".join(f"{name} {value:.6g}"
                                                   for name, value in c.agreement.items()))
    return "\n".join(lines) + "\n"


def render(report: Report, form: str) -> str:
    if form == "json":
        result = to_dict(report.stats)
        result["modularity"] = report.modularity.value
        result["overlapping"] = report.modularity.overlapping
        result["unknown_memberships"] = report.unknown_memberships
        result["dropped_singletons"] = report.dropped_singletons
        result["unassigned_nodes"] = report.unassigned_nodes
        if report.measures:
            result["measures"] = report.measures
        if report.comparison:
            result["comparison"] = report.comparison.as_dict()
        return json.dumps(result, indent=2) + "\n"
    if form == "csv":
        table = summary_table(report.stats)
        for name, entries in report.measures.items():
            table.loc[name] = entries
        if report.comparison:
            table.loc["size_change"] = report.comparison.changes
            # A single value is its own summary: the same in every column.
            for name, value in report.comparison.agreement.items():
                table.loc[f"agreement_{name}"] = [value] * len(table.columns)
        # Floats in their shortest form that reads back to the same value.
        text: str = table.to_csv()
        return text
    return text_report(report)


def write_table(table: Any, path: str) -> None:
    if path.endswith(".parquet"):
        table.to_parquet(path)
    else:
        table.to_csv(path)


def run(args: argparse.Namespace, progress: Progress) -> str:
    for path in (args.clusters, args.matches):
        if path and path.endswith(".parquet") and importlib.util.find_spec("pyarrow") is None:
            raise Failure("writing .parquet needs pyarrow (pip install pyarrow)")
    if args.html:
        require_plotting()
    ids = read_ids(args.ids) if args.ids else None
    progress.stage(f"loading {args.graph}")
    opened, name = readable(args.graph)
    graph = graph_from_file(opened, name=name)
    progress.stage(f"loading {args.clustering}")
    clustering = load_clustering(graph, args.clustering, args, cpm=args.cpm)
    progress.stage("computing statistics")
    if ids is None:
        subset = clustering.select(lambda cluster: True)
    else:
        subset = clustering.select_in(ids)
    stats = subset.compute_statistics()
    modularity = summed_modularity(clustering, ids, stats)
    measures: dict[str, Any] = {}
    table = None
    if args.html:
        # The page ranks clusters by their minimum cut; one pass gives it
        # and the measures asked.
        progress.stage("computing measures")
        table = cluster_table(clustering, ids=ids, cpm=args.cpm,
                              measures=[*args.measures, html_report.MINCUT])
        measures = {name: table[name].to_numpy() for name in args.measures}
    elif args.measures:
        progress.stage("computing measures")
        measures = measure_columns(clustering, ids=ids, measures=args.measures)
    comparison = None
    other, matches = None, None
    if args.compare:
        progress.stage(f"loading {args.compare}")
        other = load_clustering(graph, args.compare, args)
        selected = subset.keys if ids is not None else None
        keys = cluster_counts(clustering, selected)[0].tolist()
        comparison = compare(clustering, other, args.compare, keys)
        progress.stage("comparing")
        comparison.agreement = agreement(clustering, other, ids=ids)
        if args.matches or args.html:
            matches = match_table(clustering, other, ids=ids)
        if args.matches:
            progress.stage(f"writing {args.matches}")
            write_table(matches, args.matches)
    if args.clusters:
        progress.stage(f"writing {args.clusters}")
        if table is None:
            written = cluster_table(clustering, ids=ids, cpm=args.cpm)
            for name, column in measures.items():
                written[name] = column
        else:
            written = table[[*table_columns(args.cpm is not None), *measures]]
        write_table(written, args.clusters)
    unknown, dropped, _, _, unassigned = _native.load_counts(clustering)
    summaries = {name: summarize(column) for name, column in measures.items()}
    report = Report(stats, modularity, comparison, summaries, unknown, dropped, unassigned)
    if args.html:
        assert table is not None
        progress.stage(f"writing {args.html}")
        html_report.write_page(args.html, html_report.Page(
            report, table, sources=sources(args), measures=args.measures,
            clustering=clustering, other=other, ids=ids, matches=matches))
    progress.done()
    return render(report, args.format)


def require_plotting() -> None:
    """Fails at once, before any work, when the page's plots cannot be
    drawn (matplotlib missing), with the plot module's message."""
    try:
        html_report.require_plotting()
    except ImportError as error:
        raise Failure(str(error)) from None


def sources(args: argparse.Namespace) -> list[tuple[str, str]]:
    """What a report was made from, as the page lists it."""
    named = [("graph", args.graph), ("clustering", args.clustering), ("layout", args.layout),
             ("cluster ids from", args.ids), ("compared with", args.compare),
             ("cpm resolution", None if args.cpm is None else repr(args.cpm)),
             ("measures", ", ".join(args.measures))]
    return [(label, text) for label, text in named if text]


def readable(path: str) -> tuple[str, Optional[str]]:
    """The path to open for a command-line file, and the name messages give
    it: standard input is read through its device, and named "-"."""
    return (STDIN_PATH, STDIN) if path == STDIN else (path, None)


def load_clustering(graph: quelmar.Graph, path: str, args: argparse.Namespace,
                    cpm: Optional[float] = None) -> quelmar.Clustering:
    opened, name = readable(path)
    return clustering_from_file(graph, opened, cpm=cpm, strict=args.strict, layout=args.layout,
                                name=name)


@contextlib.contextmanager
def native_reports_silenced(silenced: bool) -> Iterator[None]:
    """Off a terminal the module has no progress to draw on stderr, and its
    failure reports would only repeat the one line this program writes."""
    if not silenced:
        yield
        return
    sys.stderr.flush()
    saved = os.dup(2)
    try:
        with open(os.devnull, "w") as sink:
            os.dup2(sink.fileno(), 2)
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = parse_arguments(argv)
    return run_command(PROGRAM, run, args, Progress(sys.stderr), strict=args.strict)


def run_command(program: str, work: Callable[[argparse.Namespace, Progress], str],
                args: argparse.Namespace, progress: Progress, *, strict: bool) -> int:
    """Runs `work` for a command and returns its exit status: 0 with its
    output on standard output, 1 for a failure (one line "`program`: ...",
    or a warning under `strict`), 130 on Ctrl-C. Warnings (a clustering
    that looks misread, say) are written once standard error is back."""
    try:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always", UserWarning)
            with native_reports_silenced(not progress.shown):
                output = work(args, progress)
        for warning in caught:
            sys.stderr.write(f"{program}: {'' if strict else 'warning: '}{warning.message}\n")
        if strict and caught:
            return 1
        sys.stdout.write(output)
        sys.stdout.flush()
        return 0
    except KeyboardInterrupt:
        progress.done()
        return 130
    except (Failure, OSError, ValueError, TypeError) as error:
        progress.done()
        sys.stderr.write(f"{program}: {describe(error)}\n")
        return 1


def describe(error: BaseException) -> str:
    if isinstance(error, OSError) and error.strerror:
        where = f"{error.filename}: " if error.filename else ""
        return f"{where}{error.strerror}"
    return str(error)


if __name__ == "__main__":
    sys.exit(main())
