"""compare() and match_table() against scikit-learn on partitions and
against plain twins (all node pairs, all cluster pairs) on covers."""

import itertools
import math

import numpy as np
import pytest

import quelmar_tools

sklearn_metrics = pytest.importorskip("sklearn.metrics")

NODES = 40


@pytest.fixture(scope="module")
def graph():
    # A ring: every node exists, whatever the clusterings name.
    ring = np.arange(NODES, dtype=np.uint64)
    return quelmar_tools.graph_from(np.stack([ring, (ring + 1) % NODES], axis=1))


def labels_with_singletons(clusters):
    """One label per node: its cluster, or a label of its own."""
    labels = np.arange(1000, 1000 + NODES)
    for cluster, members in clusters.items():
        labels[list(members)] = cluster
    return labels


def random_partition(rng, cover=False):
    clusters = {}
    order = rng.permutation(NODES)[: int(rng.integers(NODES // 2, NODES + 1))]
    cuts = np.sort(rng.choice(np.arange(1, len(order)), size=int(rng.integers(1, 8)),
                              replace=False))
    for cluster, part in enumerate(np.split(order, cuts)):
        if len(part) >= 2:
            clusters[cluster] = part.tolist()
    if cover:
        for cluster in list(clusters)[:2]:
            clusters[cluster] = sorted(set(clusters[cluster]) |
                                       set(rng.choice(NODES, 3, replace=False).tolist()))
    return clusters


def pair_counts(clusters):
    """Per node pair, the number of clusters holding both."""
    shared = {}
    for members in clusters.values():
        for u, v in itertools.combinations(sorted(set(members)), 2):
            shared[u, v] = shared.get((u, v), 0) + 1
    return shared


def omega_twin(a, b):
    pairs = NODES * (NODES - 1) // 2
    shared_a, shared_b = pair_counts(a), pair_counts(b)
    top = max([0, *shared_a.values(), *shared_b.values()])
    agree = sum(1 for u, v in itertools.combinations(range(NODES), 2)
                if shared_a.get((u, v), 0) == shared_b.get((u, v), 0)) / pairs
    count_a = [sum(1 for x in shared_a.values() if x == j) for j in range(top + 1)]
    count_b = [sum(1 for x in shared_b.values() if x == j) for j in range(top + 1)]
    count_a[0], count_b[0] = pairs - sum(count_a[1:]), pairs - sum(count_b[1:])
    expected = sum(x * y for x, y in zip(count_a, count_b)) / pairs ** 2
    return (agree - expected) / (1 - expected)


def f1_twin(a, b):
    def best(x, y):
        return np.mean([max(2 * len(set(p) & set(q)) / (len(set(p)) + len(set(q)))
                            for q in y.values()) for p in x.values()])
    return (best(a, b) + best(b, a)) / 2


@pytest.mark.parametrize("seed", range(10))
def test_partitions_equal_scikit_learn(graph, seed):
    rng = np.random.default_rng(seed)
    a, b = random_partition(rng), random_partition(rng)
    result = quelmar_tools.compare(quelmar_tools.clustering_from(graph, a),
                                   quelmar_tools.clustering_from(graph, b),
                                   measures=["nmi", "nmi_geometric", "nmi_min", "nmi_max", "ari",
                                             "vi"])
    la, lb = labels_with_singletons(a), labels_with_singletons(b)
    for name, method in [("nmi", "arithmetic"), ("nmi_geometric", "geometric"),
                         ("nmi_min", "min"), ("nmi_max", "max")]:
        expected = sklearn_metrics.normalized_mutual_info_score(la, lb, average_method=method)
        assert result[name] == pytest.approx(expected, rel=1e-12, abs=1e-15)
    assert result["ari"] == pytest.approx(sklearn_metrics.adjusted_rand_score(la, lb), rel=1e-12)
    mutual = sklearn_metrics.mutual_info_score(la, lb)
    entropies = [sklearn_metrics.mutual_info_score(x, x) for x in (la, lb)]
    assert result["vi"] == pytest.approx(sum(entropies) - 2 * mutual, rel=1e-9, abs=1e-12)


@pytest.mark.parametrize("seed", range(6))
def test_covers_equal_their_twins(graph, seed):
    rng = np.random.default_rng(100 + seed)
    a, b = random_partition(rng, cover=True), random_partition(rng, cover=True)
    result = quelmar_tools.compare(quelmar_tools.clustering_from(graph, a),
                                   quelmar_tools.clustering_from(graph, b), measures="all")
    # The default leaves the partition measures out for covers.
    assert list(result) == ["f1", "onmi", "omega"]
    singles = lambda c: {**c, **{-1 - u: [u] for u in range(NODES)
                                 if not any(u in m for m in c.values())}}
    assert result["omega"] == pytest.approx(omega_twin(a, b), rel=1e-12)
    assert result["f1"] == pytest.approx(f1_twin(singles(a), singles(b)), rel=1e-12)
    assert 0.0 <= result["onmi"] <= 1.0


def test_match_tables_both_ways(graph):
    a = {1: [0, 1, 2, 3], 2: [4, 5, 6], 3: [30, 31]}
    b = {7: [0, 1, 2], 8: [3, 4, 5, 6], 9: [20, 21]}
    ca, cb = (quelmar_tools.clustering_from(graph, c) for c in (a, b))
    table = quelmar_tools.match_table(ca, cb)
    assert table.index.tolist() == [1, 2, 3]
    assert table["match"].tolist()[:2] == [7, 8]
    assert table["match"].isna().tolist() == [False, False, True]
    assert table.loc[1, ["intersection", "jaccard", "precision", "recall", "f1"]].tolist() == \
        pytest.approx([3, 0.75, 1.0, 0.75, 6 / 7])
    assert math.isnan(table.loc[3, "jaccard"])
    back = quelmar_tools.match_table(ca, cb, reverse=True)
    assert back.index.tolist() == [7, 8, 9] and back["match"].tolist()[:2] == [1, 2]


def test_refusals(graph, files):
    cover = quelmar_tools.clustering_from(graph, {1: [0, 1, 2], 2: [2, 3]})
    partition = quelmar_tools.clustering_from(graph, {1: [0, 1], 2: [2, 3]})
    with pytest.raises(ValueError, match="needs a partition, but node 2 is in clusters 1 and 2"):
        quelmar_tools.compare(cover, partition, measures=["nmi"])
    other_graph = quelmar_tools.graph_from(np.array([[0, 1], [2, 3]], dtype=np.uint64))
    elsewhere = quelmar_tools.clustering_from(other_graph, {1: [0, 1]})
    with pytest.raises(ValueError, match="different graphs"):
        quelmar_tools.compare(partition, elsewhere)
    with pytest.raises(ValueError, match="unknown agreement measure 'rand'"):
        quelmar_tools.compare(partition, partition, measures=["rand"])
    with pytest.raises(ValueError, match="uncovered"):
        quelmar_tools.compare(partition, partition, uncovered="ignore")


def test_each_measure_behaves_as_its_table_row_says(graph):
    """The groups as documented, and each row of the native table true of
    its measure: a partition measure refuses a cover, every measure takes
    two partitions, and a variant is offered by name only, beside its
    measure."""
    from quelmar_tools import agreement
    assert (agreement.PARTITION_MEASURES, agreement.COVER_MEASURES, agreement.NMI_VARIANTS,
            agreement.DEFAULT_MEASURES, agreement.ALL_MEASURES) == (
        ("nmi", "ari", "vi"), ("f1", "onmi", "omega"), ("nmi_geometric", "nmi_min", "nmi_max"),
        ("nmi", "ari", "vi", "f1"), ("nmi", "ari", "vi", "f1", "onmi", "omega"))
    rng = np.random.default_rng(7)
    cover = quelmar_tools.clustering_from(graph, random_partition(rng, cover=True))
    a, b = (quelmar_tools.clustering_from(graph, random_partition(rng)) for _ in range(2))
    for row in agreement.MEASURE_TABLE:
        value = quelmar_tools.compare(a, b, measures=[row.name])[row.name]
        assert math.isfinite(value), row.name
        if row.needs_partition:
            with pytest.raises(ValueError, match="needs a partition, but node"):
                quelmar_tools.compare(cover, b, measures=[row.name])
        else:
            assert math.isfinite(quelmar_tools.compare(cover, b, measures=[row.name])[row.name])
        if row.variant_of:
            assert row.variant_of in agreement.ALL_MEASURES and row.name not in \
                agreement.ALL_MEASURES
