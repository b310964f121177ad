"""Graph(filepath) on edge lists: arguments, what loads, and bad input.
Whatever the file, the load ends in a correct graph or the loader's message
inside a PanicException; memory stays bounded and the process goes on
working afterwards."""

import os
import random

import pytest

import quelmar
from support import (PANIC_PREFIX, failure_without_permission_override, loader_error,
                     panic_message, run_measured, shape)

EDGE_LIST_ERRORS = {
    "missing from", "missing to", "invalid digit found in string",
    "number too large to fit in target type", "stream did not contain valid UTF-8",
}
HUNDRED_MB = 100_000_000


@pytest.fixture
def triangle_clustering(files):
    return files.memberships([(1, 1), (2, 1), (3, 1)], "triangle_clusters.txt")


class TestArguments:
    def test_by_position_and_keyword(self, files):
        path = files.edges([(1, 2), (2, 3), (3, 1), (3, 4)])
        empty = files.memberships([])
        assert shape(quelmar.Graph(path), empty) == (0, 0, 0, 4, 4)
        assert shape(quelmar.Graph(filepath=path), empty) == (0, 0, 0, 4, 4)

    @pytest.mark.parametrize("value", [1, b"graph.txt", None, ["graph.txt"]])
    def test_filepath_must_be_str(self, value):
        with pytest.raises(TypeError, match="^argument 'filepath': "):
            quelmar.Graph(value)

    def test_path_objects_are_refused(self, tmp_path):
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


class TestWhatLoads:
    def test_repeated_and_reversed_edges_count_once(self, files):
        graph = quelmar.Graph(files.edges([(1, 2), (2, 1), (1, 2)]))
        assert shape(graph, files.memberships([])) == (0, 0, 0, 2, 1)

    def test_upper_case_extension_is_an_edge_list(self, files):
        graph = quelmar.Graph(files.lines(["1 2"], "graph.LZ4"))
        assert shape(graph, files.memberships([])) == (0, 0, 0, 2, 1)

    @pytest.mark.parametrize("name", ["empty.txt", os.devnull])
    def test_empty_file_is_a_graph_without_nodes(self, files, name):
        path = name if name == os.devnull else files.bytes(b"", name)
        assert shape(quelmar.Graph(path), files.memberships([])) == (0, 0, 0, 0, 0)

    def test_odd_but_valid_lines(self, files, triangle_clustering):
        content = "\t1\u30002  extra 3.5 foo\r\n+0002 3\n3\u00a01\u2028\n1 2".encode()
        graph = quelmar.Graph(files.bytes(content, "odd.txt"))
        assert shape(graph, triangle_clustering) == (1, 3, 3, 3, 3)


class TestFilesThatAreNotThere:
    @pytest.mark.parametrize("name", ["absent.txt", "absent.lz4"])
    def test_missing_file(self, files, name):
        # A snapshot fails on opening, not in decoding.
        assert loader_error(quelmar.Graph, files.path(name)) == \
            "No such file or directory (os error 2)"

    def test_directory(self, tmp_path):
        assert loader_error(quelmar.Graph, str(tmp_path)) == "Is a directory (os error 21)"

    def test_path_inside_a_file(self, files):
        plain = files.text("1 2\n", "plain.txt")
        assert loader_error(quelmar.Graph, plain + "/graph.txt") == "Not a directory (os error 20)"

    @pytest.mark.parametrize("name", ["graph.txt", "graph.lz4"])
    def test_unreadable_file(self, files, name):
        path = files.text("1 2\n", name)
        os.chmod(path, 0)
        assert failure_without_permission_override(f"quelmar.Graph({path!r})") == [
            "PanicException", PANIC_PREFIX + "Permission denied (os error 13)"]


class TestMalformedLines:
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
    def test_malformed_lines(self, files, content, message):
        assert loader_error(quelmar.Graph, files.bytes(content, "g.txt")) == message

    @pytest.mark.parametrize("seed", range(8))
    def test_random_bytes(self, files, seed):
        data = random.Random(seed).randbytes(64 * 1024)
        assert loader_error(quelmar.Graph, files.bytes(data, "g.txt")) in EDGE_LIST_ERRORS

    def test_random_digits_and_blanks(self, files):
        # Text the tokenizer takes apart: digits, blanks and line ends only, so
        # the load fails on a number or a token count, never on the bytes.
        rng = random.Random(7)
        data = "".join(rng.choice("0123456789  \t\n+") for _ in range(200_000)).encode()
        assert loader_error(quelmar.Graph, files.bytes(data, "g.txt")) in EDGE_LIST_ERRORS


