"""Bad input for Graph: whatever the file, the load ends in a clear error (the
loader's message inside a PanicException) or a correct graph, memory stays
bounded, and the process goes on working afterwards."""

import os
import random

import pytest

import quelmar
from test_reliability_support import (PANIC_PREFIX, io_error, loader_error, panic_message,
                                      run_measured, run_python, write_bytes, write_text)

EDGE_LIST_ERRORS = {
    "missing from", "missing to", "invalid digit found in string",
    "number too large to fit in target type", "stream did not contain valid UTF-8",
}
HUNDRED_MB = 100_000_000


def graph_shape(graph, clustering_path):
    """Coverage of the clustering that selects everything: proof that a graph
    loaded and is consistent enough to pack and count."""
    stats = quelmar.Clustering(graph, clustering_path).select(lambda c: True).compute_statistics()
    return stats.num_clusters, stats.covered_nodes, stats.covered_edges, stats.total_nodes, \
        stats.total_edges


@pytest.fixture
def triangle_clustering(tmp_path):
    return write_text(tmp_path, "triangle_clusters.txt", "1 1\n2 1\n3 1\n")


class TestFilesThatAreNotThere:
    def test_missing_file(self, tmp_path):
        assert loader_error(quelmar.Graph, str(tmp_path / "absent.txt")) == \
            "No such file or directory (os error 2)"

    def test_missing_snapshot_fails_on_open_not_in_decoding(self, tmp_path):
        assert loader_error(quelmar.Graph, str(tmp_path / "absent.lz4")) == \
            "No such file or directory (os error 2)"

    def test_directory(self, tmp_path):
        assert loader_error(quelmar.Graph, str(tmp_path)) == "Is a directory (os error 21)"

    def test_directory_named_like_a_snapshot(self, tmp_path):
        folder = tmp_path / "graph.lz4"
        folder.mkdir()
        assert loader_error(quelmar.Graph, str(folder)) == io_error("Is a directory (os error 21)")

    def test_path_inside_a_file(self, tmp_path):
        plain = write_text(tmp_path, "plain.txt", "1 2\n")
        assert loader_error(quelmar.Graph, plain + "/graph.txt") == "Not a directory (os error 20)"

    def test_embedded_nul_in_the_path(self, tmp_path):
        with pytest.raises(ValueError):
            quelmar.Graph(str(tmp_path / "graph.txt") + "\0.lz4")

    @pytest.mark.parametrize("name", ["graph.txt", "graph.lz4"])
    def test_unreadable_file(self, tmp_path, name):
        # Root reads everything, so the check runs in a child that first gives
        # up the capabilities that let it override file permissions.
        path = write_text(tmp_path, name, "1 2\n")
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
            try:
                quelmar.Graph({path!r})
            except BaseException as error:
                print(type(error).__name__)
                print(error.args[0])
        """)
        assert result.returncode == 0, result.stderr
        kind, message = result.stdout.split("\n", 1)
        assert kind == "PanicException"
        assert message.rstrip("\n") == PANIC_PREFIX + "Permission denied (os error 13)"


class TestEmptyAndDegenerateFiles:
    def test_empty_edge_list_is_a_graph_without_nodes(self, tmp_path):
        graph = quelmar.Graph(write_bytes(tmp_path, "empty.txt", b""))
        empty_clustering = write_bytes(tmp_path, "clusters.txt", b"")
        assert graph_shape(graph, empty_clustering) == (0, 0, 0, 0, 0)

    def test_empty_snapshot_file(self, tmp_path):
        assert loader_error(quelmar.Graph, write_bytes(tmp_path, "empty.lz4", b"")) == \
            io_error("failed to fill whole buffer")

    def test_dev_null(self, tmp_path):
        graph = quelmar.Graph(os.devnull)
        assert graph_shape(graph, write_bytes(tmp_path, "c.txt", b"")) == (0, 0, 0, 0, 0)

    @pytest.mark.parametrize("content, message", [
        (b"\n", "missing from"),
        (b" \t \r\n", "missing from"),
        (b"1 2\n\n", "missing from"),
        (b"1 2\n\n3 4\n", "missing from"),
        (b"1\n", "missing to"),
        (b"1,2\n", "missing to"),
        (b"# a comment\n1 2\n", "invalid digit found in string"),
        (b"1 2\x00\n", "invalid digit found in string"),
        (b"-1 2\n", "invalid digit found in string"),
        (b"+ 2\n", "invalid digit found in string"),
        (b"1 18446744073709551616\n", "number too large to fit in target type"),
        ("1\u00a02\n٣ 4\n".encode(), "invalid digit found in string"),
    ])
    def test_malformed_lines(self, tmp_path, content, message):
        assert loader_error(quelmar.Graph, write_bytes(tmp_path, "g.txt", content)) == message

    def test_odd_but_valid_lines_load(self, tmp_path, triangle_clustering):
        content = "\t1\u30002  extra 3.5 foo\r\n+0002 3\n3\u00a01\u2028\n1 2".encode()
        graph = quelmar.Graph(write_bytes(tmp_path, "odd.txt", content))
        assert graph_shape(graph, triangle_clustering) == (1, 3, 3, 3, 3)


class TestGarbage:
    @pytest.mark.parametrize("seed", range(8))
    def test_random_bytes_as_an_edge_list(self, tmp_path, seed):
        data = random.Random(seed).randbytes(64 * 1024)
        assert loader_error(quelmar.Graph, write_bytes(tmp_path, "g.txt", data)) in \
            EDGE_LIST_ERRORS

    @pytest.mark.parametrize("seed", range(8))
    def test_random_bytes_as_a_snapshot(self, tmp_path, seed):
        data = random.Random(seed).randbytes(64 * 1024)
        report = loader_error(quelmar.Graph, write_bytes(tmp_path, "g.lz4", data))
        assert report == io_error("LZ4 error: ERROR_frameType_unknown")

    def test_random_digits_and_blanks(self, tmp_path):
        # Text the tokenizer takes apart: digits, blanks and line ends only, so
        # the load fails on a number or a token count, never on the bytes.
        rng = random.Random(7)
        data = "".join(rng.choice("0123456789  \t\n+") for _ in range(200_000)).encode()
        assert loader_error(quelmar.Graph, write_bytes(tmp_path, "g.txt", data)) in \
            EDGE_LIST_ERRORS

    def test_snapshot_extension_on_a_text_file(self, tmp_path):
        report = loader_error(quelmar.Graph, write_text(tmp_path, "graph.lz4", "1 2\n2 3\n"))
        assert report == io_error("LZ4 error: ERROR_frameType_unknown")


class TestInvalidUtf8:
    def long_file(self, before, bad_line, after=1000):
        lines = [f"{i} {i + 1}\n".encode() for i in range(before)]
        lines.append(bad_line)
        lines += [f"{i} {i + 2}\n".encode() for i in range(after)]
        return b"".join(lines)

    @pytest.mark.parametrize("bad", [
        b"\xff", b"\xc0\x80", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xe2\x82", b"\x80",
    ], ids=["ff", "overlong", "surrogate", "above-max", "truncated", "lone-continuation"])
    def test_in_the_middle_of_a_long_file(self, tmp_path, bad):
        data = self.long_file(300_000, b"5 6 " + bad + b"\n")
        assert loader_error(quelmar.Graph, write_bytes(tmp_path, "g.txt", data)) == \
            "stream did not contain valid UTF-8"

    def test_in_an_ignored_token(self, tmp_path):
        data = self.long_file(1000, b"5 6 comment\xfe\n")
        assert loader_error(quelmar.Graph, write_bytes(tmp_path, "g.txt", data)) == \
            "stream did not contain valid UTF-8"

    def test_truncated_at_the_end_of_the_file(self, tmp_path):
        data = self.long_file(1000, b"", after=0) + b"7 8 \xe3\x80"
        assert loader_error(quelmar.Graph, write_bytes(tmp_path, "g.txt", data)) == \
            "stream did not contain valid UTF-8"

    @pytest.mark.parametrize("shift", range(-4, 5))
    def test_at_the_reader_buffer_boundaries(self, tmp_path, shift):
        # A bad byte and a good multi-byte separator at each offset around
        # 8 KiB multiples, where the reader refills its buffer.
        for boundary in (8192, 65536):
            prefix = b"1 2\n" * (boundary // 4 - 1)
            padding = b"3" * (5 + shift)
            good = prefix + padding + "\u3000".encode() + b"4\n"
            graph = quelmar.Graph(write_bytes(tmp_path, "good.txt", good))
            assert graph is not None
            bad = prefix + padding + b" \xe3\x80 4\n"
            assert loader_error(quelmar.Graph, write_bytes(tmp_path, "bad.txt", bad)) == \
                "stream did not contain valid UTF-8"


@pytest.fixture(scope="module")
def baseline_kib(tmp_path_factory):
    """Peak memory of a fresh interpreter loading a one-line graph."""
    path = write_text(tmp_path_factory.mktemp("tiny"), "tiny.txt", "1 2\n")
    return run_measured(f"import quelmar\nquelmar.Graph({path!r})")[1]


class TestHugeLines:
    """One line of 100 MB. The reader keeps only the tokens it needs, so the
    peak memory of the load stays near that of loading a tiny file."""

    @pytest.mark.parametrize("make_line, outcome", [
        (lambda: b"1 2 " + b"x" * HUNDRED_MB + b"\n", "loads"),
        (lambda: b" " * HUNDRED_MB + b"1 2\n", "loads"),
        (lambda: b"7" * HUNDRED_MB + b"\n", "missing to"),
        (lambda: b"7" * HUNDRED_MB + b" 5\n", "number too large to fit in target type"),
        (lambda: b"1 " + b"\xc3\xa9" * (HUNDRED_MB // 2) + b"\n", "invalid digit found in string"),
    ], ids=["ignored-tail", "leading-blanks", "one-token", "huge-number", "two-byte-chars"])
    def test_single_line_of_100_mb(self, tmp_path, baseline_kib, make_line, outcome):
        path = write_bytes(tmp_path, "long.txt", make_line())
        output, peak = run_measured(f"""
            import quelmar
            try:
                quelmar.Graph({path!r})
                print("loads")
            except BaseException as error:
                print(error.args[0][{len(PANIC_PREFIX)}:])
        """)
        assert output == outcome
        assert peak - baseline_kib < 32 * 1024, f"peak {peak} KiB against {baseline_kib} KiB"


def test_process_still_healthy_after_every_failure(tmp_path, triangle_clustering):
    failures = 0
    for name, data in [("a.txt", b"\xff"), ("b.lz4", b"junk"), ("c.txt", b"1\n")] * 200:
        try:
            quelmar.Graph(write_bytes(tmp_path, name, data))
        except BaseException as error:  # noqa: B036 - PanicException is a BaseException
            assert type(error).__name__ == "PanicException"
            failures += 1
    assert failures == 600
    graph = quelmar.Graph(write_text(tmp_path, "ok.txt", "1 2\n2 3\n3 1\n3 4\n"))
    assert graph_shape(graph, triangle_clustering) == (1, 3, 3, 4, 4)
    assert panic_message(quelmar.Graph, str(tmp_path / "gone.txt")).endswith("(os error 2)")
