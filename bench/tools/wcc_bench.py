"""quelmar_tools.well_connected beside its yardsticks, in one run.

    python bench/tools/wcc_bench.py chain [--blocks 2000] [--size 20]
    python bench/tools/wcc_bench.py table GRAPH CLUSTERING [--rounds 3]
    python bench/tools/wcc_bench.py planted [--nodes 1000000] [--cache bench/data]
                                    [--sample 20] [--peer-cap 300]

chain: one cluster of BLOCKS cliques of SIZE in a row, each joined to the
next by one edge, refined at min_size SIZE (every block must come out), and
the same joined by two edges under the criterion "2" (λ = 2: cut by the full
minimum cut); beside the `mincut` column of the cluster.

table: the refinement of every cluster of a clustering file against the
`mincut` column of the same clusters, per round and as a ratio.

planted: an LFR graph made with networkit (NODES nodes, mean degree about
17, community sizes 20 to 30,000, mixing 0.4, seed 1), clustered by igraph's
Leiden (CPM, resolution 0.001, seed 1); both are cached in CACHE. Then the
refinement (log10, min_size 11) of every cluster beside the `mincut` column,
and, on every SAMPLE-th cluster by size, smallest first, a Python loop
around igraph's mincut (components first, cut, recurse) in a child process
stopped after --peer-cap seconds, beside the refinement of the clusters the
loop finished.
"""

from __future__ import annotations

import argparse
import math
import multiprocessing
import os
import time
from typing import Any, Callable

import numpy as np

import quelmar
import quelmar_tools


def timed(step: Callable[[], Any]) -> tuple[float, Any]:
    start = time.perf_counter()
    result = step()
    return time.perf_counter() - start, result


def chain(args: argparse.Namespace) -> None:
    size, blocks = args.size, args.blocks
    i, j = np.triu_indices(size, 1)
    base = (np.arange(blocks, dtype=np.uint64) * size)[:, None]
    inside = np.stack([(base + i).ravel(), (base + j).ravel()], axis=1)
    first = np.arange(blocks - 1, dtype=np.uint64) * size
    nodes = np.arange(blocks * size, dtype=np.uint64)
    for links, criterion in [(1, "log10"), (2, "2")]:
        joins = np.concatenate([np.stack([first + k, first + size + k], axis=1)
                                for k in range(links)])
        graph = quelmar_tools.graph_from(np.concatenate([inside, joins]))
        clustering = quelmar_tools.clustering_from(
            graph, np.stack([nodes, np.zeros_like(nodes)], axis=1))
        for _ in range(args.rounds):
            cut, _table = timed(lambda: quelmar_tools.cluster_table(clustering,
                                                                    measures=["mincut"]))
            spent, refined = timed(lambda: quelmar_tools.well_connected(
                clustering, criterion=criterion, min_size=size))
            sizes = np.bincount(quelmar_tools.memberships(refined.clustering)["cluster"])
            print(f"chain of {blocks} K{size}, {links} edge(s) between blocks, criterion "
                  f"{criterion}: {spent:.3f} s, {len(sizes)} clusters (all of {size}: "
                  f"{bool((sizes == size).all())}), {int(refined.report['cuts'].iloc[0])} cuts; "
                  f"mincut column {cut:.3f} s")


def table(args: argparse.Namespace) -> None:
    graph = quelmar.Graph(args.graph)
    clustering = quelmar_tools.clustering_from(graph, args.clustering)
    ratios = []
    for _ in range(args.rounds):
        cut, _table = timed(lambda: quelmar_tools.cluster_table(clustering, measures=["mincut"]))
        spent, refined = timed(lambda: quelmar_tools.well_connected(clustering))
        ratios.append(spent / cut)
        report = refined.report
        print(f"well_connected {spent:.2f} s, mincut column {cut:.2f} s: {spent / cut:.2f}x "
              f"({len(report)} clusters, {int(report['well_connected'].sum())} well-connected "
              f"as given, {len(refined.origin)} out, {int(report['cuts'].sum())} cuts)")
    print(f"ratio per round {min(ratios):.2f}-{max(ratios):.2f}")


def planted_inputs(nodes: int, cache: str) -> tuple[np.ndarray, np.ndarray]:
    """The LFR graph's edges and igraph's Leiden membership vector."""
    edges_path = os.path.join(cache, f"lfr_{nodes}_edges.npy")
    leiden_path = os.path.join(cache, f"lfr_{nodes}_leiden_cpm0.001.npy")
    if not os.path.exists(edges_path):
        import networkit as nk
        nk.setSeed(1, False)
        generator = nk.generators.LFRGenerator(nodes)
        generator.generatePowerlawDegreeSequence(17, 1000, -2)
        generator.generatePowerlawCommunitySizeSequence(20, 30_000, -1)
        generator.setMu(0.4)
        spent, network = timed(generator.generate)
        edges = np.array(list(network.iterEdges()), dtype=np.uint64)
        np.save(edges_path, edges)
        print(f"LFR graph: {nodes} nodes, {len(edges)} edges ({spent:.0f} s)")
    edges = np.load(edges_path)
    if not os.path.exists(leiden_path):
        import igraph
        import random
        random.seed(1)
        igraph.set_random_number_generator(random)
        network = igraph.Graph(n=nodes, edges=edges.tolist())
        spent, found = timed(lambda: network.community_leiden(objective_function="CPM",
                                                              resolution=0.001))
        np.save(leiden_path, np.array(found.membership, dtype=np.uint64))
        print(f"igraph Leiden (CPM 0.001): {len(found)} clusters ({spent:.0f} s)")
    return edges, np.load(leiden_path)


