"""ClusteringSubset, ClusteringStats, SummarizedDistribution on small graphs
whose statistics are computed by hand."""

import math

import pytest

import quelmar
from support import fingerprint, panic_message

FIVE = {"mcd", "size", "modularity", "deviationtreeness", "density"}


def stats_of(files, edges, clusters, cpm=None, keys=None):
    graph = quelmar.Graph(files.edges(edges))
    extra = {} if cpm is None else {"cpm": cpm}
    clustering = quelmar.Clustering(graph, files.clusters(clusters), **extra)
    subset = clustering.select(lambda c: True) if keys is None else clustering.select_in(keys)
    return subset.compute_statistics()


def constant(value):
    return [value] * 21


class TestStatistics:
    def test_triangle(self, files):
        # 1 - 2
        #  \ /
        #   3        one cluster {1, 2, 3}: n 3, m 3, c 0, mcd 2
        stats = stats_of(files, [(1, 2), (2, 3), (3, 1)], {1: [1, 2, 3]}, cpm=0.25)
        assert (stats.num_clusters, stats.covered_nodes, stats.covered_edges,
                stats.total_nodes, stats.total_edges) == (1, 3, 3, 3, 3)
        values = {name: d.percentiles for name, d in stats.distributions.items()}
        assert values == {
            "mcd": constant(2.0),
            "size": constant(3.0),
            "modularity": constant(0.0),
            "deviationtreeness": constant(1 / 3),
            "density": constant(1.0),
            "cpm": constant(3.0 - 3.0 * 0.25),
        }

    def test_path_and_a_pair_without_edge(self, files):
        # 1 - 2 - 3   4 - 5     clusters {1, 2, 3} (m 2) and {3, 4} (m 0)
        stats = stats_of(files, [(1, 2), (2, 3), (4, 5)], {1: [1, 2, 3], 2: [3, 4]})
        deviation = stats.distributions["deviationtreeness"]
        assert (deviation.minimum, deviation.maximum) == (-0.5, 0.0)
        assert deviation.median == -0.25
        density = stats.distributions["density"]
        assert (density.minimum, density.maximum) == (0.0, 2 / 3)
        modularity = stats.distributions["modularity"]
        # {1, 2, 3}: a = 2/3, q = (2 * 2 + 0) / (3 + 3); {3, 4}: a = 0, q = (0 + 2) / (3 + 3)
        q_path, q_pair = 4 / 6, 2 / 6
        assert modularity.maximum == 2 / 3 - q_path * q_path
        assert modularity.minimum == 0 / 3 - q_pair * q_pair
        assert (stats.covered_nodes, stats.covered_edges) == (4, 2)

    def test_overlapping_clusters_count_shared_parts_once(self, files):
        # the complete graph on 1..4; {1, 2, 3} and {2, 3, 4} share 2, 3 and 2-3
        edges = [(a, b) for a in range(1, 5) for b in range(a + 1, 5)]
        stats = stats_of(files, edges, {1: [1, 2, 3], 2: [2, 3, 4]})
        assert (stats.num_clusters, stats.covered_nodes, stats.covered_edges) == (2, 4, 5)
        assert (stats.total_nodes, stats.total_edges) == (4, 6)

    def test_edge_between_two_clusters_is_not_covered(self, files):
        # 1 - 2 - 3 - 4 with clusters {1, 2} and {3, 4}: 2-3 lies in neither
        stats = stats_of(files, [(1, 2), (2, 3), (3, 4)], {1: [1, 2], 2: [3, 4]})
        assert (stats.covered_nodes, stats.covered_edges, stats.total_edges) == (4, 2, 3)

    def test_graph_without_edges_has_no_modularity(self, files):
        # three isolated nodes from a snapshot: every modularity value is NaN
        values = [3, 3, 10, 0, 20, 1, 30, 2, 3, 10, 20, 30, 3, 0, 0, 1, 0, 2, 0, 0]
        graph = quelmar.Graph(files.snapshot(values))
        clustering = quelmar.Clustering(graph, files.clusters({1: [10, 20], 2: [10, 20, 30]}))
        stats = clustering.select(lambda c: True).compute_statistics()
        assert stats.distributions["modularity"].percentiles == constant(0.0)
        size = stats.distributions["size"]
        assert (size.minimum, size.median, size.maximum) == (2.0, 2.5, 3.0)
        assert (stats.covered_edges, stats.total_edges) == (0, 0)

    def test_selection_without_clusters(self, files):
        stats = stats_of(files, [(1, 2)], {1: [1, 2]}, keys=[5, 6])
        assert (stats.num_clusters, stats.covered_nodes, stats.covered_edges,
                stats.total_nodes, stats.total_edges) == (0, 0, 0, 2, 1)
        assert set(stats.distributions) == FIVE
        for summary in stats.distributions.values():
            assert summary.percentiles == constant(0.0)

    def test_unknown_ids_change_nothing(self, files):
        edges = [(1, 2), (2, 3)]
        with_unknown = stats_of(files, edges, {1: [1, 2, 3]}, keys=[1, 99])
        without = stats_of(files, edges, {1: [1, 2, 3]}, keys=[1])
        assert fingerprint(with_unknown) == fingerprint(without)
        assert without.num_clusters == 1

    def test_distribution_keys(self, files):
        assert set(stats_of(files, [(1, 2)], {1: [1, 2]}).distributions) == FIVE
        assert set(stats_of(files, [(1, 2)], {1: [1, 2]}, cpm=1).distributions) == FIVE | {"cpm"}

    def test_twice_gives_equal_results(self, files):
        graph = quelmar.Graph(files.edges([(1, 2), (2, 3), (3, 4)]))
        subset = quelmar.Clustering(graph, files.clusters({1: [1, 2], 2: [2, 3, 4]})).select(
            lambda c: True)
        first, second = subset.compute_statistics(), subset.compute_statistics()
        assert first is not second
        assert fingerprint(first) == fingerprint(second)


