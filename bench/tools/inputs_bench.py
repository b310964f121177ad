"""What recognising a source costs graph_from and clustering_from, side by
side in one run: each call as it is, against the same call with the
recognition replaced by the bare conversion it had before (as_pairs of the
array, the first two columns of a table). Both differ only in that step, so
the recognition alone, timed beside the bare conversion, is the steady
figure; the whole calls show what share of them it is.

    python bench/tools/inputs_bench.py EDGES CLUSTERS [--cache-dir DIR] [--rounds R]

EDGES and CLUSTERS are the benchmark's edge list and clustering file; they
are read once into arrays (kept as .npy in --cache-dir for later runs). Per
source the report gives the best wall and CPU time of each variant, their
ratios, and the recognition alone against the bare conversion alone.
"""

from __future__ import annotations

import argparse
import os
import time
from typing import Any, Callable

import numpy as np
import pandas as pd

import quelmar
import quelmar_tools
from quelmar_tools import building
from quelmar_tools.integers import U64, as_pairs, to_uint64


def read_pairs(path: str, cache_dir: str | None) -> U64:
    cache = os.path.join(cache_dir, os.path.basename(path) + ".npy") if cache_dir else None
    if cache and os.path.exists(cache):
        array: U64 = np.load(cache)
        return array
    frame = pd.read_csv(path, sep=r"\s+", header=None, usecols=[0, 1], dtype=np.uint64,
                        engine="c")
    array = np.ascontiguousarray(frame.to_numpy())
    if cache:
        np.save(cache, array)
    return array


def bare_edges(source: Any) -> tuple[U64, None]:
    if isinstance(source, pd.DataFrame):
        columns = [to_uint64(source.iloc[:, i].to_numpy(), "node name") for i in (0, 1)]
        return np.ascontiguousarray(np.stack(columns, axis=1)), None
    return as_pairs(source, "node name"), None


def bare_memberships(source: Any) -> tuple[U64, U64]:
    if isinstance(source, pd.DataFrame):
        pairs = bare_edges(source)[0]
    else:
        pairs = as_pairs(source, "node name or cluster id")
    return np.ascontiguousarray(pairs[:, 0]), np.ascontiguousarray(pairs[:, 1])


def best(step: Callable[[], object], rounds: int) -> float:
    return min(timed(step) for _ in range(rounds))[0]


def timed(step: Callable[[], object]) -> tuple[float, float]:
    """Wall time and the process's CPU time (all threads) of one call: on a
    machine shared with other work, CPU time shifts less than wall time."""
    wall, cpu = time.perf_counter(), time.process_time()
    result = step()
    wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
    del result
    return wall, cpu


def compare(label: str, call: Callable[[], object], name: str, bare: Callable[..., Any],
            source: Any, rounds: int) -> None:
    """`call` with building.`name` as it is and replaced by `bare`, alternating."""
    recognise = getattr(building, name)
    with_checks: list[tuple[float, float]] = []
    without: list[tuple[float, float]] = []
    for round_ in range(rounds):
        # Which goes first alternates: the first call of a pair pays for
        # memory the previous one gave back.
        for checked in (True, False) if round_ % 2 == 0 else (False, True):
            setattr(building, name, recognise if checked else bare)
            try:
                (with_checks if checked else without).append(timed(call))
            finally:
                setattr(building, name, recognise)
    alone = best(lambda: recognise(source), rounds)
    bare_alone = best(lambda: bare(source), rounds)
    wall, base = min(t[0] for t in with_checks), min(t[0] for t in without)
    cpu, base_cpu = min(t[1] for t in with_checks), min(t[1] for t in without)
    print(f"{label:<36} wall {wall:6.2f} / {base:6.2f} s ({wall / base:5.3f}), "
          f"cpu {cpu:6.2f} / {base_cpu:6.2f} s ({cpu / base_cpu:5.3f}); "
          f"recognition alone {alone * 1e3:6.1f} ms against {bare_alone * 1e3:6.1f} ms: "
          f"{(alone - bare_alone) / base:+.2%} of the call")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("edges")
    parser.add_argument("clusters")
    parser.add_argument("--cache-dir")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    edges = read_pairs(args.edges, args.cache_dir)
    memberships = read_pairs(args.clusters, args.cache_dir)
    print(f"{len(edges)} edge lines, {len(memberships)} membership lines, "
          f"best of {args.rounds}")
    print("each call with the checks / with the bare conversion (ratio)")
    # The names are random 64-bit integers: halved, they fit a signed array.
    signed = (edges >> np.uint64(1)).astype(np.int64)
    frame = pd.DataFrame({"source": edges[:, 0], "target": edges[:, 1]})
    for label, source in [("graph_from(uint64 array)", edges),
                          ("graph_from(int64 array)", signed),
                          ("graph_from(DataFrame source/target)", frame)]:
        compare(label, lambda: quelmar_tools.graph_from(source), "edges_of", bare_edges,
                source, args.rounds)
    del signed, frame

    graph = quelmar.Graph(args.edges)
    table = pd.DataFrame({"node": memberships[:, 0], "cluster": memberships[:, 1]})
    for label, source in [("clustering_from(uint64 array)", memberships),
                          ("clustering_from(DataFrame)", table)]:
        compare(label, lambda: quelmar_tools.clustering_from(graph, source), "memberships_of",
                bare_memberships, source, args.rounds)


if __name__ == "__main__":
    main()
