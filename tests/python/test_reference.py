"""Every statistic against the plain-Python twin in reference.py, on random
graphs and clusterings: counts equal, floats bit-identical."""

import random

import pytest

import quelmar
import reference
from support import panic_message, skeleton_counts


def distinct_u64(rng, count):
    values = {rng.getrandbits(64) for _ in range(count)}
    values |= set(rng.sample(range(1000), count))  # small ones too
    return rng.sample(sorted(values), count)


def random_case(seed):
    rng = random.Random(seed)
    names = distinct_u64(rng, rng.randint(2, 60))
    if rng.random() < 0.3:
        names[0] = 2**64 - 1
    edges = []
    for _ in range(rng.randint(1, 4 * len(names))):
        a, b = rng.sample(names, 2)  # no self-loops
        edges.append((a, b))
    known = sorted({n for edge in edges for n in edge})
    cluster_ids = distinct_u64(rng, rng.randint(0, 25))
    memberships = []
    for cluster in cluster_ids:
        size = rng.choice([1, 2, 2, 3, 4, 6, 10, len(known)])
        memberships += [(node, cluster) for node in rng.choices(known, k=size)]
    rng.shuffle(memberships)
    cpm = rng.choice([None, 0.0, 0.1, 1.0, rng.random() * 3])
    return rng, edges, memberships, cpm


@pytest.mark.parametrize("seed", range(40))
def test_statistics_match_the_twin(files, seed):
    rng, edges, memberships, cpm = random_case(seed)
    adjacency = reference.load_edges(edges)
    clusters = reference.load_clusters(adjacency, memberships)

    graph = quelmar.Graph(files.edges(edges))
    extra = {} if cpm is None else {"cpm": cpm}
    clustering = quelmar.Clustering(graph, files.memberships(memberships), **extra)

    assert skeleton_counts(clustering) == [
        tuple(reference.counts(adjacency, members).values()) for members in clusters.values()]

    ids = list(clusters)
    keys = rng.sample(ids, rng.randint(0, len(ids))) + distinct_u64(rng, 2)
    subset = clustering.select_in(keys)
    assert subset.keys == sorted(set(keys))

    stats = subset.compute_statistics()
    expected = reference.statistics(adjacency, clusters, keys, cpm)
    got = {name: getattr(stats, name) for name in
           ["num_clusters", "covered_nodes", "covered_edges", "total_nodes", "total_edges"]}
    got["distributions"] = {name: d.percentiles for name, d in stats.distributions.items()}
    assert got == expected


@pytest.mark.parametrize("seed", range(15))
def test_size_diff_matches_the_twin(files, seed):
    rng, edges, memberships, _ = random_case(1000 + seed)
    adjacency = reference.load_edges(edges)
    clusters = reference.load_clusters(adjacency, memberships)
    known = sorted(adjacency)
    # the other clustering: the same ids with other random members, and one id less
    other_memberships = [(node, cluster) for cluster in clusters
                         for node in rng.sample(known, rng.randint(2, len(known)))]
    dropped = rng.choice(list(clusters)) if clusters else None
    other_memberships = [(n, c) for n, c in other_memberships if c != dropped]
    other = reference.load_clusters(adjacency, other_memberships)

    graph = quelmar.Graph(files.edges(edges))
    lhs = quelmar.Clustering(graph, files.memberships(memberships, "lhs.txt"))
    rhs = quelmar.Clustering(graph, files.memberships(other_memberships, "rhs.txt"))
    keys = [k for k in clusters if k != dropped and rng.random() < 0.7] + [12345]
    count, summary = lhs.select_in(keys).compute_size_diff(rhs)
    assert (count, summary.percentiles) == reference.size_diff(clusters, keys, other)

    if dropped is not None:
        assert panic_message(lhs.select_in(keys + [dropped]).compute_size_diff, rhs) == \
            "no entry found for key"
