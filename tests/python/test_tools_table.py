"""quelmar_tools.cluster_table, totals, summary_table and to_dict: the
per-cluster values are the ones the statistics summarise, bit for bit."""

import json
import math
import os

import networkx as nx
import numpy as np
import pytest

import quelmar
import quelmar_tools

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DATA = os.path.join(ROOT, "examples", "data")


@pytest.fixture(scope="module")
def graph():
    return quelmar.Graph(os.path.join(DATA, "graph.tsv"))


@pytest.fixture(scope="module")
def clustering(graph):
    return quelmar.Clustering(graph, os.path.join(DATA, "clustering.tsv"), cpm=0.1)


class TestClusterTable:
    @pytest.mark.parametrize("ids", [None, [10, 30, 999, 10], np.array([40, 20])])
    def test_columns_summarise_to_the_statistics(self, clustering, ids):
        table = quelmar_tools.cluster_table(clustering, ids=ids, cpm=0.1)
        subset = clustering.select(lambda c: True) if ids is None \
            else clustering.select_in([int(i) for i in ids])
        stats = subset.compute_statistics()
        assert list(table.columns) == quelmar_tools.table_columns(with_cpm=True)
        # Every statistic summarised has its column, in the documented order.
        assert list(table.columns) == ["n", "m", "c", "mcd", "vol", "size", "density",
                                       "modularity", "deviationtreeness", "cpm"]
        assert set(table.columns) >= set(stats.distributions)
        assert table.index.name == "id" and table.index.dtype == np.uint64
        assert len(table) == stats.num_clusters
        for name, summary in stats.distributions.items():
            column = table[name].to_numpy(dtype=np.float64)
            assert quelmar_tools.summarize(column) == summary.percentiles, name

    def test_counts_and_ids_are_those_select_sees(self, clustering):
        table = quelmar_tools.cluster_table(clustering)
        seen = []
        keys = clustering.select(lambda c: seen.append((c.n, c.m, c.c, c.mcd, c.vol)) or True).keys
        assert table.index.tolist() == keys
        assert [tuple(row) for row in table[list(quelmar_tools.COUNT_COLUMNS)].to_numpy()] == seen
        assert "cpm" not in table and (table[list(quelmar_tools.COUNT_COLUMNS)].dtypes
                                       == np.uint64).all()

    def test_edgeless_graph_has_nan_modularity(self):
        values = quelmar_tools.cluster_values([2], [0], [0], [0], [0], total_edges=0)
        assert math.isnan(values["modularity"][0]) and values["deviationtreeness"][0] == -0.5

    def test_bad_ids(self, clustering):
        with pytest.raises(ValueError, match="-1"):
            quelmar_tools.cluster_table(clustering, ids=[-1])
        with pytest.raises(TypeError, match="quelmar.Clustering"):
            quelmar_tools.cluster_table("clustering.tsv")


class TestTotals:
    def test_modularity_of_a_partition_is_networkx_modularity(self):
        network = nx.relabel_nodes(nx.karate_club_graph(), lambda v: v + 10**15)
        communities = nx.community.louvain_communities(network, weight=None, seed=3)
        graph = quelmar_tools.graph_from(network)
        totals = quelmar_tools.totals(quelmar_tools.clustering_from(graph, communities))
        assert totals["modularity"] == pytest.approx(
            nx.community.modularity(network, communities, weight=None), abs=1e-12)
        assert (totals["node_coverage"], totals["num_clusters"]) == (1.0, len(communities))

    def test_counts_and_coverage_of_a_selection(self, clustering):
        stats = clustering.select_in([10, 20]).compute_statistics()
        totals = quelmar_tools.totals(clustering, ids=[10, 20])
        assert totals["covered_nodes"] == stats.covered_nodes
        assert totals["edge_coverage"] == stats.covered_edges / stats.total_edges
        table = quelmar_tools.cluster_table(clustering, ids=[10, 20])
        assert totals["modularity"] == math.fsum(table["modularity"])


def test_summary_table_and_dict(clustering):
    stats = clustering.select(lambda c: True).compute_statistics()
    table = quelmar_tools.summary_table(stats)
    assert table.index.tolist() == sorted(stats.distributions)
    assert table.columns.tolist() == list(range(0, 101, 5))
    assert table.loc["size", 50] == stats.distributions["size"].median
    plain = json.loads(json.dumps(quelmar_tools.to_dict(stats)))
    assert plain["total_edges"] == stats.total_edges
    assert plain["distributions"]["cpm"] == stats.distributions["cpm"].percentiles
