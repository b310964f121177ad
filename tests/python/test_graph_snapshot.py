"""Graph(filepath) on snapshots (paths ending in ".lz4"): a snapshot loads into
the graph of its edge list; damaged frames, content that breaks the graph
invariants, and counts that claim more than the file holds each give a clear
error with bounded memory; a snapshot that does load is a consistent graph."""

import random

import lz4.frame
import pytest

import quelmar
from support import (UNDER_ASAN, fingerprint, frame, io_error, loader_error, pack_values,
                     run_measured, shape, snapshot_values)

INVALID = "invalid snapshot: "

# Names 10, 20 (ids 0, 1) with one edge between them.
SINGLE_EDGE = (2, 2, 10, 0, 20, 1, 2, 10, 20, 2, 0, 1, 1, 1, 1, 0, 1)
RING = tuple(snapshot_values([(i, (i + 1) % 50) for i in range(50)] + [(7, 7), (3, 30)]))

SINGLE_EDGE_CLUSTERS = "10 1\n20 1\n"
RING_CLUSTERS = "0 1\n1 1\n2 1\n7 2\n8 2\n3 3\n30 3\n"


@pytest.fixture
def load(files):
    """Loads a snapshot from its bytes."""
    return lambda data, name="graph.lz4": quelmar.Graph(files.bytes(data, name))


@pytest.fixture
def shape_of(files):
    """The counts of a clustering that selects everything on the graph."""
    return lambda graph, clusters=SINGLE_EDGE_CLUSTERS: shape(
        graph, files.text(clusters, "clusters.txt"))


def test_snapshot_loads_like_its_edge_list(files):
    edges = [(10, 20), (20, 30), (30, 10), (30, 40), (2**64 - 1, 0)]
    clusters = files.clusters({1: [10, 20, 30], 2: [30, 40], 3: [0, 2**64 - 1]})
    results = []
    for graph in (quelmar.Graph(files.edges(edges)),
                  quelmar.Graph(files.snapshot(snapshot_values(edges)))):
        results.append(fingerprint(
            quelmar.Clustering(graph, clusters).select(lambda c: True).compute_statistics()))
    assert results[0] == results[1]
    assert results[0][:5] == [3, 6, 5, 6, 5]


