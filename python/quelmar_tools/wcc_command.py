"""quelmar-wcc: the well-connected refinement of a clustering from the
command line.

    quelmar-wcc GRAPH CLUSTERING OUT [--criterion C] [--min-size N]
                [--ids FILE] [--report FILE] [--strict]
                [--layout memberships|communities]

GRAPH and CLUSTERING are read as quelmar-stats reads them (gzip, headers,
commas, --layout), and either may be "-", standard input.

Writes the output clusters to OUT in the clustering file format and, with
--report, the per-cluster report as csv (or parquet, for a name ending in
.parquet, with pyarrow installed); prints a short summary. Exit status 0 on
success, 1 when a file cannot be read or written (one line "quelmar-wcc:
..." on stderr), 2 for a usage error (a criterion that cannot be read and a
minimum size below 2 among them), 130 on Ctrl-C.
"""

from __future__ import annotations

import argparse
import importlib.util
import sys
from typing import Optional, Sequence

import numpy as np

from quelmar_tools import _native
from quelmar_tools.building import LAYOUTS, graph_from_file
from quelmar_tools.cli import STDIN, Failure, Progress, load_clustering, percent, read_ids, \
    readable, run_command, write_table
from quelmar_tools.members import write_clustering
from quelmar_tools.refinement import Refinement, parse_criterion, well_connected

__all__ = ["PROGRAM", "main"]

PROGRAM = "quelmar-wcc"


def parse_arguments(argv: Optional[Sequence[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog=PROGRAM,
        description="Cut every cluster along minimum cuts until each piece left is well "
                    "connected: edge connectivity above t(n) for its n members.")
    parser.add_argument("graph", help="edge list (gzip or plain text), or snapshot (.lz4); "
                        "- for standard input")
    parser.add_argument("clustering", help="clustering file: node name and cluster id per line "
                        "(see --layout); - for standard input")
    parser.add_argument("out", help="where to write the output clusters (clustering file format)")
    parser.add_argument("--criterion", default="log10", metavar="C",
                        help="t(n), a sum of terms c, a log10, a log2, a n^b (default log10)")
    parser.add_argument("--min-size", type=int, default=11, metavar="N",
                        help="the fewest members an output cluster may have (default 11)")
    parser.add_argument("--ids", metavar="FILE", help="only the clusters named in FILE, one id "
                        "per line")
    parser.add_argument("--report", metavar="FILE", help="write the per-cluster report to FILE "
                        "(.csv, or .parquet with pyarrow)")
    parser.add_argument("--layout", choices=LAYOUTS, default="memberships",
                        help="of CLUSTERING: a node name and a cluster id per line "
                        "(memberships, the default), or the node names of one community per "
                        "line (communities)")
    parser.add_argument("--strict", action="store_true", help="fail, rather than warn, when "
                        "the clustering looks misread or is empty, or names nodes the graph "
                        "lacks")
    args = parser.parse_args(argv)
    if args.graph == STDIN and args.clustering == STDIN:
        parser.error("only one of GRAPH and CLUSTERING can be - (standard input)")
    try:
        parse_criterion(args.criterion)
    except ValueError as error:
        parser.error(f"--criterion: {error}")
    if args.min_size < 2:
        parser.error(f"--min-size: must be at least 2, got {args.min_size}")
    return args


def summary(refinement: Refinement, before: tuple[int, ...], after: tuple[int, ...]) -> str:
    report = refinement.report
    inputs = len(report)
    kept = int(report["well_connected"].sum())
    total = before[3]
    return "\n".join([
        f"input clusters    {inputs}",
        f"well-connected    {kept} as given ({percent(kept, inputs):.1f} %)",
        f"output clusters   {len(refinement.origin)} after {int(report['cuts'].sum())} cuts",
        f"node coverage     {before[1]} of {total} ({percent(before[1], total):.1f} %) before, "
        f"{after[1]} ({percent(after[1], total):.1f} %) after",
    ]) + "\n"


def run(args: argparse.Namespace, progress: Progress) -> str:
    if args.report and args.report.endswith(".parquet") and \
            importlib.util.find_spec("pyarrow") is None:
        raise Failure("writing .parquet needs pyarrow (pip install pyarrow)")
    ids = read_ids(args.ids) if args.ids else None
    progress.stage(f"loading {args.graph}")
    opened, name = readable(args.graph)
    graph = graph_from_file(opened, name=name)
    progress.stage(f"loading {args.clustering}")
    clustering = load_clustering(graph, args.clustering, args)
    progress.stage("refining")
    refinement = well_connected(clustering, criterion=args.criterion, min_size=args.min_size,
                                ids=ids)
    progress.stage(f"writing {args.out}")
    write_clustering(refinement.clustering, args.out)
    if args.report:
        progress.stage(f"writing {args.report}")
        write_table(refinement.report, args.report)
    wanted = None if ids is None else np.ascontiguousarray(refinement.report.index.to_numpy())
    before = _native.coverage(clustering, wanted)
    after = _native.coverage(refinement.clustering, None)
    progress.done()
    return summary(refinement, before, after)


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = parse_arguments(argv)
    return run_command(PROGRAM, run, args, Progress(sys.stderr, PROGRAM), strict=args.strict)


if __name__ == "__main__":
    sys.exit(main())
