"""Clustering(graph, filepath, **py_kwargs): arguments, the cpm keyword, and
loading the file. Every documented loader error reaches Python as a
PanicException with the exact message, raised with the interpreter lock held
again (also from several threads at once); memory stays bounded and the
graph stays usable afterwards."""

import os
import random

import pytest

import quelmar
from support import (PANIC_PREFIX, failure_without_permission_override, loader_error,
                     run_measured, run_threads)

CLUSTERING_ERRORS = {
    "missing node_name", "missing cluster_id", "invalid cluster_id",
    "invalid digit found in string", "number too large to fit in target type",
    "stream did not contain valid UTF-8",
}
UNRESOLVED = "node {} requested in cluster {} not found in graph, and is not singleton"
# Names 1 to 6 and 2^64 - 1: two triangles joined by one edge.
EDGES = [(1, 2), (2, 3), (3, 1), (4, 5), (5, 6), (6, 4), (3, 4), (2**64 - 1, 1)]


@pytest.fixture(scope="module")
def graph_path(tmp_path_factory):
    path = tmp_path_factory.mktemp("graph") / "graph.txt"
    path.write_text("".join(f"{a} {b}\n" for a, b in EDGES))
    return str(path)


@pytest.fixture(scope="module")
def graph(graph_path):
    return quelmar.Graph(graph_path)


def clusters_of(graph, path, **kwargs):
    subset = quelmar.Clustering(graph, path, **kwargs).select(lambda c: True)
    return subset.keys, subset.compute_statistics().covered_nodes


def distributions(clustering):
    return clustering.select(lambda c: True).compute_statistics().distributions


class TestArguments:
    def test_by_position_and_keyword(self, graph, files):
        path = files.clusters({30: [5, 6], 10: [1, 2, 3], 20: [3, 4], 31: [5]})
        for clustering in [quelmar.Clustering(graph, path),
                           quelmar.Clustering(graph=graph, filepath=path),
                           quelmar.Clustering(graph, filepath=path)]:
            assert clustering.select(lambda c: True).keys == [10, 20, 30]

    def test_graph_must_be_a_graph(self, graph, files):
        path = files.clusters({1: [1, 2]})
        for value in ["graph.txt", quelmar.Clustering(graph, path), None]:
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


class Resolution:
    def __float__(self):
        return 0.5


class Broken:
    def __float__(self):
        raise ArithmeticError("no float")


class TestCpm:
    @pytest.fixture
    def triangle(self, graph, files):
        return lambda **kwargs: quelmar.Clustering(graph, files.clusters({1: [1, 2, 3]}), **kwargs)

    def test_without_cpm_there_is_no_cpm_statistic(self, triangle):
        assert set(distributions(triangle())) == {
            "mcd", "size", "modularity", "deviationtreeness", "density"}

    @pytest.mark.parametrize("value, resolution", [
        (0.5, 0.5), (1, 1.0), (True, 1.0), (Resolution(), 0.5)])
    def test_read_as_a_float(self, triangle, value, resolution):
        assert distributions(triangle(cpm=value))["cpm"].median == 3.0 - 3.0 * resolution

    def test_infinity_is_a_resolution(self, triangle):
        assert distributions(triangle(cpm=float("inf")))["cpm"].median == -float("inf")

    def test_other_keywords_are_ignored(self, triangle):
        assert "cpm" not in distributions(triangle(resolution=3, verbose=None))
        assert distributions(triangle(foo="x", cpm=0.25))["cpm"].median == 3.0 - 3.0 * 0.25

    @pytest.mark.parametrize("value, error", [
        ("0.5", TypeError), (None, TypeError), ([1.0], TypeError), (Broken(), ArithmeticError)])
    def test_conversion_error_is_the_interpreters(self, triangle, value, error):
        with pytest.raises(error) as raised:
            triangle(cpm=value)
        assert "cpm" not in str(raised.value)
        assert not str(raised.value).startswith("argument")


@pytest.mark.parametrize("content, message", [
    ("\n", "missing node_name"),
    ("1 1\n\n", "missing node_name"),
    ("1 1\n   \t\n2 1\n", "missing node_name"),
    ("1 1\r\n\r\n", "missing node_name"),
    ("1\n", "missing cluster_id"),
    ("1 1\n2\n", "missing cluster_id"),
    ("node cluster\n", "invalid cluster_id"),
    ("# comment here\n", "invalid cluster_id"),
    ("1 -1\n", "invalid cluster_id"),
    ("1 18446744073709551616\n", "invalid cluster_id"),
    ("1 1.5\n", "invalid cluster_id"),
    ("1 +\n", "invalid cluster_id"),
    ("x y\n", "invalid cluster_id"),
    ("-1 1\n", "invalid digit found in string"),
    ("+ 1\n", "invalid digit found in string"),
    ("1a 1\n", "invalid digit found in string"),
    ("1\x00 1\n", "invalid digit found in string"),
    ("18446744073709551616 1\n", "number too large to fit in target type"),
    ("99 1\n98 1\n", UNRESOLVED.format(98, 1)),
    ("99 2\n99 2\n", UNRESOLVED.format(99, 2)),
    ("1 7\n+0099 007\n2 7\n098 7\n", UNRESOLVED.format("098", 7)),
    ("1 5\n2 5\n99 0005\n3 5\n00042 5\n", UNRESOLVED.format("00042", 5)),
])
def test_every_documented_error(files, graph, content, message):
    assert loader_error(quelmar.Clustering, graph, files.text(content, "c.txt")) == message


