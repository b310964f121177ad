"""Where one partition's time goes: the per-partition steps of
quelmar_tools.dask run in this process, in the job's order, on one node
partition of a synthetic graph shaped like the 20M-line benchmark's (about
1.1 million edge lines and 200,000 membership lines per partition), with the
wall time of each step (the least of --repeat runs) and, with --profile,
the calls that take it.

    python bench/dask/stages.py [--edges 1100000] [--members 200000] [--repeat 3] [--profile]
"""

from __future__ import annotations

import argparse
import cProfile
import pstats
import time

import numpy as np

from quelmar_tools.dask import _stages
from quelmar_tools.dask._names import scramble


def synthetic(edge_count: int, member_count: int, seed: int = 1) -> tuple[dict, dict]:
    """Edges among edge_count / 7 nodes (average degree about 14), 10 % of
    them repeated; memberships of clusters of about 13, some nodes in two."""
    rng = np.random.default_rng(seed)
    nodes = scramble(rng.integers(0, 2**63, edge_count // 7, dtype=np.uint64))
    a = nodes[rng.integers(0, nodes.size, edge_count)]
    b = nodes[rng.integers(0, nodes.size, edge_count)]
    a[: edge_count // 10] = a[edge_count // 10: 2 * (edge_count // 10)]
    b[: edge_count // 10] = b[edge_count // 10: 2 * (edge_count // 10)]
    member = nodes[rng.integers(0, nodes.size, member_count)]
    cluster = scramble(rng.integers(0, member_count // 13, member_count, dtype=np.uint64))
    edges = {"lo": np.minimum(a, b), "hi": np.maximum(a, b)}
    members = {"node": member, "cluster": cluster,
               "pos": np.arange(member_count, dtype=np.uint64)}
    return edges, members


def run(edge_count: int, member_count: int) -> dict[str, float]:
    edges, members = synthetic(edge_count, member_count)
    times: dict[str, float] = {}

    def timed(name, function, *args):
        start = time.perf_counter()
        result = function(*args)
        times[name] = time.perf_counter() - start
        return result

    edge_frame = _stages.frame(edges)
    member_frame = _stages.frame(members)
    lo = timed("lo_side", _stages.lo_side, edge_frame, member_frame, None)
    nodes = timed("degrees", _stages.degrees, lo.nodes, lo.hi_rows)
    side = timed("node_side", _stages.node_side, member_frame, nodes, lo.hi_rows, None)
    clusters = timed("cluster_side", _stages.cluster_side, side.partials)
    timed("covered", _stages.covered, side.coverage, clusters.singles)
    return times


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--edges", type=int, default=1_100_000)
    parser.add_argument("--members", type=int, default=200_000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--profile", action="store_true")
    args = parser.parse_args()
    run(args.edges // 10, args.members // 10)  # warm up imports and caches
    if args.profile:
        profile = cProfile.Profile()
        profile.enable()
    runs = [run(args.edges, args.members) for _ in range(args.repeat)]
    times = {name: min(r[name] for r in runs) for name in runs[0]}
    if args.profile:
        profile.disable()
        pstats.Stats(profile).sort_stats("tottime").print_stats(25)
    total = sum(times.values())
    for name, seconds in times.items():
        print(f"{name:13s} {seconds * 1e3:8.1f} ms  {seconds / total:6.1%}")
    print(f"{'total':13s} {total * 1e3:8.1f} ms")


if __name__ == "__main__":
    main()
