"""Clustering(graph, filepath, **py_kwargs), select_in and select."""

import re

import pytest

import quelmar

PREFIX = "called `Result::unwrap()` on an `Err` value: "

#   1 - 2 - 3 - 4      clusters: 10 = {1, 2, 3}, 20 = {3, 4}, 30 = {5, 6}
#           |          (31 = {5} is dropped as a singleton)
#   5 - 6   7
EDGES = [(1, 2), (2, 3), (3, 4), (3, 7), (5, 6)]
CLUSTERS = {30: [5, 6], 10: [1, 2, 3], 20: [3, 4], 31: [5]}
COUNTS = {  # n, m, c, mcd, vol
    10: (3, 2, 2, 1, 6),
    20: (2, 1, 2, 1, 4),
    30: (2, 1, 0, 1, 2),
}


@pytest.fixture
def graph(files):
    return quelmar.Graph(files.edges(EDGES))


@pytest.fixture
def clustering(graph, files):
    return quelmar.Clustering(graph, files.clusters(CLUSTERS))


def panic_of(call):
    with pytest.raises(BaseException) as raised:
        call()
    assert type(raised.value).__name__ == "PanicException"
    (message,) = raised.value.args
    return message


def distribution_keys(clustering):
    return set(clustering.select_in([]).compute_statistics().distributions)


def cpm_median(clustering):
    return clustering.select_in([10]).compute_statistics().distributions["cpm"].median


class TestConstruction:
    def test_by_position_and_keyword(self, graph, files):
        path = files.clusters(CLUSTERS)
        for clustering in [quelmar.Clustering(graph, path),
                           quelmar.Clustering(graph=graph, filepath=path),
                           quelmar.Clustering(graph, filepath=path)]:
            assert clustering.select(lambda c: True).keys == [10, 20, 30]

    def test_without_cpm_there_is_no_cpm_statistic(self, clustering):
        keys = {"mcd", "size", "modularity", "deviationtreeness", "density"}
        assert distribution_keys(clustering) == keys

    @pytest.mark.parametrize("value, resolution", [(0.5, 0.5), (1, 1.0), (True, 1.0)])
    def test_cpm_is_read_as_a_float(self, graph, files, value, resolution):
        clustering = quelmar.Clustering(graph, files.clusters(CLUSTERS), cpm=value)
        assert "cpm" in distribution_keys(clustering)
        assert cpm_median(clustering) == 2.0 - 3.0 * resolution  # m - P(n) * r

    def test_other_keywords_are_ignored(self, graph, files):
        path = files.clusters(CLUSTERS)
        clustering = quelmar.Clustering(graph, path, resolution=3, verbose=None)
        assert "cpm" not in distribution_keys(clustering)
        clustering = quelmar.Clustering(graph, path, foo="x", cpm=0.25)
        assert cpm_median(clustering) == 2.0 - 3.0 * 0.25

    def test_objects_with_a_float_conversion(self, graph, files):
        class Resolution:
            def __float__(self):
                return 0.5

        clustering = quelmar.Clustering(graph, files.clusters(CLUSTERS), cpm=Resolution())
        assert cpm_median(clustering) == 0.5

    @pytest.mark.parametrize("value", ["0.5", None, [1.0]])
    def test_cpm_conversion_error_is_the_interpreters(self, graph, files, value):
        with pytest.raises(TypeError) as raised:
            quelmar.Clustering(graph, files.clusters(CLUSTERS), cpm=value)
        assert "cpm" not in str(raised.value)
        assert not str(raised.value).startswith("argument")

    def test_graph_must_be_a_graph(self, clustering, files):
        path = files.clusters(CLUSTERS)
        for value in ["graph.txt", clustering, None]:
            with pytest.raises(TypeError, match="^argument 'graph': "):
                quelmar.Clustering(value, path)

    def test_filepath_must_be_a_str(self, graph, tmp_path):
        for value in [1, b"c.txt", tmp_path]:
            with pytest.raises(TypeError, match="^argument 'filepath': "):
                quelmar.Clustering(graph, value)

    @pytest.mark.parametrize(
        "args, kwargs",
        [((), {}), ((None,), {}), ((None, "c", "x"), {}), ((None, "c"), {"filepath": "c"})],
    )
    def test_arity(self, graph, args, kwargs):
        args = tuple(graph if a is None else a for a in args)
        with pytest.raises(TypeError):
            quelmar.Clustering(*args, **kwargs)

    def test_missing_file(self, graph, files):
        message = panic_of(lambda: quelmar.Clustering(graph, files.path("absent.txt")))
        assert message == PREFIX + "No such file or directory (os error 2)"

    @pytest.mark.parametrize(
        "lines, expected",
        [
            (["1 10", ""], "missing node_name"),
            (["1"], "missing cluster_id"),
            (["node cluster"], "invalid cluster_id"),
            (["-1 10"], "invalid digit found in string"),
            (["99 1", "98 1"],
             "node 98 requested in cluster 1 not found in graph, and is not singleton"),
        ],
    )
    def test_malformed_file(self, graph, files, lines, expected):
        path = files.lines(lines, "bad.txt")
        assert panic_of(lambda: quelmar.Clustering(graph, path)) == PREFIX + expected

    def test_graph_may_go_away_first(self, files):
        graph = quelmar.Graph(files.edges(EDGES))
        clustering = quelmar.Clustering(graph, files.clusters(CLUSTERS))
        del graph
        assert clustering.select_in([10]).compute_statistics().covered_edges == 2