@pytest.mark.parametrize("content, clusters", [
    ("", []),
    ("1 1\n", []),
    ("1 1\n1 1\n", []),
    ("1 1\n99 1\n2 1\n", [1]),
    ("99 1\n1 2\n2 2\n", [2]),
    ("+0001 3 trailing words\r\n2\u00a03\u30009\n", [3]),
    ("18446744073709551615 4\n1 4\n", [4]),
])
def test_tolerated_quirks(files, graph, content, clusters):
    keys, _ = clusters_of(graph, files.text(content, "c.txt"))
    assert keys == clusters


class TestFiles:
    def test_missing_file(self, files, graph):
        assert loader_error(quelmar.Clustering, graph, files.path("absent.txt")) == \
            "No such file or directory (os error 2)"

    def test_directory(self, tmp_path, graph):
        assert loader_error(quelmar.Clustering, graph, str(tmp_path)) == \
            "Is a directory (os error 21)"

    def test_embedded_nul_in_the_path(self, tmp_path, graph):
        with pytest.raises(ValueError):
            quelmar.Clustering(graph, str(tmp_path) + "/c\0.txt")

    def test_unreadable_file(self, files, graph_path):
        path = files.text("1 1\n2 1\n", "c.txt")
        os.chmod(path, 0)
        assert failure_without_permission_override(
            f"quelmar.Clustering(quelmar.Graph({graph_path!r}), {path!r})") == [
            "PanicException", PANIC_PREFIX + "Permission denied (os error 13)"]

    @pytest.mark.parametrize("seed", range(6))
    def test_binary_garbage(self, files, graph, seed):
        data = random.Random(seed).randbytes(32 * 1024)
        assert loader_error(quelmar.Clustering, graph, files.bytes(data, "c.txt")) \
            in CLUSTERING_ERRORS

    def test_a_snapshot_given_as_a_clustering(self, files, graph):
        data = bytes.fromhex("04224d1868400b000000000000000000") + b"\xff" * 64
        assert loader_error(quelmar.Clustering, graph, files.bytes(data, "c.lz4")) \
            == "stream did not contain valid UTF-8"

    @pytest.mark.parametrize("bad", [b"\xff", b"\xc0\xaf", b"\xed\xb0\x80", b"\xe2\x82 "])
    def test_invalid_utf8_in_the_middle_of_a_long_file(self, files, graph, bad):
        good = b"".join(b"%d %d\n" % (1 + i % 6, i // 3) for i in range(400_000))
        data = good + b"1 7 " + bad + b"\n" + good
        assert loader_error(quelmar.Clustering, graph, files.bytes(data, "c.txt")) \
            == "stream did not contain valid UTF-8"


HUGE_LINE_PROGRAM = """
import quelmar
graph = quelmar.Graph({graph!r})
try:
    print(quelmar.Clustering(graph, {path!r}).select(lambda c: True).keys)
except BaseException as error:
    print(error.args[0])
"""


@pytest.fixture(scope="module")
def baseline_kib(tmp_path_factory, graph_path):
    """Peak memory of a fresh interpreter loading a two-line clustering."""
    path = tmp_path_factory.mktemp("tiny") / "tiny.txt"
    path.write_text("1 5\n2 5\n")
    return run_measured(HUGE_LINE_PROGRAM.format(graph=graph_path, path=str(path)))[1]


@pytest.mark.parametrize("make_line, outcome", [
    (lambda: b"1 5 " + b"y" * 100_000_000 + b"\n2 5\n", "[5]"),
    (lambda: b"1" * 100_000_000 + b"\n", "missing cluster_id"),
    (lambda: b"1 " + b"9" * 100_000_000 + b"\n", "invalid cluster_id"),
], ids=["ignored-tail", "one-token", "huge-cluster-id"])
def test_single_line_of_100_mb(files, graph_path, baseline_kib, make_line, outcome):
    path = files.bytes(make_line(), "c.txt")
    output, peak = run_measured(HUGE_LINE_PROGRAM.format(graph=graph_path, path=path))
    assert output.removeprefix(PANIC_PREFIX) == outcome
    assert peak - baseline_kib < 32 * 1024, f"peak {peak} KiB against {baseline_kib} KiB"


def test_failing_loads_from_many_threads(files, graph):
    # The loader runs without the interpreter lock; every failure must take it
    # back before raising, also when several threads fail at once.
    failing = {
        files.text(content, f"bad{i}.txt"): message
        for i, (content, message) in enumerate([
            ("1 1\n\n", "missing node_name"),
            ("99 1\n98 1\n", UNRESOLVED.format(98, 1)),
            ("1 x\n", "invalid cluster_id"),
        ])
    }
    good = files.text("1 1\n2 1\n3 1\n4 2\n5 2\n", "good.txt")
    outcomes = []

    def work():
        for _ in range(30):
            for path, message in failing.items():
                assert loader_error(quelmar.Clustering, graph, path) == message
            outcomes.append(clusters_of(graph, good))

    run_threads([work] * 6, timeout=300)
    assert outcomes == [([1, 2], 5)] * 180


def test_graph_is_still_usable_after_the_failures(files, graph):
    for content in ["\n", "1\n", "x 1\n", "99 1\n98 1\n", "1 1\n\xff\n"] * 50:
        try:
            quelmar.Clustering(graph, files.text(content, "bad.txt"))
        except BaseException as error:  # noqa: B036 - PanicException
            assert type(error).__name__ == "PanicException"
    keys, covered = clusters_of(graph, files.text("1 1\n2 1\n4 2\n5 2\n6 2\n", "ok.txt"), cpm=0.5)
    assert (keys, covered) == ([1, 2], 5)
