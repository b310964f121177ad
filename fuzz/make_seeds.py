"""Writes the hand-made seed inputs of the loader fuzz targets into
fuzz/corpus/<target>/. The percentile target's seeds are fuzzer-found inputs,
kept as they are. Run from anywhere with an interpreter that has the lz4
package (the project's .venv does): .venv/bin/python fuzz/make_seeds.py
"""

import pathlib
import struct

import lz4.frame

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"

EDGE_LISTS = {
    "triangle": b"1 2\n2 3\n3 1\n",
    "blanks_and_crlf": b"\t 7   9  \r\n+3 4\n007 8 extra tokens 3.5 foo\n",
    "unicode_spaces": "1\u00a02\u30003 4\n5\u20026\u2028\n".encode(),
    "loops_and_repeats": b"5 5\n1 2\n2 1\n1 2",
    "extreme_names": b"18446744073709551615 0\n0 18446744073709551615\n",
    "blank_line": b"1 2\n\n3 4\n",
    "one_token": b"1,2\n",
    "minus": b"-1 2\n",
    "too_large": b"18446744073709551616 1\n",
    "bad_utf8": b"1 2\n\xff\xfe 3\n",
    "overlong_utf8": b"1 2 \xc0\x80\n",
    "comment": b"# graph\n1 2\n",
    "many_nodes": b"".join(b"%d %d\n" % (i, i * 7 % 13) for i in range(40)),
}

# Names the clustering target's fixed graph knows: 0 to 7, 42, 77, 100 and
# 18446744073709551615; any other name is unknown to it.
CLUSTERINGS = {
    "two_clusters": b"1 10\n2 10\n3 10\n4 20\n5 20\n6 20\n7 20\n",
    "overlap": b"1 1\n2 1\n1 2\n2 2\n3 2\n",
    "one_unknown": b"1 5\n99 5\n2 5\n",
    "two_unknown": b"99 1\n98 1\n",
    "same_unknown_twice": b"99 2\n99 2\n",
    "header": b"node cluster\n1 1\n",
    "plus_and_extras": b"+7 3 x y\n4 3\n",
    "negative_node": b"-1 3\n",
    "negative_cluster": b"1 -3\n",
    "leading_zeros": b"00018446744073709551615 0003\n42 3\n0 3\n",
    "unknown_written_oddly": b"+0099 0007\n0098 7\n",
    "crlf": b"1 9\r\n2 9\r\n",
    "blank_line": b"1 9\n\n",
    "one_token": b"1\n",
    "singletons": b"1 1\n1 1\n2 2\n",
    "bad_utf8": b"1 1\n2 \xe2\x82\n",
    "self_loop_members": b"5 1\n4 1\n77 2\n100 2\n7 2\n",
}


def values(*numbers):
    return struct.pack(f"<{len(numbers)}Q", *numbers)


# Decompressed snapshot contents.
SINGLE_EDGE = values(2, 2, 10, 0, 20, 1, 2, 10, 20, 2, 0, 1, 1, 1, 1, 0, 1)
EMPTY = values(0, 0, 0, 0, 0)
# Names 7, 8, 9: a triangle 0-1-2 with a self-loop on 2 (degrees 2, 2, 3).
TRIANGLE_LOOP = values(3, 3, 9, 2, 7, 0, 8, 1, 3, 7, 8, 9, 3,
                       0, 2, 1, 2, 1, 2, 0, 2, 2, 3, 0, 1, 2, 3)
ASYMMETRIC = values(2, 2, 10, 0, 20, 1, 2, 10, 20, 2, 0, 1, 1, 1, 0, 0)
OUT_OF_RANGE = values(2, 2, 10, 0, 20, 1, 2, 10, 20, 2, 0, 1, 5, 1, 1, 0, 1)
HUGE_COUNT = values(2, 1 << 60, 10, 0)
TRUNCATED = SINGLE_EDGE[:-8]

# The snapshot target's first byte: low bits 1 (wrap in a frame), 3 (wrap and
# add bytes after the frame) or 0 (the input is the file); 0x04 content
# checksum, 0x08 block checksums, 0x10 stored content size, 0x20 linked
# blocks, 0x40 256 KiB blocks.
SNAPSHOTS = {
    "single_edge": bytes([0x01]) + SINGLE_EDGE,
    "single_edge_checksums": bytes([0x1D]) + SINGLE_EDGE,
    "empty": bytes([0x01]) + EMPTY,
    "triangle_loop_trailing": bytes([0x67]) + TRIANGLE_LOOP,
    "asymmetric": bytes([0x01]) + ASYMMETRIC,
    "out_of_range": bytes([0x05]) + OUT_OF_RANGE,
    "huge_count": bytes([0x01]) + HUGE_COUNT,
    "truncated": bytes([0x01]) + TRUNCATED,
    "raw_frame": bytes([0x00]) + lz4.frame.compress(TRIANGLE_LOOP, content_checksum=True),
    "raw_not_a_frame": bytes([0x00]) + SINGLE_EDGE,
    "raw_two_frames": bytes([0x00]) + lz4.frame.compress(EMPTY) + lz4.frame.compress(SINGLE_EDGE),
}


def write(target, seeds):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in seeds.items():
        (folder / name).write_bytes(data)


if __name__ == "__main__":
    write("edgelist_fuzz", EDGE_LISTS)
    write("clustering_fuzz", CLUSTERINGS)
    write("snapshot_fuzz", SNAPSHOTS)
