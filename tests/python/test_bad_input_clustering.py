"""Bad input for Clustering: every documented loader error reaches Python as
a PanicException with the exact message, raised with the interpreter lock
held again (also from several threads at once), memory stays bounded, and the
graph stays usable afterwards."""

import os
import random
import threading

import pytest

import quelmar
from test_reliability_support import (PANIC_PREFIX, loader_error, run_measured, run_python,
                                      write_bytes, write_text)

CLUSTERING_ERRORS = {
    "missing node_name", "missing cluster_id", "invalid cluster_id",
    "invalid digit found in string", "number too large to fit in target type",
    "stream did not contain valid UTF-8",
}
UNRESOLVED = "node {} requested in cluster {} not found in graph, and is not singleton"


@pytest.fixture(scope="module")
def graph_path(tmp_path_factory):
    # Names 1 to 6 and 2^64 - 1: two triangles joined by one edge.
    text = "1 2\n2 3\n3 1\n4 5\n5 6\n6 4\n3 4\n18446744073709551615 1\n"
    return write_text(tmp_path_factory.mktemp("graph"), "graph.txt", text)


@pytest.fixture(scope="module")
def graph(graph_path):
    return quelmar.Graph(graph_path)


def clusters_of(graph, path, **kwargs):
    subset = quelmar.Clustering(graph, path, **kwargs).select(lambda c: True)
    return subset.keys, subset.compute_statistics().covered_nodes


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
def test_every_documented_error(tmp_path, graph, content, message):
    path = write_text(tmp_path, "clusters.txt", content)
    assert loader_error(quelmar.Clustering, graph, path) == message


@pytest.mark.parametrize("content, clusters", [
    ("", []),
    ("1 1\n", []),
    ("1 1\n1 1\n", []),
    ("1 1\n99 1\n2 1\n", [1]),
    ("99 1\n1 2\n2 2\n", [2]),
    ("+0001 3 trailing words\r\n2\u00a03\u30009\n", [3]),
    ("18446744073709551615 4\n1 4\n", [4]),
])
def test_tolerated_quirks(tmp_path, graph, content, clusters):
    keys, _ = clusters_of(graph, write_text(tmp_path, "clusters.txt", content))
    assert keys == clusters


