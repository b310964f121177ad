"""What recognising a source costs graph_from and clustering_from, side by
side in one run: each call as it is, against the same call with the
recognition replaced by the bare conversion it had before (as_pairs of the
array, the first two columns of a table).

    python bench/tools/inputs_bench.py EDGES CLUSTERS [--cache-dir DIR] [--rounds R]

EDGES and CLUSTERS are the benchmark's edge list and clustering file; they
are read once into arrays (kept as .npy in --cache-dir for later runs). Per
source the report gives the best time of each variant, their ratio, and the
recognition alone against the bare conversion alone.
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
from quelmar_tools import sources
from quelmar_tools.names import UInt64Array, as_pairs, as_uint64


def read_pairs(path: str, cache_dir: str | None) -> UInt64Array:
    cache = os.path.join(cache_dir, os.path.basename(path) + ".npy") if cache_dir else None
    if cache and os.path.exists(cache):
        array: UInt64Array = np.load(cache)
        return array
    frame = pd.read_csv(path, sep=r"\s+", header=None, usecols=[0, 1], dtype=np.uint64,
                        engine="c")
    array = np.ascontiguousarray(frame.to_numpy())
    if cache:
        np.save(cache, array)
    return array


def bare_edges(source: Any) -> tuple[UInt64Array, None]:
    if isinstance(source, pd.DataFrame):
        columns = [as_uint64(source.iloc[:, i].to_numpy(), "node name") for i in (0, 1)]
        return np.ascontiguousarray(np.stack(columns, axis=1)), None
    return as_pairs(source, "node name"), None


def bare_memberships(source: Any) -> tuple[UInt64Array, UInt64Array]:
    if isinstance(source, pd.DataFrame):
        pairs = bare_edges(source)[0]
    else:
        pairs = as_pairs(source, "node name or cluster id")
    return np.ascontiguousarray(pairs[:, 0]), np.ascontiguousarray(pairs[:, 1])


def best(step: Callable[[], object], rounds: int) -> float:
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        result = step()
        times.append(time.perf_counter() - start)
        del result
    return min(times)


def compare(label: str, call: Callable[[], object], name: str, bare: Callable[..., Any],
            source: Any, rounds: int) -> None:
    """`call` with sources.`name` as it is and replaced by `bare`, alternating."""
    recognise = getattr(sources, name)
    with_checks: list[float] = []
    without: list[float] = []
    for _ in range(rounds):
        with_checks.append(best(call, 1))
        setattr(sources, name, bare)
        try:
            without.append(best(call, 1))
        finally:
            setattr(sources, name, recognise)
    alone = best(lambda: recognise(source), rounds)
    bare_alone = best(lambda: bare(source), rounds)
    full, base = min(with_checks), min(without)
    print(f"{label:<34} {full:7.3f} s {base:7.3f} s  ratio {full / base:5.3f}   "
          f"recognition {alone * 1e3:7.1f} ms, bare {bare_alone * 1e3:7.1f} ms, "
          f"difference {(alone - bare_alone) / base:+.2%} of the call")


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
    print(f"{'source':<34} {'checks':>9} {'bare':>9}")
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
