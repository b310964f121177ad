"""Arguments and callbacks that fight back: Python code run in the middle of
a native call (index conversions, predicates) may change or drop what the
call is working on, recurse, or raise anything; the module answers with a
result or a clear exception and keeps working."""

import gc

import pytest

import quelmar
from test_reliability_support import PANIC_PREFIX, panic_message, write_text


@pytest.fixture
def clustering(tmp_path):
    graph = quelmar.Graph(write_text(tmp_path, "g.txt", "1 2\n2 3\n3 1\n3 4\n4 5\n5 3\n"))
    return quelmar.Clustering(graph, write_text(tmp_path, "c.txt",
                                                "1 1\n2 1\n3 1\n3 2\n4 2\n5 2\n1 3\n5 3\n"))


class Shrinking:
    """An id whose conversion empties the list being converted."""

    def __init__(self, ids):
        self.ids = ids

    def __index__(self):
        self.ids.clear()
        gc.collect()
        return 1


def test_id_list_emptied_during_its_conversion(clustering):
    for _ in range(20):
        ids = []
        ids += [Shrinking(ids), *[object() for _ in range(8)], *range(2, 30)]
        assert clustering.select_in(ids).keys == [1]


def test_id_list_grown_during_its_conversion(clustering):
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


def test_list_subclass_overrides_are_not_trusted(clustering):
    class Lying(list):
        def __iter__(self):
            raise RuntimeError("not used")

        def __len__(self):
            return 10 ** 12

    assert clustering.select_in(Lying([3, 1, 3])).keys == [1, 3]


def test_predicate_drops_every_other_reference(tmp_path):
    held = {}
    held["graph"] = quelmar.Graph(write_text(tmp_path, "g.txt", "1 2\n2 3\n3 1\n"))
    held["clustering"] = quelmar.Clustering(held["graph"],
                                            write_text(tmp_path, "c.txt", "1 1\n2 1\n3 2\n1 2\n"))

    def predicate(skeleton):
        held.clear()
        gc.collect()
        return skeleton.n == 2

    subset = held["clustering"].select(predicate)
    assert held == {}
    assert subset.keys == [1, 2]
    assert subset.compute_statistics().num_clusters == 2


def test_unbounded_recursion_through_the_predicate(clustering):
    def recurse(skeleton):
        return clustering.select(recurse) is not None

    message = panic_message(clustering.select, recurse)
    assert message.startswith(PANIC_PREFIX) and "RecursionError" in message
    assert clustering.select(lambda c: True).keys == [1, 2, 3]


@pytest.mark.parametrize("exception", [KeyboardInterrupt, SystemExit, MemoryError, GeneratorExit])
def test_predicate_raising_base_exceptions(clustering, exception):
    def predicate(skeleton):
        raise exception("from the predicate")

    message = panic_message(clustering.select, predicate)
    assert exception.__name__ in message


def test_predicate_answers_that_fail_to_compare(clustering):
    class Weird:
        def __bool__(self):
            raise ValueError("no truth")

        def __eq__(self, other):
            raise ValueError("no equality")

    message = panic_message(clustering.select, lambda c: Weird())
    assert "Weird' object cannot be converted to 'PyBool'" in message


def test_cpm_values_that_are_not_plain_numbers(tmp_path, clustering):
    graph = quelmar.Graph(write_text(tmp_path, "g2.txt", "1 2\n2 3\n3 1\n"))
    path = write_text(tmp_path, "c2.txt", "1 1\n2 1\n3 1\n")

    class Resolution:
        def __float__(self):
            return 0.5

    class Broken:
        def __float__(self):
            raise ArithmeticError("no float")

    for cpm, expected in [(Resolution(), 3 - 3 * 0.5), (True, 0.0), (float("inf"), None)]:
        cpm_summary = quelmar.Clustering(graph, path, cpm=cpm).select(
            lambda c: True).compute_statistics().distributions["cpm"]
        if expected is not None:
            assert cpm_summary.median == expected
    with pytest.raises(ArithmeticError):
        quelmar.Clustering(graph, path, cpm=Broken())
    with pytest.raises(TypeError):
        quelmar.Clustering(graph, path, cpm="0.5")
