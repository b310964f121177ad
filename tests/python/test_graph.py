"""Graph(filepath): loading both formats, argument rules, loading failures."""

import pytest

import quelmar
from graph_files import snapshot_values

PREFIX = "called `Result::unwrap()` on an `Err` value: "


def panic_message(call):
    with pytest.raises(BaseException) as raised:
        call()
    assert type(raised.value).__name__ == "PanicException"
    (message,) = raised.value.args
    return message


def totals(graph, files):
    """The graph's node and edge counts, as the statistics report them."""
    stats = quelmar.Clustering(graph, files.memberships([])).select_in([]).compute_statistics()
    return stats.total_nodes, stats.total_edges


class TestLoading:
    def test_edge_list_by_position_and_keyword(self, files):
        path = files.edges([(1, 2), (2, 3), (3, 1), (3, 4)])
        assert totals(quelmar.Graph(path), files) == (4, 4)
        assert totals(quelmar.Graph(filepath=path), files) == (4, 4)

    def test_empty_edge_list(self, files):
        assert totals(quelmar.Graph(files.lines([], "empty.txt")), files) == (0, 0)

    def test_repeated_and_reversed_edges_count_once(self, files):
        assert totals(quelmar.Graph(files.edges([(1, 2), (2, 1), (1, 2)])), files) == (2, 1)

    def test_snapshot_loads_like_its_edge_list(self, files):
        edges = [(10, 20), (20, 30), (30, 10), (30, 40), (2**64 - 1, 0)]
        from_text = quelmar.Graph(files.edges(edges))
        from_snapshot = quelmar.Graph(files.snapshot(snapshot_values(edges)))
        clusters = files.clusters({1: [10, 20, 30], 2: [30, 40], 3: [0, 2**64 - 1]})
        results = []
        for graph in (from_text, from_snapshot):
            stats = quelmar.Clustering(graph, clusters).select(lambda c: True).compute_statistics()
            results.append((stats.num_clusters, stats.covered_nodes, stats.covered_edges,
                            stats.total_nodes, stats.total_edges,
                            {k: v.percentiles for k, v in stats.distributions.items()}))
        assert results[0] == results[1]
        assert results[0][:5] == (3, 6, 5, 6, 5)

    def test_snapshot_of_the_empty_graph(self, files):
        assert totals(quelmar.Graph(files.snapshot([0, 0, 0, 0, 0])), files) == (0, 0)

    def test_upper_case_extension_is_an_edge_list(self, files):
        path = files.lines(["1 2"], "graph.LZ4")
        assert totals(quelmar.Graph(path), files) == (2, 1)


class TestArguments:
    @pytest.mark.parametrize("value", [1, b"graph.txt", None, ["graph.txt"]])
    def test_filepath_must_be_str(self, value):
        with pytest.raises(TypeError, match="^argument 'filepath': "):
            quelmar.Graph(value)

    def test_path_objects_are_refused(self, files, tmp_path):
        with pytest.raises(TypeError, match="^argument 'filepath': "):
            quelmar.Graph(tmp_path / "graph.txt")

    @pytest.mark.parametrize(
        "args, kwargs",
        [((), {}), (("a", "b"), {}), (("a",), {"filepath": "a"}), ((), {"path": "a"})],
    )
    def test_arity(self, args, kwargs):
        with pytest.raises(TypeError):
            quelmar.Graph(*args, **kwargs)

    def test_nul_character_cannot_name_a_file(self, files):
        # Cut at the NUL, the path would name another, existing file.
        path = files.edges([(1, 2)])
        with pytest.raises(ValueError):
            quelmar.Graph(path + "\0.lz4")


class TestFailures:
    def test_missing_file(self, files):
        message = panic_message(lambda: quelmar.Graph(files.path("absent.txt")))
        assert message == PREFIX + "No such file or directory (os error 2)"

    def test_missing_snapshot(self, files):
        message = panic_message(lambda: quelmar.Graph(files.path("absent.lz4")))
        assert message == PREFIX + "No such file or directory (os error 2)"

    @pytest.mark.parametrize(
        "lines, expected",
        [
            (["1,2"], "missing to"),
            (["1 2", "", "3 4"], "missing from"),
            (["-1 2"], "invalid digit found in string"),
            (["1 18446744073709551616"], "number too large to fit in target type"),
        ],
    )
    def test_malformed_edge_list(self, files, lines, expected):
        path = files.lines(lines, "bad.txt")
        assert panic_message(lambda: quelmar.Graph(path)) == PREFIX + expected

    def test_text_is_not_a_snapshot(self, files):
        path = files.snapshot(snapshot_values([(10, 20)]), compress=False)
        assert panic_message(lambda: quelmar.Graph(path)) == (
            PREFIX + "io error: LZ4 error: ERROR_frameType_unknown\n\n"
            "Caused by:\n    LZ4 error: ERROR_frameType_unknown")

    def test_snapshot_breaking_the_graph_invariants(self, files):
        values = snapshot_values([(10, 20), (20, 30)])
        # 3, 3, (10, 0), (20, 1), (30, 2), 3, 10, 20, 30, 3, then node 0: 0, 1, [1]
        values[15] = 7  # node 0's only neighbour becomes a node that does not exist
        message = panic_message(lambda: quelmar.Graph(files.snapshot(values)))
        assert message.startswith(PREFIX + "invalid snapshot: ")

    def test_truncated_snapshot(self, files):
        path = files.snapshot(snapshot_values([(10, 20)])[:-1])
        message = panic_message(lambda: quelmar.Graph(path))
        assert message.startswith(PREFIX + "io error: failed to fill whole buffer")

    def test_failure_report_names_the_message(self, files, capfd):
        path = files.lines(["1,2"], "bad.txt")
        panic_message(lambda: quelmar.Graph(path))
        err = capfd.readouterr().err
        assert "panicked at src/exposure/" in err
        assert PREFIX + "missing to" in err