class TestSelectIn:
    def test_sorted_and_deduplicated(self, clustering):
        assert clustering.select_in([]).keys == []
        assert clustering.select_in([3, 3, 1]).keys == [1, 3]
        assert clustering.select_in(ids=[30, 10, 30]).keys == [10, 30]

    def test_unknown_ids_are_kept(self, clustering):
        subset = clustering.select_in([10, 12345, 2**64 - 1])
        assert subset.keys == [10, 12345, 2**64 - 1]
        assert subset.compute_statistics().num_clusters == 1

    def test_list_subclasses_and_index_objects(self, clustering):
        class Ids(list):
            pass

        class Index:
            def __index__(self):
                return 20

        assert clustering.select_in(Ids([Index(), True, 30])).keys == [1, 20, 30]

    @pytest.mark.parametrize("ids", [(1, 2), {1, 2}, range(3), iter([1]), "12", None])
    def test_only_lists(self, clustering, ids):
        with pytest.raises(TypeError, match="^argument 'ids': "):
            clustering.select_in(ids)

    @pytest.mark.parametrize(
        "ids, error",
        [([-1], OverflowError), ([1, 2**64], OverflowError), (["1"], TypeError),
         ([1.0], TypeError), ([None], TypeError)],
    )
    def test_element_errors_are_the_interpreters(self, clustering, ids, error):
        with pytest.raises(error) as raised:
            clustering.select_in(ids)
        assert not str(raised.value).startswith("argument")

    def test_list_changed_during_conversion(self, clustering):
        ids = []

        class Shrinking:
            def __index__(self):
                ids.clear()
                return 7

        ids.extend([Shrinking(), 1, 2, 3])
        assert clustering.select_in(ids).keys == [7]

    def test_arity(self, clustering):
        for args, kwargs in [((), {}), (([1], [2]), {}), (([1],), {"ids": [1]}),
                             ((), {"keys": [1]})]:
            with pytest.raises(TypeError):
                clustering.select_in(*args, **kwargs)