class TestFiles:
    def test_missing_file(self, tmp_path, graph):
        assert loader_error(quelmar.Clustering, graph, str(tmp_path / "absent.txt")) == \
            "No such file or directory (os error 2)"

    def test_directory(self, tmp_path, graph):
        assert loader_error(quelmar.Clustering, graph, str(tmp_path)) == \
            "Is a directory (os error 21)"

    def test_embedded_nul_in_the_path(self, tmp_path, graph):
        with pytest.raises(ValueError):
            quelmar.Clustering(graph, str(tmp_path) + "/c\0.txt")

    def test_unreadable_file(self, tmp_path, graph_path):
        path = write_text(tmp_path, "clusters.txt", "1 1\n2 1\n")
        os.chmod(path, 0)
        result = run_python(f"""
            import ctypes
            libc = ctypes.CDLL(None, use_errno=True)
            header = (ctypes.c_uint32 * 2)(0x20080522, 0)
            caps = (ctypes.c_uint32 * 6)()
            assert libc.syscall(125, header, caps) == 0  # capget
            for word in (0, 1):  # effective, permitted: drop DAC_OVERRIDE, DAC_READ_SEARCH
                caps[word] &= ~0b110
            assert libc.syscall(126, header, caps) == 0  # capset
            import quelmar
            graph = quelmar.Graph({graph_path!r})
            try:
                quelmar.Clustering(graph, {path!r})
            except BaseException as error:
                print(type(error).__name__)
                print(error.args[0])
        """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.split("\n")[:2] == [
            "PanicException", PANIC_PREFIX + "Permission denied (os error 13)"]

    @pytest.mark.parametrize("seed", range(6))
    def test_binary_garbage(self, tmp_path, graph, seed):
        data = random.Random(seed).randbytes(32 * 1024)
        assert loader_error(quelmar.Clustering, graph, write_bytes(tmp_path, "c.txt", data)) \
            in CLUSTERING_ERRORS

    def test_a_snapshot_given_as_a_clustering(self, tmp_path, graph):
        data = bytes.fromhex("04224d1868400b000000000000000000") + b"\xff" * 64
        assert loader_error(quelmar.Clustering, graph, write_bytes(tmp_path, "c.lz4", data)) \
            == "stream did not contain valid UTF-8"

    @pytest.mark.parametrize("bad", [b"\xff", b"\xc0\xaf", b"\xed\xb0\x80", b"\xe2\x82 "])
    def test_invalid_utf8_in_the_middle_of_a_long_file(self, tmp_path, graph, bad):
        good = b"".join(b"%d %d\n" % (1 + i % 6, i // 3) for i in range(400_000))
        data = good + b"1 7 " + bad + b"\n" + good
        assert loader_error(quelmar.Clustering, graph, write_bytes(tmp_path, "c.txt", data)) \
            == "stream did not contain valid UTF-8"


class TestHugeLines:
    @pytest.mark.parametrize("line, outcome", [
        (b"1 5 " + b"y" * 100_000_000 + b"\n2 5\n", "[5]"),
        (b"1" * 100_000_000 + b"\n", "missing cluster_id"),
        (b"1 " + b"9" * 100_000_000 + b"\n", "invalid cluster_id"),
    ], ids=["ignored-tail", "one-token", "huge-cluster-id"])
    def test_single_line_of_100_mb(self, tmp_path, graph_path, line, outcome):
        path = write_bytes(tmp_path, "c.txt", line)
        program = f"""
            import quelmar
            graph = quelmar.Graph({graph_path!r})
            try:
                print(quelmar.Clustering(graph, PATH).select(lambda c: True).keys)
            except BaseException as error:
                print(error.args[0][{len(PANIC_PREFIX)}:])
        """
        baseline_path = write_bytes(tmp_path, "tiny.txt", b"1 5\n2 5\n")
        _, baseline = run_measured(program.replace("PATH", repr(baseline_path)))
        output, peak = run_measured(program.replace("PATH", repr(path)))
        assert output == outcome
        assert peak - baseline < 32 * 1024, f"peak {peak} KiB against {baseline} KiB"


def test_failing_loads_from_many_threads(tmp_path, graph):
    # The loader runs without the interpreter lock; every failure must take it
    # back before raising, also when several threads fail at once.
    files = {
        write_text(tmp_path, f"bad{i}.txt", content): message
        for i, (content, message) in enumerate([
            ("1 1\n\n", "missing node_name"),
            ("99 1\n98 1\n", UNRESOLVED.format(98, 1)),
            ("1 x\n", "invalid cluster_id"),
        ])
    }
    good = write_text(tmp_path, "good.txt", "1 1\n2 1\n3 1\n4 2\n5 2\n")
    outcomes, problems = [], []

    def work(index):
        try:
            for round_ in range(30):
                for path, message in files.items():
                    try:
                        quelmar.Clustering(graph, path)
                        problems.append(f"{path} loaded")
                    except BaseException as error:  # noqa: B036 - PanicException
                        if error.args[0] != PANIC_PREFIX + message:
                            problems.append(repr(error))
                outcomes.append(clusters_of(graph, good))
        except BaseException as error:  # noqa: B036 - reported below
            problems.append(repr(error))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(6)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=300)
        assert not thread.is_alive(), "a thread hangs"
    assert problems == []
    assert outcomes == [([1, 2], 5)] * 180


def test_graph_is_still_usable_after_the_failures(tmp_path, graph):
    for content in ["\n", "1\n", "x 1\n", "99 1\n98 1\n", "1 1\n\xff\n"] * 50:
        try:
            quelmar.Clustering(graph, write_text(tmp_path, "bad.txt", content))
        except BaseException as error:  # noqa: B036 - PanicException
            assert type(error).__name__ == "PanicException"
    keys, covered = clusters_of(graph, write_text(tmp_path, "ok.txt", "1 1\n2 1\n4 2\n5 2\n6 2\n"),
                                cpm=0.5)
    assert (keys, covered) == ([1, 2], 5)
