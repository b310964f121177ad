"""Where one partition's time goes: the per-partition steps of
quelmar_tools.dask run in this process, in the job's order, on one node
partition of a synthetic graph shaped like the 20M-line benchmark's (about
1.1 million edge lines and 200,000 membership lines per partition), with the
wall time of each step (the least of --repeat runs) and, with --profile,
the calls that take it. The joins run twice, natively and as the plain
numpy steps they replaced (numpy_stages.py), side by side, and must agree.

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

import numpy_stages


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


def run(edge_count: int, member_count: int, joins) -> tuple[dict[str, float], tuple]:
    """Times of each step with the joins of `joins` (a module), and what the
    job keeps of the partition: degrees, cluster counts, coverage."""
    edges, members = synthetic(edge_count, member_count)
    times: dict[str, float] = {}

    def timed(name, function, *args):
        start = time.perf_counter()
        result = function(*args)
        times[name] = time.perf_counter() - start
        return result

    edge_frame = _stages.frame(edges)
    member_frame = _stages.frame(members)
    lo = timed("lo_side", joins.lo_side, edge_frame, member_frame, None)
    nodes = timed("degrees", joins.degrees, lo.nodes, lo.hi_rows)
    side = timed("node_side", joins.node_side, member_frame, nodes, lo.hi_rows, None)
    clusters = timed("cluster_side", _stages.cluster_side, side.partials)
    covered = timed("covered", _stages.covered, side.coverage, clusters.singles)
    singles = np.sort(clusters.singles["node"].to_numpy())
    kept = (nodes.to_numpy().tobytes(), clusters.counts.to_numpy().tobytes(),
            singles.tobytes(), covered, side.covered_links)
    return times, kept


def fastest(edge_count: int, member_count: int, joins, repeat: int) -> tuple[dict, tuple]:
    runs = [run(edge_count, member_count, joins) for _ in range(repeat)]
    assert all(kept == runs[0][1] for _, kept in runs)
    return {name: min(t[name] for t, _ in runs) for name in runs[0][0]}, runs[0][1]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--edges", type=int, default=1_100_000)
    parser.add_argument("--members", type=int, default=200_000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--profile", action="store_true")
    args = parser.parse_args()
    for joins in (numpy_stages, _stages):  # warm up imports and caches
        run(args.edges // 10, args.members // 10, joins)
    if args.profile:
        profile = cProfile.Profile()
        profile.enable()
    native, kept = fastest(args.edges, args.members, _stages, args.repeat)
    if args.profile:
        profile.disable()
        pstats.Stats(profile).sort_stats("tottime").print_stats(25)
    plain, plain_kept = fastest(args.edges, args.members, numpy_stages, args.repeat)
    if kept != plain_kept:
        raise SystemExit("the native joins and the numpy steps disagree")
    print(f"{'step':13s} {'native':>10s} {'numpy':>10s}  ratio")
    for name in native:
        print(f"{name:13s} {native[name] * 1e3:7.1f} ms {plain[name] * 1e3:7.1f} ms "
              f"{plain[name] / native[name]:6.1f}x")
    total, plain_total = sum(native.values()), sum(plain.values())
    print(f"{'total':13s} {total * 1e3:7.1f} ms {plain_total * 1e3:7.1f} ms "
          f"{plain_total / total:6.1f}x")


if __name__ == "__main__":
    main()
