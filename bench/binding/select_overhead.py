"""What selection costs on top of the Python work it cannot avoid.

    python bench/binding/select_overhead.py [CLUSTERS]

Side by side in one run, on one clustering of CLUSTERS clusters (default
200 000): `select(f)` against a plain loop calling the same f on as many
prebuilt objects, and `select_in(ids)` against `sorted(set(ids))` on ids in random order. Prints the
ratios (module / plain Python); each figure is the best of five rounds.
"""

import os
import random
import sys
import tempfile
import time

import quelmar


def best_of(rounds, call):
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best


class Counts:
    __slots__ = ("n", "m", "c", "mcd", "vol")

    def __init__(self):
        self.n, self.m, self.c, self.mcd, self.vol = 3, 2, 1, 1, 5


def main(argv):
    clusters = int(argv[1]) if len(argv) > 1 else 200_000
    with tempfile.TemporaryDirectory() as folder:
        graph_path = os.path.join(folder, "graph.txt")
        clusters_path = os.path.join(folder, "clusters.txt")
        nodes = 3 * clusters
        with open(graph_path, "w") as out:
            out.write("".join(f"{i} {(i + 1) % nodes}\n" for i in range(nodes)))
        with open(clusters_path, "w") as out:
            out.write("".join(f"{i} {i // 3}\n" for i in range(nodes)))
        graph = quelmar.Graph(graph_path)
        clustering = quelmar.Clustering(graph, clusters_path)

    def predicate(cluster):
        return cluster.n >= 3

    objects = [Counts() for _ in range(clusters)]
    select = best_of(5, lambda: clustering.select(predicate))
    plain_calls = best_of(5, lambda: [predicate(c) for c in objects])

    ids = list(range(clusters)) * 2  # every id twice, in random order
    random.Random(7).shuffle(ids)
    select_in = best_of(5, lambda: clustering.select_in(ids))
    plain_sort = best_of(5, lambda: sorted(set(ids)))

    print(f"clusters                       {clusters}")
    print(f"select(f)                      {select * 1e3:9.2f} ms")
    print(f"plain loop calling f           {plain_calls * 1e3:9.2f} ms")
    print(f"  ratio                        {select / plain_calls:9.2f}")
    print(f"select_in(ids), {len(ids)} ids   {select_in * 1e3:9.2f} ms")
    print(f"sorted(set(ids))               {plain_sort * 1e3:9.2f} ms")
    print(f"  ratio                        {select_in / plain_sort:9.2f}")


if __name__ == "__main__":
    main(sys.argv)
