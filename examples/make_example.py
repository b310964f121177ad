"""Writes the bundled example: a graph with planted, partly overlapping clusters.

    python examples/make_example.py [--seed 7] [--out examples/data]

The graph has a few thousand edges: clusters of heavy-tailed sizes, dense
inside, a sprinkling of random background edges, a few repeated or reversed
lines and one self-loop. Node names are large random integers, as they are in
real data. The clustering file lists each planted cluster (one node of every
tenth cluster also joins a neighbouring cluster), so clusters overlap; a second clustering file perturbs every cluster
a little, for comparing sizes.
"""

from __future__ import annotations

import argparse
import os
import random

Edge = tuple[int, int]


def planted_clusters(rng: random.Random, n_clusters: int) -> list[int]:
    """Cluster sizes from a discrete power law: many small clusters, a few big ones."""
    sizes: list[int] = []
    for _ in range(n_clusters):
        size = int(4 * (1.0 - rng.random()) ** (-1.0 / 1.6))
        sizes.append(min(max(size, 3), 120))
    return sizes


def build(seed: int) -> tuple[list[int], list[Edge], list[Edge], list[Edge]]:
    rng = random.Random(seed)
    sizes = planted_clusters(rng, 120)
    n_nodes = sum(sizes) + 150  # some nodes belong to no cluster
    names = rng.sample(range(10**9, 10**12), n_nodes)

    clusters: list[list[int]] = []
    start = 0
    for size in sizes:
        clusters.append(list(range(start, start + size)))
        start += size

    edges: list[Edge] = []
    for members in clusters:
        p_inside = min(1.0, 8.0 / len(members))
        for i, u in enumerate(members):
            # A path keeps every cluster connected; random chords make it dense.
            if i + 1 < len(members):
                edges.append((u, members[i + 1]))
            for v in members[i + 2:]:
                if rng.random() < p_inside:
                    edges.append((u, v))
    for _ in range(n_nodes // 2):
        u, v = rng.randrange(n_nodes), rng.randrange(n_nodes)
        if u != v:
            edges.append((u, v))
    # Unclustered nodes hang off random nodes so that every node has an edge.
    for u in range(start, n_nodes):
        edges.append((u, rng.randrange(start)))
    for u, v in rng.sample(edges, 40):
        edges.append((v, u) if rng.random() < 0.5 else (u, v))
    edges.append((clusters[0][0], clusters[0][0]))
    rng.shuffle(edges)

    memberships: list[Edge] = []
    for cluster_id, members in enumerate(clusters, start=1):
        for u in members:
            memberships.append((u, cluster_id * 10))
        if cluster_id % 10 == 0 and cluster_id < len(clusters):
            memberships.append((clusters[cluster_id][0], cluster_id * 10))
    rng.shuffle(memberships)

    # A second opinion on the same graph: every cluster loses or gains a few
    # members, so that cluster sizes can be compared id by id.
    alternative: list[Edge] = []
    for cluster_id, members in enumerate(clusters, start=1):
        kept = [u for u in members if rng.random() > 0.15] or members[:2]
        if len(kept) < 2:
            kept = members[:2]
        gained = [rng.randrange(n_nodes) for _ in range(rng.randrange(0, 3))]
        for u in kept + gained:
            alternative.append((u, cluster_id * 10))
    return names, edges, memberships, alternative


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "data"))
    args = parser.parse_args()

    names, edges, memberships, alternative = build(args.seed)
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "graph.tsv"), "w") as out:
        out.writelines(f"{names[u]}\t{names[v]}\n" for u, v in edges)
    with open(os.path.join(args.out, "clustering.tsv"), "w") as out:
        out.writelines(f"{names[u]}\t{cluster}\n" for u, cluster in memberships)
    with open(os.path.join(args.out, "clustering_alt.tsv"), "w") as out:
        out.writelines(f"{names[u]}\t{cluster}\n" for u, cluster in alternative)
    print(f"{len(edges)} edge lines, {len(memberships)} membership lines in {args.out}")


if __name__ == "__main__":
    main()
