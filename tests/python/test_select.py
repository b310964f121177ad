"""Clustering.select_in(ids) and Clustering.select(f), also with arguments and
callbacks that fight back: Python code run in the middle of the call (index
conversions, predicates) may change or drop what the call works on, call
back into the module, recurse, or raise anything; the module answers with a
result or a clear exception and keeps working."""

import gc
import re

import pytest

import quelmar
from support import PANIC_PREFIX, panic_message

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

    def test_list_subclass_overrides_are_not_trusted(self, clustering):
        class Lying(list):
            def __iter__(self):
                raise RuntimeError("not used")

            def __len__(self):
                return 10 ** 12

        assert clustering.select_in(Lying([30, 10, 30])).keys == [10, 30]

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

    def test_list_emptied_during_its_conversion(self, clustering):
        class Shrinking:
            def __init__(self, ids):
                self.ids = ids

            def __index__(self):
                self.ids.clear()
                gc.collect()
                return 1

        for _ in range(20):
            ids = []
            ids += [Shrinking(ids), *[object() for _ in range(8)], *range(2, 30)]
            assert clustering.select_in(ids).keys == [1]

    def test_list_grown_during_its_conversion(self, clustering):
        class Growing:
            def __init__(self, ids):
                self.ids = ids

            def __index__(self):
                self.ids.extend(range(100, 200))
                return 2

        ids = []
        ids += [Growing(ids), 3]
        keys = clustering.select_in(ids).keys
        assert keys[:2] == [2, 3] and set(keys[2:]) <= set(range(100, 200))

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

    def test_arity(self, clustering):
        for args, kwargs in [((), {}), ((bool, bool), {}), ((bool,), {"f": bool}),
                             ((), {"g": bool})]:
            with pytest.raises(TypeError):
                clustering.select(*args, **kwargs)


class Weird:
    def __bool__(self):
        raise ValueError("no truth")

    def __eq__(self, other):
        raise ValueError("no equality")


class TestPredicateFailures:
    @pytest.mark.parametrize("answer, name", [(1, "int"), (None, "NoneType"), ([1], "list"),
                                              (0, "int"), (Weird(), "Weird")])
    def test_answer_must_be_a_bool(self, clustering, answer, name):
        assert panic_message(clustering.select, lambda c: answer) == (
            PANIC_PREFIX + "PyErr { type: <class 'TypeError'>, value: TypeError(\""
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
            re.escape(PANIC_PREFIX + "PyErr { type: <class 'ValueError'>, value: ValueError("
                      "'boom'), traceback: Some(<traceback object at ") + r"0x[0-9a-f]+" +
            re.escape(">) }"),
            error.args[0],
        )

    @pytest.mark.parametrize("exception",
                             [KeyboardInterrupt, SystemExit, MemoryError, GeneratorExit])
    def test_base_exceptions_are_wrapped_too(self, clustering, exception):
        def predicate(skeleton):
            raise exception("from the predicate")

        assert f"type: <class '{exception.__name__}'>" in panic_message(clustering.select,
                                                                         predicate)

    def test_nested_panic_comes_out_unwrapped(self, graph, clustering, files, capfd):
        missing = files.path("absent.txt")
        calls = []

        def nested(skeleton):
            calls.append(skeleton.n)
            if len(calls) == 2:
                quelmar.Clustering(graph, missing)
            return True

        message = panic_message(clustering.select, nested)
        assert message == PANIC_PREFIX + "No such file or directory (os error 2)"
        assert len(calls) == 2
        err = capfd.readouterr().err
        assert "Traceback (most recent call last)" in err
        assert "in nested" in err

    def test_nested_python_error_becomes_a_panic(self, clustering):
        def predicate(skeleton):
            clustering.select_in(["not an id"])
            return True

        message = panic_message(clustering.select, predicate)
        assert message.startswith(PANIC_PREFIX) and "TypeError" in message

    def test_unbounded_recursion(self, clustering):
        def recurse(skeleton):
            return clustering.select(recurse) is not None

        message = panic_message(clustering.select, recurse)
        assert message.startswith(PANIC_PREFIX) and "RecursionError" in message
        assert clustering.select(lambda c: True).keys == [10, 20, 30]


def test_predicate_drops_every_other_reference(files):
    held = {"graph": quelmar.Graph(files.edges(EDGES))}
    held["clustering"] = quelmar.Clustering(held["graph"], files.clusters(CLUSTERS))

    def predicate(skeleton):
        held.clear()
        gc.collect()
        return skeleton.n == 2

    subset = held["clustering"].select(predicate)
    assert held == {}
    assert subset.keys == [20, 30]
    assert subset.compute_statistics().num_clusters == 2