def long_file(before, bad_line, after=1000):
    lines = [f"{i} {i + 1}\n".encode() for i in range(before)]
    lines.append(bad_line)
    lines += [f"{i} {i + 2}\n".encode() for i in range(after)]
    return b"".join(lines)


class TestInvalidUtf8:
    @pytest.mark.parametrize("bad", [
        b"\xff", b"\xc0\x80", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xe2\x82", b"\x80",
    ], ids=["ff", "overlong", "surrogate", "above-max", "truncated", "lone-continuation"])
    def test_in_the_middle_of_a_long_file(self, files, bad):
        data = long_file(300_000, b"5 6 " + bad + b"\n")
        assert loader_error(quelmar.Graph, files.bytes(data, "g.txt")) == \
            "stream did not contain valid UTF-8"

    @pytest.mark.parametrize("data", [
        long_file(1000, b"5 6 comment\xfe\n"),
        long_file(1000, b"", after=0) + b"7 8 \xe3\x80",
    ], ids=["ignored-token", "truncated-at-the-end"])
    def test_anywhere_on_a_line(self, files, data):
        assert loader_error(quelmar.Graph, files.bytes(data, "g.txt")) == \
            "stream did not contain valid UTF-8"

    @pytest.mark.parametrize("shift", range(-4, 5))
    def test_at_the_reader_buffer_boundaries(self, files, shift):
        # A bad byte and a good multi-byte separator at each offset around
        # 8 KiB multiples, where the reader refills its buffer.
        for boundary in (8192, 65536):
            prefix = b"1 2\n" * (boundary // 4 - 1)
            padding = b"3" * (5 + shift)
            good = prefix + padding + "\u3000".encode() + b"4\n"
            assert quelmar.Graph(files.bytes(good, "good.txt")) is not None
            bad = prefix + padding + b" \xe3\x80 4\n"
            assert loader_error(quelmar.Graph, files.bytes(bad, "bad.txt")) == \
                "stream did not contain valid UTF-8"


@pytest.fixture(scope="module")
def baseline_kib(tmp_path_factory):
    """Peak memory of a fresh interpreter loading a one-line graph."""
    path = tmp_path_factory.mktemp("tiny") / "tiny.txt"
    path.write_text("1 2\n")
    return run_measured(f"import quelmar\nquelmar.Graph({str(path)!r})")[1]


@pytest.mark.parametrize("make_line, outcome", [
    (lambda: b"1 2 " + b"x" * HUNDRED_MB + b"\n", "loads"),
    (lambda: b" " * HUNDRED_MB + b"1 2\n", "loads"),
    (lambda: b"7" * HUNDRED_MB + b"\n", "missing to"),
    (lambda: b"7" * HUNDRED_MB + b" 5\n", "number too large to fit in target type"),
    (lambda: b"1 " + b"\xc3\xa9" * (HUNDRED_MB // 2) + b"\n", "invalid digit found in string"),
], ids=["ignored-tail", "leading-blanks", "one-token", "huge-number", "two-byte-chars"])
def test_single_line_of_100_mb(files, baseline_kib, make_line, outcome):
    # The reader keeps only the tokens it needs, so the peak memory of the
    # load stays near that of loading a tiny file.
    path = files.bytes(make_line(), "long.txt")
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


def test_process_still_healthy_after_every_failure(files, triangle_clustering):
    failures = 0
    for name, data in [("a.txt", b"\xff"), ("b.lz4", b"junk"), ("c.txt", b"1\n")] * 200:
        try:
            quelmar.Graph(files.bytes(data, name))
        except BaseException as error:  # noqa: B036 - PanicException is a BaseException
            assert type(error).__name__ == "PanicException"
            failures += 1
    assert failures == 600
    graph = quelmar.Graph(files.text("1 2\n2 3\n3 1\n3 4\n", "ok.txt"))
    assert shape(graph, triangle_clustering) == (1, 3, 3, 4, 4)
    assert panic_message(quelmar.Graph, files.path("gone.txt")).endswith("(os error 2)")
