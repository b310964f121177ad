"""Writers for the input files the module reads, and a runner for code that
needs a fresh interpreter (the worker pool exists once per process)."""

import os
import struct
import subprocess
import sys
import textwrap

import lz4.frame


def write_lines(path, lines):
    with open(path, "w", encoding="utf-8") as out:
        out.write("".join(f"{line}\n" for line in lines))
    return str(path)


def write_edges(path, edges):
    """An edge list: one "from to" line per pair."""
    return write_lines(path, (f"{a} {b}" for a, b in edges))


def write_memberships(path, memberships):
    """A clustering file: one "node cluster" line per pair."""
    return write_lines(path, (f"{node} {cluster}" for node, cluster in memberships))


def write_clusters(path, clusters):
    """A clustering file from {cluster id: [node names]}."""
    return write_memberships(
        path, [(node, cluster) for cluster, nodes in clusters.items() for node in nodes]
    )


def snapshot_values(edges):
    """The 64-bit values of a snapshot of the graph an edge list loads into:
    names get ids in order of first appearance, neighbour lists ascending."""
    ids = {}
    for a, b in edges:
        for name in (a, b):
            ids.setdefault(name, len(ids))
    neighbours = [set() for _ in ids]
    for a, b in edges:
        neighbours[ids[a]].add(ids[b])
        neighbours[ids[b]].add(ids[a])
    values = [len(ids), len(ids)]
    for name, node in ids.items():
        values += [name, node]
    values.append(len(ids))
    values += list(ids)
    values.append(len(ids))
    for node, adjacent in enumerate(neighbours):
        values += [node, len(adjacent)] + sorted(adjacent)
    values.append(sum(len(adjacent) for adjacent in neighbours) // 2)
    return values


def pack_values(values):
    return struct.pack(f"<{len(values)}Q", *values)


def write_snapshot(path, values, compress=True):
    data = pack_values(values)
    with open(path, "wb") as out:
        out.write(lz4.frame.compress(data) if compress else data)
    return str(path)


def run_python(code, env=None, **kwargs):
    """Runs `code` in a new interpreter; returns the completed process."""
    environment = dict(os.environ)
    environment.pop("RAYON_NUM_THREADS", None)
    environment.pop("RAYON_RS_NUM_CPUS", None)
    environment.update(env or {})
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        env=environment,
        capture_output=True,
        text=True,
        timeout=300,
        **kwargs,
    )