class TestFrames:
    def test_well_formed_snapshot_loads(self, load, shape_of):
        assert shape_of(load(frame(SINGLE_EDGE))) == (1, 2, 1, 2, 1)

    def test_bytes_after_the_frame_are_ignored(self, load, shape_of):
        data = frame(SINGLE_EDGE) + b"\xff" * 100 + frame(RING)
        assert shape_of(load(data)) == (1, 2, 1, 2, 1)

    def test_values_after_the_graph_inside_the_frame_are_ignored(self, load, shape_of):
        assert shape_of(load(frame(SINGLE_EDGE + (9,) * 1000))) == (1, 2, 1, 2, 1)

    @pytest.mark.parametrize("data", [
        pack_values(SINGLE_EDGE), b"1 2\n2 3\n", *(random.Random(seed).randbytes(64 * 1024)
                                                   for seed in range(8))
    ], ids=["uncompressed-values", "edge-list", *(f"random-{seed}" for seed in range(8))])
    def test_what_is_not_a_frame(self, load, data):
        assert loader_error(load, data) == io_error("LZ4 error: ERROR_frameType_unknown")

    def test_empty_file(self, load):
        assert loader_error(load, b"") == io_error("failed to fill whole buffer")

    def test_directory(self, tmp_path):
        folder = tmp_path / "graph.lz4"
        folder.mkdir()
        assert loader_error(quelmar.Graph, str(folder)) == io_error("Is a directory (os error 21)")

    def test_content_checksum_mismatch(self, load):
        data = bytearray(frame(SINGLE_EDGE, content_checksum=True))
        data[-1] ^= 0x01
        assert loader_error(load, bytes(data)) == \
            io_error("LZ4 error: ERROR_contentChecksum_invalid")

    @pytest.mark.parametrize("checksum", [False, True])
    def test_truncated_anywhere(self, load, checksum):
        data = frame(RING, content_checksum=checksum, block_size=lz4.frame.BLOCKSIZE_MAX64KB)
        # Every cut inside the header and the first block's start, then a
        # sample through the rest.
        for length in [*range(48), *range(48, len(data), 5)]:
            report = loader_error(load, data[:length])
            # "failed to fill whole buffer" when the file ends before the
            # frame does; liblz4's own name when the cut leaves a broken block.
            assert report.startswith("io error: "), (length, report)
            cause = report.split("\n    ")[-1]
            assert report == io_error(cause)
            assert cause == "failed to fill whole buffer" or cause.startswith("LZ4 error: ERROR_")

    def test_every_bit_flip_with_a_content_checksum(self, load, shape_of):
        # With a content checksum, damage anywhere in the frame is detected:
        # the load fails or, if the flip left the content intact, gives the
        # same graph.
        data = frame(SINGLE_EDGE, content_checksum=True, block_checksum=True)
        expected = shape_of(load(data))
        for position in range(len(data)):
            for bit in range(8):
                damaged = bytearray(data)
                damaged[position] ^= 1 << bit
                try:
                    graph = load(bytes(damaged))
                except BaseException as error:  # noqa: B036 - PanicException
                    assert type(error).__name__ == "PanicException"
                    continue
                assert shape_of(graph) == expected, (position, bit)

    def test_bit_flips_without_checksums(self, load, shape_of):
        # Without checksums a flip may change the content; what loads must
        # still be a consistent graph.
        data = frame(RING)
        rng = random.Random(3)
        for _ in range(400):
            damaged = bytearray(data)
            damaged[rng.randrange(len(data))] ^= 1 << rng.randrange(8)
            try:
                graph = load(bytes(damaged))
            except BaseException as error:  # noqa: B036 - PanicException
                assert type(error).__name__ == "PanicException"
                report = error.args[0]
                assert "io error: " in report or INVALID in report, report
                continue
            try:
                covered = shape_of(graph, RING_CLUSTERS)
            except BaseException as error:  # noqa: B036 - PanicException
                # The flip renamed nodes the clustering file names.
                assert "not found in graph" in error.args[0], error.args[0]
                continue
            assert covered[2] <= covered[4]


