"""Bad input for snapshots (paths ending in ".lz4"): damaged frames, content
that breaks the graph invariants, and counts that claim more than the file
holds. Each gives a clear error, memory stays bounded, and a snapshot that
does load is a consistent graph."""

import random

import lz4.frame
import pytest

import quelmar
from test_reliability_support import (UNDER_ASAN, io_error, loader_error, pack_values,
                                      run_measured, write_bytes, write_text)

INVALID = "invalid snapshot: "

# Names 10, 20 (ids 0, 1) with one edge between them.
SINGLE_EDGE = (2, 2, 10, 0, 20, 1, 2, 10, 20, 2, 0, 1, 1, 1, 1, 0, 1)


def graph_values(edges, isolated=()):
    """The snapshot content of the graph an edge list (plus isolated names)
    loads into: ids in order of first appearance, ascending neighbours."""
    ids = {}
    for a, b in edges:
        ids.setdefault(a, len(ids))
        ids.setdefault(b, len(ids))
    for name in isolated:
        ids.setdefault(name, len(ids))
    adjacent = [set() for _ in ids]
    for a, b in edges:
        adjacent[ids[a]].add(ids[b])
        adjacent[ids[b]].add(ids[a])
    values = [len(ids), len(ids)]
    for name, node in ids.items():
        values += [name, node]
    values += [len(ids), *ids, len(ids)]
    for node, neighbours in enumerate(adjacent):
        values += [node, len(neighbours), *sorted(neighbours)]
    values.append(sum(map(len, adjacent)) // 2)
    return tuple(values)


RING = graph_values([(i, (i + 1) % 50) for i in range(50)] + [(7, 7), (3, 30)])


def frame(values, **options):
    return lz4.frame.compress(pack_values(*values), **options)


SINGLE_EDGE_CLUSTERS = "10 1\n20 1\n"
RING_CLUSTERS = "0 1\n1 1\n2 1\n7 2\n8 2\n3 3\n30 3\n"


def shape(graph, folder, clusters=SINGLE_EDGE_CLUSTERS):
    """Coverage of a clustering that selects everything on the graph."""
    clustering = quelmar.Clustering(graph, write_text(folder, "clusters.txt", clusters))
    stats = clustering.select(lambda c: True).compute_statistics()
    return stats.num_clusters, stats.covered_nodes, stats.covered_edges, stats.total_nodes, \
        stats.total_edges


def load(folder, data, name="graph.lz4"):
    return quelmar.Graph(write_bytes(folder, name, data))


class TestFrames:
    def test_well_formed_snapshot_loads(self, tmp_path):
        assert shape(load(tmp_path, frame(SINGLE_EDGE)), tmp_path) == (1, 2, 1, 2, 1)

    def test_bytes_after_the_frame_are_ignored(self, tmp_path):
        data = frame(SINGLE_EDGE) + b"\xff" * 100 + frame(RING)
        assert shape(load(tmp_path, data), tmp_path) == (1, 2, 1, 2, 1)

    def test_values_after_the_graph_inside_the_frame_are_ignored(self, tmp_path):
        assert shape(load(tmp_path, frame(SINGLE_EDGE + (9,) * 1000)), tmp_path) == \
            (1, 2, 1, 2, 1)

    def test_uncompressed_values_are_not_a_frame(self, tmp_path):
        assert loader_error(load, tmp_path, pack_values(*SINGLE_EDGE)) == \
            io_error("LZ4 error: ERROR_frameType_unknown")

    def test_content_checksum_mismatch(self, tmp_path):
        data = bytearray(frame(SINGLE_EDGE, content_checksum=True))
        data[-1] ^= 0x01
        assert loader_error(load, tmp_path, bytes(data)) == \
            io_error("LZ4 error: ERROR_contentChecksum_invalid")

    @pytest.mark.parametrize("checksum", [False, True])
    def test_truncated_anywhere(self, tmp_path, checksum):
        data = frame(RING, content_checksum=checksum, block_size=lz4.frame.BLOCKSIZE_MAX64KB)
        # Every cut inside the header and the first block's start, then a
        # sample through the rest.
        for length in [*range(48), *range(48, len(data), 5)]:
            report = loader_error(load, tmp_path, data[:length])
            # "failed to fill whole buffer" when the file ends before the
            # frame does; liblz4's own name when the cut leaves a broken block.
            assert report.startswith("io error: "), (length, report)
            cause = report.split("\n    ")[-1]
            assert report == io_error(cause)
            assert cause == "failed to fill whole buffer" or cause.startswith("LZ4 error: ERROR_")

    def test_every_bit_flip_with_a_content_checksum(self, tmp_path):
        # With a content checksum, damage anywhere in the frame is detected:
        # the load fails or, if the flip left the content intact, gives the
        # same graph.
        data = frame(SINGLE_EDGE, content_checksum=True, block_checksum=True)
        expected = shape(load(tmp_path, data), tmp_path)
        for position in range(len(data)):
            for bit in range(8):
                damaged = bytearray(data)
                damaged[position] ^= 1 << bit
                try:
                    graph = load(tmp_path, bytes(damaged))
                except BaseException as error:  # noqa: B036 - PanicException
                    assert type(error).__name__ == "PanicException"
                    continue
                assert shape(graph, tmp_path) == expected, (position, bit)

    def test_bit_flips_without_checksums(self, tmp_path):
        # Without checksums a flip may change the content; what loads must
        # still be a consistent graph.
        data = frame(RING)
        rng = random.Random(3)
        for _ in range(400):
            damaged = bytearray(data)
            damaged[rng.randrange(len(data))] ^= 1 << rng.randrange(8)
            try:
                graph = load(tmp_path, bytes(damaged))
            except BaseException as error:  # noqa: B036 - PanicException
                assert type(error).__name__ == "PanicException"
                report = error.args[0]
                assert "io error: " in report or INVALID in report, report
                continue
            try:
                covered = shape(graph, tmp_path, RING_CLUSTERS)
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
    def test_broken_content(self, tmp_path, values, message):
        report = loader_error(load, tmp_path, frame(values))
        if message is None:
            # Either the content ends early or its pieces disagree; the exact
            # invariant named is the reader's business.
            assert report == io_error("failed to fill whole buffer") or \
                report.startswith(INVALID), report
        else:
            assert report == INVALID + message

    def test_a_repeated_map_name_takes_its_last_id(self, tmp_path):
        values = (2, 4, 10, 1, 20, 0, 10, 0, 20, 1, *SINGLE_EDGE[6:])
        assert shape(load(tmp_path, frame(values)), tmp_path) == (1, 2, 1, 2, 1)

    def test_isolated_nodes_load(self, tmp_path):
        # Nodes without neighbours cannot come from an edge list but are a
        # consistent graph; packing a cluster holding one works.
        graph = load(tmp_path, frame(graph_values([(1, 2), (2, 3)], isolated=[10, 20])))
        assert shape(graph, tmp_path, "1 1\n2 1\n3 1\n10 2\n20 2\n2 3\n10 3\n") == \
            (3, 5, 2, 5, 2)

    def test_empty_graph(self, tmp_path):
        assert shape(load(tmp_path, frame((0, 0, 0, 0, 0))), tmp_path, "") == (0, 0, 0, 0, 0)


@pytest.fixture(scope="module")
def baseline_kib(tmp_path_factory):
    path = write_bytes(tmp_path_factory.mktemp("tiny"), "tiny.lz4", frame(SINGLE_EDGE))
    return run_measured(f"import quelmar\nquelmar.Graph({path!r})")[1]


class TestClaimedCounts:
    """Counts that promise far more than the file holds end in a read failure
    without reserving memory for the promise. The child also caps its address
    space at 2 GiB, so that even an untouched reservation would fail loudly."""

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
    def test_claim(self, tmp_path, baseline_kib, claim):
        path = write_bytes(tmp_path, "claim.lz4", frame(self.CLAIMS[claim]))
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