class TestSelect:
    def test_sees_every_cluster_in_ascending_order(self, clustering):
        seen = []

        def record(skeleton):
            seen.append((skeleton.n, skeleton.m, skeleton.c, skeleton.mcd, skeleton.vol))
            return skeleton.n >= 3

        assert clustering.select(record).keys == [10]
        assert seen == [COUNTS[10], COUNTS[20], COUNTS[30]]

    def test_all_and_nothing(self, clustering):
        assert clustering.select(lambda c: True).keys == [10, 20, 30]
        assert clustering.select(f=lambda c: False).keys == []

    def test_skeletons_are_fresh_copies_that_may_be_kept(self, clustering):
        kept = []
        clustering.select(lambda c: kept.append(c) or False)
        assert len({id(c) for c in kept}) == 3
        assert [c.n for c in kept] == [3, 2, 2]
        assert type(kept[0]) is quelmar.ClusterSkeleton
        with pytest.raises(AttributeError):
            kept[0].cpm
        with pytest.raises(AttributeError):
            kept[0].n = 5

    def test_empty_clustering_never_calls(self, graph, files):
        empty = quelmar.Clustering(graph, files.clusters({}))
        assert empty.select(lambda c: pytest.fail("called")).keys == []

    def test_callables_of_any_kind(self, clustering):
        class Big:
            def __call__(self, skeleton):
                return skeleton.n > 2

        assert clustering.select(Big()).keys == [10]
        assert clustering.select(bool).keys == [10, 20, 30]  # plain objects are truthy
        assert clustering.select(lambda c: c.vol == 4).keys == [20]

    @pytest.mark.parametrize("f", [5, None, "f"])
    def test_not_callable(self, clustering, f):
        with pytest.raises(TypeError, match="^Expected a callable$"):
            clustering.select(f)

    @pytest.mark.parametrize("answer, name", [(1, "int"), (None, "NoneType"), ([1], "list"),
                                              (0, "int")])
    def test_answer_must_be_a_bool(self, clustering, answer, name):
        message = panic_of(lambda: clustering.select(lambda c: answer))
        assert message == (
            PREFIX + "PyErr { type: <class 'TypeError'>, value: TypeError(\""
            f"'{name}' object cannot be converted to 'PyBool'\"), traceback: None }}"
        )

    def test_raised_exception_is_described_and_consumed(self, clustering):
        seen = []

        def failing(skeleton):
            seen.append(skeleton.n)
            if skeleton.n == 3:
                raise ValueError("boom")
            return True

        with pytest.raises(BaseException) as raised:
            clustering.select(failing)
        assert seen == [3]  # later clusters are not visited
        error = raised.value
        assert type(error).__name__ == "PanicException"
        assert error.__cause__ is None
        assert re.fullmatch(
            re.escape(PREFIX + "PyErr { type: <class 'ValueError'>, value: ValueError('boom'), "
                      "traceback: Some(<traceback object at ") + r"0x[0-9a-f]+" + re.escape(">) }"),
            error.args[0],
        )

    def test_keyboard_interrupt_is_wrapped_too(self, clustering):
        def interrupted(skeleton):
            raise KeyboardInterrupt

        message = panic_of(lambda: clustering.select(interrupted))
        assert "type: <class 'KeyboardInterrupt'>" in message

    def test_panic_inside_predicate_passes_through(self, clustering, files, capfd):
        missing = files.path("absent.txt")

        def nested(skeleton):
            quelmar.Graph(missing)

        message = panic_of(lambda: clustering.select(nested))
        assert message == PREFIX + "No such file or directory (os error 2)"
        err = capfd.readouterr().err
        assert "Traceback (most recent call last)" in err
        assert "in nested" in err

    def test_predicate_may_call_back_into_the_module(self, clustering):
        def nested(skeleton):
            inner = clustering.select(lambda c: c.n == skeleton.n)
            return len(clustering.select_in(inner.keys).keys) == 1

        assert clustering.select(nested).keys == [10]

    def test_arity(self, clustering):
        for args, kwargs in [((), {}), ((bool, bool), {}), ((bool,), {"f": bool}),
                             ((), {"g": bool})]:
            with pytest.raises(TypeError):
                clustering.select(*args, **kwargs)
