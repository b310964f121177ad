import pytest

import graph_files


@pytest.fixture
def files(tmp_path):
    """Writes input files into the test's temporary folder by name."""

    class Files:
        def edges(self, edges, name="graph.txt"):
            return graph_files.write_edges(tmp_path / name, edges)

        def clusters(self, clusters, name="clusters.txt"):
            return graph_files.write_clusters(tmp_path / name, clusters)

        def memberships(self, memberships, name="clusters.txt"):
            return graph_files.write_memberships(tmp_path / name, memberships)

        def lines(self, lines, name):
            return graph_files.write_lines(tmp_path / name, lines)

        def snapshot(self, values, name="graph.lz4", compress=True):
            return graph_files.write_snapshot(tmp_path / name, values, compress)

        def path(self, name):
            return str(tmp_path / name)

    return Files()