class TestContent:
    @pytest.mark.parametrize("values, message", [
        (SINGLE_EDGE[:-1], None),
        (SINGLE_EDGE[:5], None),
        ((), None),
        ((2 ** 32 + 1, 2 ** 32 + 1), "more than 4294967296 nodes (node ids are 32-bit)"),
        ((2, 1, 10, 0, *SINGLE_EDGE[6:]), "name_to_id holds fewer entries than next_id"),
        ((2, 3, 10, 0, 20, 1, 30, 2, *SINGLE_EDGE[6:]), "name_to_id holds an id not below next_id"),
        ((2, 2, 10, 0, 20, 7, *SINGLE_EDGE[6:]), "name_to_id holds an id not below next_id"),
        ((2, 2, 10, 0, 10, 1, *SINGLE_EDGE[6:]), None),
        ((2, 2, 10, 0, 20, 1, 2, 10, 21, *SINGLE_EDGE[9:]), None),
        ((*SINGLE_EDGE[:6], 3, 10, 20, 0, *SINGLE_EDGE[9:]),
         "id_to_name count differs from next_id"),
        ((*SINGLE_EDGE[:9], 3, *SINGLE_EDGE[10:]), "node count differs from next_id"),
        ((*SINGLE_EDGE[:10], 1, 1, 1, 1, 1, 0, 1), "node record i does not hold id i"),
        ((*SINGLE_EDGE[:10], 0, 3, 1, 1, 1, 1, 0, 1),
         "a node has more neighbours than there are nodes"),
        ((*SINGLE_EDGE[:10], 0, 1, 5, 1, 1, 0, 1), "a neighbour id is not below the node count"),
        ((*SINGLE_EDGE[:10], 0, 2, 1, 1, 1, 1, 0, 1), "a neighbour list is not strictly ascending"),
        ((*SINGLE_EDGE[:10], 0, 1, 1, 1, 0, 0), "neighbour lists are not symmetric"),
        ((*SINGLE_EDGE[:-1], 2), "m_cache is not half the number of neighbour entries"),
    ], ids=["no-m_cache", "no-nodes", "empty-content", "too-many-nodes", "map-count", "map-extra",
            "map-id-out-of-range", "name-twice", "names-disagree", "name-count", "node-count",
            "record-id", "degree-above-n", "neighbour-out-of-range", "neighbours-unsorted",
            "asymmetric", "m_cache"])
    def test_broken_content(self, load, values, message):
        report = loader_error(load, frame(values))
        if message is None:
            # Either the content ends early or its pieces disagree; the exact
            # invariant named is the reader's business.
            assert report == io_error("failed to fill whole buffer") or \
                report.startswith(INVALID), report
        else:
            assert report == INVALID + message

    def test_a_repeated_map_name_takes_its_last_id(self, load, shape_of):
        values = (2, 4, 10, 1, 20, 0, 10, 0, 20, 1, *SINGLE_EDGE[6:])
        assert shape_of(load(frame(values))) == (1, 2, 1, 2, 1)

    def test_isolated_nodes_load(self, load, shape_of):
        # Nodes without neighbours cannot come from an edge list but are a
        # consistent graph; packing a cluster holding one works.
        graph = load(frame(snapshot_values([(1, 2), (2, 3)], isolated=[10, 20])))
        assert shape_of(graph, "1 1\n2 1\n3 1\n10 2\n20 2\n2 3\n10 3\n") == (3, 5, 2, 5, 2)

    def test_empty_graph(self, load, shape_of):
        assert shape_of(load(frame((0, 0, 0, 0, 0))), "") == (0, 0, 0, 0, 0)


@pytest.fixture(scope="module")
def baseline_kib(tmp_path_factory):
    path = tmp_path_factory.mktemp("tiny") / "tiny.lz4"
    path.write_bytes(frame(SINGLE_EDGE))
    return run_measured(f"import quelmar\nquelmar.Graph({str(path)!r})")[1]


CLAIMS = {
    # 2^32 names claimed, a thousand pairs present.
    "map": (2 ** 32, 2 ** 32, *range(2000)),
    # 2^32 names claimed and their pairs cut short inside a big frame.
    "map-long": (2 ** 32, 2 ** 32, *range(2 * 300_000)),
    "degree": (*SINGLE_EDGE[:10], 0, 2 ** 62, 1),
    "degree-max": (*SINGLE_EDGE[:10], 0, 2 ** 64 - 1),
    "next_id-max": (2 ** 64 - 1, 2 ** 64 - 1),
    "names": (2, 2, 10, 0, 20, 1, 2 ** 64 - 1, 10, 20),
    "nodes": (*SINGLE_EDGE[:9], 2 ** 63, 0, 1, 1),
}


@pytest.mark.parametrize("claim", CLAIMS)
def test_claimed_counts(files, baseline_kib, claim):
    # Counts that promise far more than the file holds end in a read failure
    # without reserving memory for the promise. The child also caps its
    # address space at 2 GiB, so that even an untouched reservation would
    # fail loudly.
    path = files.bytes(frame(CLAIMS[claim]), "claim.lz4")
    output, peak = run_measured(f"""
        import resource
        if not {UNDER_ASAN}:
            resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))
        import quelmar
        try:
            quelmar.Graph({path!r})
            print("loaded")
        except BaseException as error:
            print(type(error).__name__, repr(error.args[0]))
    """)
    kind, _, message = output.partition(" ")
    assert kind == "PanicException", output
    assert "failed to fill whole buffer" in message or INVALID in message, message
    assert peak - baseline_kib < 64 * 1024, f"peak {peak} KiB against {baseline_kib} KiB"
