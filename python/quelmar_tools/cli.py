"""quelmar-stats: the statistics of a clustering from the command line.

    quelmar-stats GRAPH CLUSTERING [--cpm R] [--ids FILE] [--compare OTHER]
                  [--format text|json|csv] [--clusters OUT]

Exit status 0 on success, 1 when a file cannot be read or written (one line
"quelmar-stats: ..." on stderr), 2 for a usage error, 130 on Ctrl-C.
"""

from __future__ import annotations

import argparse
import contextlib
import importlib.util
import json
import math
import os
import sys
from dataclasses import dataclass
from typing import Any, Iterator, Optional, Sequence, TextIO

import quelmar
from quelmar_tools.names import as_integer
from quelmar_tools.sources import clustering_from, graph_from
from quelmar_tools.summaries import summary_table, to_dict
from quelmar_tools.table import cluster_counts, cluster_table, cluster_values

PROGRAM = "quelmar-stats"
# The report's columns: label and summary entry (entry i is at i * 5 %).
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

    def as_dict(self) -> dict[str, Any]:
        return {"other": self.other, "compared": self.compared, "missing": self.missing,
                "grown": self.grown, "changes": self.changes}


def parse_arguments(argv: Optional[Sequence[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog=PROGRAM,
        description="Coverage and per-cluster statistics of a clustering of a graph.")
    parser.add_argument("graph", help="edge list, or snapshot (.lz4)")
    parser.add_argument("clustering", help="clustering file: node name and cluster id per line")
    parser.add_argument("--cpm", type=float, metavar="R", help="resolution of the cpm statistic")
    parser.add_argument("--ids", metavar="FILE", help="only the clusters named in FILE, one id "
                        "per line")
    parser.add_argument("--compare", metavar="OTHER", help="compare cluster sizes with the "
                        "clusters of the same ids in the clustering file OTHER")
    parser.add_argument("--format", choices=("text", "json", "csv"), default="text")
    parser.add_argument("--clusters", metavar="OUT", help="write the per-cluster table to OUT "
                        "(.csv, or .parquet with pyarrow installed)")
    args = parser.parse_args(argv)
    if args.clusters and os.path.splitext(args.clusters)[1] not in (".csv", ".parquet"):
        parser.error("--clusters: the file name must end in .csv or .parquet")
    return args


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

    def __init__(self, stream: TextIO) -> None:
        self.stream = stream
        self.shown = stream.isatty()

    def stage(self, text: str) -> None:
        if self.shown:
            self.stream.write(f"\r\033[K{PROGRAM}: {text}")
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


def text_report(stats: quelmar.ClusteringStats, modularity: Modularity,
                comparison: Optional[Comparison]) -> str:
    lines = [
        f"clusters        {stats.num_clusters}",
        f"covered nodes   {stats.covered_nodes} of {stats.total_nodes} "
        f"({percent(stats.covered_nodes, stats.total_nodes):.1f} %)",
        f"covered edges   {stats.covered_edges} of {stats.total_edges} "
        f"({percent(stats.covered_edges, stats.total_edges):.1f} %)",
        f"modularity      {modularity.value:.6f}{modularity.note()}",
        "",
    ]
    header = f"{'statistic':<18}" + "".join(f"{label:>11}" for label, _ in REPORT_COLUMNS)
    lines += [header, "-" * len(header)]
    distributions = stats.distributions
    for name in sorted(distributions):
        entries = distributions[name].percentiles
        lines.append(f"{name:<18}" + "".join(f"{entries[i]:>11.4g}" for _, i in REPORT_COLUMNS))
    if comparison:
        c = comparison
        lines += ["", f"against {os.path.basename(c.other)}: {c.compared} clusters compared"
                  f" ({c.missing} missing there), {c.grown} grew; relative size change min "
                  f"{c.changes[0]:.3f}, median {c.changes[10]:.3f}, max {c.changes[20]:.3f}"]
    return "\n".join(lines) + "\n"


def render(stats: quelmar.ClusteringStats, modularity: Modularity,
           comparison: Optional[Comparison], form: str) -> str:
    if form == "json":
        report = to_dict(stats)
        report["modularity"] = modularity.value
        report["overlapping"] = modularity.overlapping
        if comparison:
            report["comparison"] = comparison.as_dict()
        return json.dumps(report, indent=2) + "\n"
    if form == "csv":
        table = summary_table(stats)
        if comparison:
            table.loc["size_change"] = comparison.changes
        # Floats in their shortest form that reads back to the same value.
        text: str = table.to_csv()
        return text
    return text_report(stats, modularity, comparison)


def run(args: argparse.Namespace, progress: Progress) -> str:
    if args.clusters and args.clusters.endswith(".parquet"):
        if importlib.util.find_spec("pyarrow") is None:
            raise Failure("writing .parquet needs pyarrow (pip install pyarrow)")
    ids = read_ids(args.ids) if args.ids else None
    progress.stage(f"loading {args.graph}")
    graph = graph_from(args.graph)
    progress.stage(f"loading {args.clustering}")
    clustering = clustering_from(graph, args.clustering, cpm=args.cpm)
    progress.stage("computing statistics")
    if ids is None:
        subset = clustering.select(lambda cluster: True)
    else:
        subset = clustering.select_in(ids)
    stats = subset.compute_statistics()
    modularity = summed_modularity(clustering, ids, stats)
    comparison = None
    if args.compare:
        progress.stage(f"loading {args.compare}")
        other = clustering_from(graph, args.compare)
        selected = subset.keys if ids is not None else None
        keys = cluster_counts(clustering, selected)[0].tolist()
        comparison = compare(clustering, other, args.compare, keys)
    if args.clusters:
        progress.stage(f"writing {args.clusters}")
        table = cluster_table(clustering, ids=ids, cpm=args.cpm)
        if args.clusters.endswith(".parquet"):
            table.to_parquet(args.clusters)
        else:
            table.to_csv(args.clusters)
    progress.done()
    return render(stats, modularity, comparison, args.format)


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
    progress = Progress(sys.stderr)
    try:
        with native_reports_silenced(not progress.shown):
            output = run(args, progress)
        sys.stdout.write(output)
        sys.stdout.flush()
        return 0
    except KeyboardInterrupt:
        progress.done()
        return 130
    except (Failure, OSError, ValueError, TypeError) as error:
        progress.done()
        sys.stderr.write(f"{PROGRAM}: {describe(error)}\n")
        return 1


def describe(error: BaseException) -> str:
    if isinstance(error, OSError) and error.strerror:
        where = f"{error.filename}: " if error.filename else ""
        return f"{where}{error.strerror}"
    return str(error)


if __name__ == "__main__":
    sys.exit(main())