class TestSizeDiff:
    @pytest.fixture
    def graph(self, files):
        return quelmar.Graph(files.edges([(i, i + 1) for i in range(1, 8)]))

    def test_relative_changes(self, graph, files):
        before = quelmar.Clustering(graph, files.clusters({1: [1, 2], 2: [1, 2, 3, 4]}, "a.txt"))
        after = quelmar.Clustering(graph, files.clusters({1: [1, 2, 3], 2: [5, 6]}, "b.txt"))
        count, summary = before.select(lambda c: True).compute_size_diff(after)
        assert count == 1
        assert (summary.minimum, summary.median, summary.maximum) == (-0.5, 0.0, 0.5)
        assert type(summary) is quelmar.SummarizedDistribution

    def test_against_its_own_clustering(self, graph, files):
        clustering = quelmar.Clustering(graph, files.clusters({1: [1, 2], 2: [3, 4, 5]}))
        result = clustering.select(lambda c: True).compute_size_diff(rhs=clustering)
        assert type(result) is tuple
        count, summary = result
        assert (count, summary.percentiles) == (0, constant(0.0))

    def test_all_doubled(self, graph, files):
        before = quelmar.Clustering(graph, files.clusters({1: [1, 2], 2: [3, 4]}, "a.txt"))
        after = quelmar.Clustering(graph, files.clusters({1: [1, 2, 3, 4], 2: [3, 4, 5, 6]},
                                                         "b.txt"))
        count, summary = before.select(lambda c: True).compute_size_diff(after)
        assert (count, summary.percentiles) == (2, constant(1.0))

    def test_missing_cluster_in_rhs(self, graph, files):
        before = quelmar.Clustering(graph, files.clusters({1: [1, 2], 2: [3, 4]}, "a.txt"))
        after = quelmar.Clustering(graph, files.clusters({1: [1, 2]}, "b.txt"))
        assert panic_message(before.select(lambda c: True).compute_size_diff, after) == \
            "no entry found for key"
        # ids that name no cluster of the subset's own clustering are never looked up
        count, _ = before.select_in([1, 7]).compute_size_diff(after)
        assert count == 0

    def test_empty_selection(self, graph, files):
        before = quelmar.Clustering(graph, files.clusters({1: [1, 2]}, "a.txt"))
        after = quelmar.Clustering(graph, files.clusters({}, "b.txt"))
        count, summary = before.select_in([]).compute_size_diff(after)
        assert (count, summary.percentiles) == (0, constant(0.0))

    def test_argument_rules(self, graph, files):
        clustering = quelmar.Clustering(graph, files.clusters({1: [1, 2]}))
        subset = clustering.select(lambda c: True)
        for rhs in [subset, graph, None, "c"]:
            with pytest.raises(TypeError, match="^argument 'rhs': "):
                subset.compute_size_diff(rhs)
        for args, kwargs in [((), {}), ((clustering, clustering), {}),
                             ((clustering,), {"rhs": clustering}), ((), {"other": clustering})]:
            with pytest.raises(TypeError):
                subset.compute_size_diff(*args, **kwargs)
        with pytest.raises(TypeError):
            subset.compute_statistics(1)
        with pytest.raises(TypeError):
            subset.compute_statistics(x=1)


class TestFreshObjects:
    @pytest.fixture
    def subset(self, files):
        graph = quelmar.Graph(files.edges([(1, 2), (2, 3), (3, 4)]))
        clustering = quelmar.Clustering(graph, files.clusters({4: [1, 2], 9: [2, 3, 4]}), cpm=1)
        return clustering.select_in([9, 4, 9])

    def test_keys(self, subset):
        first = subset.keys
        assert first == [4, 9]
        first.append(5)
        assert subset.keys == [4, 9]
        assert subset.keys is not subset.keys
        with pytest.raises(TypeError):
            subset.keys()
        with pytest.raises(AttributeError):
            subset.keys = [1]

    def test_distributions(self, subset):
        stats = subset.compute_statistics()
        first, second = stats.distributions, stats.distributions
        assert first is not second
        assert first.keys() == second.keys()
        assert first["size"] is not second["size"]
        del first["size"]
        assert "size" in second and "size" in stats.distributions
        assert all(type(v) is quelmar.SummarizedDistribution for v in second.values())

    def test_percentiles(self, subset):
        summary = subset.compute_statistics().distributions["size"]
        values = summary.percentiles
        assert len(values) == 21 and all(type(v) is float for v in values)
        assert (values[0], values[10], values[20]) == (
            summary.minimum, summary.median, summary.maximum)
        values[0] = 99.0
        assert summary.percentiles[0] == 2.0
        assert summary.percentiles is not summary.percentiles

    def test_read_only_properties(self, subset):
        stats = subset.compute_statistics()
        for name in ["num_clusters", "covered_nodes", "covered_edges", "total_nodes",
                     "total_edges", "distributions"]:
            with pytest.raises(AttributeError):
                setattr(stats, name, 1)
        summary = stats.distributions["cpm"]
        for name in ["percentiles", "minimum", "median", "maximum"]:
            with pytest.raises(AttributeError):
                setattr(summary, name, 1)
        assert all(type(getattr(stats, name)) is int for name in
                   ["num_clusters", "covered_nodes", "covered_edges", "total_nodes",
                    "total_edges"])
        assert math.isfinite(summary.median)
