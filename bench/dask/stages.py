"""Where one partition's time goes: the per-partition steps of
quelmar_tools.dask run in this process, in the job's order, on one node
partition of a synthetic graph shaped like the 20M-line benchmark's (about
1.1 million edge lines and 200,000 membership lines per partition), with the
wall time of each step (the least of --repeat runs) and, with --profile,
the calls that take it. Rows are routed over --parts partitions and the
steps run on partition 0's share, as a task of a job with that many
partitions would.

    python bench/dask/stages.py [--edges 1100000] [--members 200000] [--parts 16]
        [--repeat 3] [--profile]
"""

from __future__ import annotations

import argparse
import cProfile
import pstats
import time

import numpy as np

from quelmar_tools.dask import _stages
from quelmar_tools.dask._scramble import scramble


def synthetic(edge_count: int, member_count: int, seed: int = 1) -> tuple[tuple, tuple]:
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
    edges = (np.minimum(a, b), np.maximum(a, b))
    members = (member, cluster, np.arange(member_count, dtype=np.uint64))
    return edges, members


def run(edge_count: int, member_count: int, parts: int) -> tuple[dict[str, float], tuple]:
    """Times of each step, and what the job keeps of partition 0."""
    edges, members = synthetic(edge_count * parts, member_count * parts)
    times: dict[str, float] = {}

    def timed(name, function, *args):
        start = time.perf_counter()
        result = function(*args)
        times[name] = time.perf_counter() - start
        return result

    edge_pieces = timed("route edges", _stages.routed, edges, 0, parts)  # by lo
    member_pieces = _stages.routed(members, 0, parts)  # by node
    lo = timed("lo_side", _stages.lo_side, [edge_pieces[0]], [member_pieces[0]], None, parts)
    nodes = timed("degrees", _stages.degrees, lo.nodes, [lo.hi_rows[0]])
    side = timed("node_side", _stages.node_side, lo.members, nodes, [lo.hi_rows[0]], None,
                 parts)
    clusters = timed("cluster_side", _stages.cluster_side, [side.partials[0]], parts)
    covered = timed("covered", _stages.covered, side.coverage, [clusters.singles[0]])
    kept = (tuple(c.tobytes() for c in nodes), tuple(c.tobytes() for c in clusters.counts),
            covered, side.covered_links)
    return times, kept


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--edges", type=int, default=1_100_000)
    parser.add_argument("--members", type=int, default=200_000)
    parser.add_argument("--parts", type=int, default=16)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--profile", action="store_true")
    args = parser.parse_args()
    run(args.edges // 20, args.members // 20, 2)  # warm up imports and caches
    if args.profile:
        profile = cProfile.Profile()
        profile.enable()
    runs = [run(args.edges, args.members, args.parts)
            for _ in range(args.repeat)]
    if args.profile:
        profile.disable()
        pstats.Stats(profile).sort_stats("tottime").print_stats(25)
    assert all(kept == runs[0][1] for _, kept in runs)
    best = {name: min(t[name] for t, _ in runs) for name in runs[0][0]}
    for name, seconds in best.items():
        print(f"{name:13s} {seconds * 1e3:7.1f} ms")
    print(f"{'total':13s} {sum(best.values()) * 1e3:7.1f} ms")


if __name__ == "__main__":
    main()