def igraph_loop(edges: np.ndarray, nodes: int, clusters: list[list[int]], min_size: int,
                answer: Any) -> None:
    """The refinement as a user writes it around igraph: one induced subgraph
    at a time, components first, then the minimum cut, recursing on its
    sides. Reports (clusters finished, outputs, seconds) as it goes."""
    import igraph
    network = igraph.Graph(n=nodes, edges=edges.tolist())
    start = time.perf_counter()
    done = outputs = 0
    for members in clusters:
        stack = [members]
        while stack:
            piece = stack.pop()
            if len(piece) < min_size:
                continue
            sub = network.induced_subgraph(piece)
            parts = sub.connected_components()
            if len(parts) > 1:
                stack.extend([piece[i] for i in part] for part in parts)
                continue
            cut = sub.mincut()
            if cut.value > math.log10(len(piece)):
                outputs += 1
                continue
            stack.extend([piece[i] for i in side] for side in cut.partition)
        done += 1
        answer.put((done, outputs, time.perf_counter() - start))
    answer.put(None)


def planted(args: argparse.Namespace) -> None:
    os.makedirs(args.cache, exist_ok=True)
    edges, membership = planted_inputs(args.nodes, args.cache)
    graph = quelmar_tools.graph_from(edges)
    clustering = quelmar_tools.clustering_from(graph, membership)
    cut, columns = timed(lambda: quelmar_tools.cluster_table(clustering,
                                                             measures=["components", "mincut"]))
    failing = int(((columns["n"] >= 11) & (columns["mincut"] <= np.log10(columns["n"]))).sum())
    print(f"{len(columns)} clusters (largest {int(columns['n'].max())}), {failing} of at least "
          f"11 members not well-connected by the mincut column")
    spent, refined = timed(lambda: quelmar_tools.well_connected(clustering))
    print(f"well_connected of every cluster {spent:.2f} s ({len(refined.origin)} out, "
          f"{int(refined.report['cuts'].sum())} cuts); mincut and components columns {cut:.2f} s")

    # Every k-th cluster by size, smallest first, so that the sample has the
    # size spread of the whole and the loop finishes what it can of it; both
    # sides run on the clusters the loop finished.
    by_size = columns.sort_values("n", kind="stable").index.to_numpy()
    sample = by_size[args.sample // 2::args.sample]
    table = quelmar_tools.memberships(clustering, ids=sample).set_index("cluster")
    clusters = [table.loc[[key], "node"].to_numpy().astype(np.int64).tolist() for key in sample]
    total = len(clusters)
    answer: Any = multiprocessing.Queue()
    child = multiprocessing.Process(target=igraph_loop,
                                    args=(edges, args.nodes, clusters, 11, answer))
    child.start()
    deadline = time.monotonic() + args.peer_cap
    last = None
    while time.monotonic() < deadline:
        try:
            report = answer.get(timeout=max(0.0, deadline - time.monotonic()))
        except Exception:
            break
        if report is None:
            break
        last = report
    if child.is_alive():
        child.terminate()
    child.join()
    if last is None:
        print(f"igraph loop: no cluster of the sample finished within {args.peer_cap:.0f} s")
        return
    done, outputs, peer = last
    finished = np.sort(sample[:done])
    mine, refined = timed(lambda: quelmar_tools.well_connected(clustering, ids=finished))
    members = int(columns.loc[finished, "n"].sum())
    print(f"sample: every {args.sample}th cluster by size, {total} clusters; the igraph loop "
          f"finished the {done} smallest ({members} members, up to "
          f"{int(columns.loc[finished, 'n'].max())}) in {peer:.1f} s"
          + ("" if done == total else f", stopped at the cap of {args.peer_cap:.0f} s"))
    print(f"well_connected on the same {done} clusters {mine:.3f} s ({len(refined.origin)} out; "
          f"the loop {outputs}): the loop takes {peer / mine:.0f}x")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    one = commands.add_parser("chain")
    one.add_argument("--blocks", type=int, default=2000)
    one.add_argument("--size", type=int, default=20)
    one.add_argument("--rounds", type=int, default=2)
    two = commands.add_parser("table")
    two.add_argument("graph")
    two.add_argument("clustering")
    two.add_argument("--rounds", type=int, default=3)
    three = commands.add_parser("planted")
    three.add_argument("--nodes", type=int, default=1_000_000)
    three.add_argument("--cache", default=os.path.join("bench", "data"))
    three.add_argument("--peer-cap", type=float, default=300.0)
    three.add_argument("--sample", type=int, default=20)
    args = parser.parse_args()
    {"chain": chain, "table": table, "planted": planted}[args.command](args)


if __name__ == "__main__":
    main()
