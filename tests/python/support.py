"""Helpers shared by the Python tests (no tests here): input files, failure
messages, statistics in comparable form, fresh interpreters, memory readings,
threads, named pipes and terminals. Test files at any depth below this folder
import them by name (`from support import ...`); conftest.py turns the file
writers and pipes into the `files` and `pipe` fixtures."""

import ctypes
import fcntl
import os
import struct
import subprocess
import sys
import termios
import textwrap
import threading
import time

import lz4.frame
import pytest

import quelmar

PANIC_PREFIX = "called `Result::unwrap()` on an `Err` value: "

# Set when the module runs under AddressSanitizer (scripts/sanitize.sh
# python): its allocator is not the C library's, and its shadow memory rules
# out a cap on the address space.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


# Input files.

def pack_values(values):
    """Unsigned 64-bit little-endian integers, the content of a snapshot."""
    values = tuple(values)
    return struct.pack(f"<{len(values)}Q", *values)


def frame(values, **options):
    """A snapshot file's bytes: the values packed into one LZ4 frame."""
    return lz4.frame.compress(pack_values(values), **options)


def snapshot_values(edges, isolated=()):
    """The snapshot content of the graph an edge list (plus isolated names)
    loads into: ids in order of first appearance, ascending neighbours."""
    ids = {}
    for name in [name for edge in edges for name in edge] + list(isolated):
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
    return values


class Files:
    """Writes input files into one folder by name; every writer returns the
    path as a str, which is what the module takes."""

    def __init__(self, folder):
        self.folder = folder

    def path(self, name):
        return str(self.folder / name)

    def bytes(self, data, name):
        (self.folder / name).write_bytes(data)
        return self.path(name)

    def text(self, text, name):
        return self.bytes(text.encode("utf-8"), name)

    def lines(self, lines, name):
        return self.text("".join(f"{line}\n" for line in lines), name)

    def edges(self, edges, name="graph.txt"):
        """An edge list: one "from to" line per pair."""
        return self.lines((f"{a} {b}" for a, b in edges), name)

    def memberships(self, memberships, name="clusters.txt"):
        """A clustering file: one "node cluster" line per pair."""
        return self.lines((f"{node} {cluster}" for node, cluster in memberships), name)

    def clusters(self, clusters, name="clusters.txt"):
        """A clustering file from {cluster id: [node names]}."""
        return self.memberships(
            [(node, cluster) for cluster, nodes in clusters.items() for node in nodes], name)

    def snapshot(self, values, name="graph.lz4", compress=True):
        return self.bytes(frame(values) if compress else pack_values(values), name)


# Failures.

def panic_message(call, *args, **kwargs):
    """The message of the PanicException that call(*args) raises."""
    with pytest.raises(BaseException) as raised:  # noqa: B017 - PanicException is a BaseException
        call(*args, **kwargs)
    assert type(raised.value).__name__ == "PanicException", repr(raised.value)
    assert len(raised.value.args) == 1
    return raised.value.args[0]


def loader_error(call, *args, **kwargs):
    """The loader's error report inside a PanicException's message."""
    message = panic_message(call, *args, **kwargs)
    assert message.startswith(PANIC_PREFIX), message
    return message[len(PANIC_PREFIX):]


def io_error(cause):
    """The report of a failure while reading a snapshot's frame."""
    return f"io error: {cause}\n\nCaused by:\n    {cause}"


# Results in comparable form.

def shape(graph, clusters_path):
    """The counts of the clustering that selects everything: proof that a
    graph loaded and is consistent enough to pack and count."""
    stats = quelmar.Clustering(graph, clusters_path).select(lambda c: True).compute_statistics()
    return (stats.num_clusters, stats.covered_nodes, stats.covered_edges, stats.total_nodes,
            stats.total_edges)


def fingerprint(stats):
    """Everything a ClusteringStats holds, as lists (JSON keeps them as they are)."""
    return [stats.num_clusters, stats.covered_nodes, stats.covered_edges, stats.total_nodes,
            stats.total_edges, sorted([k, v.percentiles] for k, v in stats.distributions.items())]


def skeleton_counts(clustering):
    """(n, m, c, mcd, vol) of every cluster, in the order select visits them."""
    seen = []
    clustering.select(lambda c: seen.append((c.n, c.m, c.c, c.mcd, c.vol)) or False)
    return seen


# Fresh interpreters.

def run_python(code, env=None, timeout=300):
    """Runs `code` in a fresh interpreter (the worker pool and peak memory
    exist once per process) and returns the completed process. The pool size
    settings of the test run are not passed on."""
    environment = dict(os.environ)
    environment.pop("RAYON_NUM_THREADS", None)
    environment.pop("RAYON_RS_NUM_CPUS", None)
    environment.update(env or {})
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=environment,
                          capture_output=True, text=True, timeout=timeout)


PEAK_RSS = """
def _peak_rss_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
"""


def run_measured(code, env=None):
    """Runs `code` in a fresh interpreter; returns what it printed and its
    peak resident memory in KiB."""
    result = run_python(PEAK_RSS + textwrap.dedent(code) + "\nprint(_peak_rss_kib())\n", env)
    assert result.returncode == 0, result.stderr
    output, _, peak = result.stdout.rstrip("\n").rpartition("\n")
    return output, int(peak)


# Root reads everything, so a child that must meet file permissions first
# gives up the capabilities that let it override them.
DROP_PERMISSION_OVERRIDE = """
import ctypes
libc = ctypes.CDLL(None, use_errno=True)
header = (ctypes.c_uint32 * 2)(0x20080522, 0)
caps = (ctypes.c_uint32 * 6)()
assert libc.syscall(125, header, caps) == 0  # capget
for word in (0, 1):  # effective, permitted: drop DAC_OVERRIDE, DAC_READ_SEARCH
    caps[word] &= ~0b110
assert libc.syscall(126, header, caps) == 0  # capset
"""


def failure_without_permission_override(code):
    """Runs `code` bound by file permissions; returns the type name and
    first argument of what it raised."""
    body = textwrap.indent(textwrap.dedent(code).strip("\n"), "    ")
    result = run_python(DROP_PERMISSION_OVERRIDE + "import quelmar\ntry:\n" + body +
                        "\nexcept BaseException as error:\n"
                        "    print(type(error).__name__)\n    print(error.args[0])\n")
    assert result.returncode == 0, result.stderr
    return result.stdout.split("\n")[:2]


# Memory and threads.

class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]


_libc = ctypes.CDLL(None)
_mallinfo2 = getattr(_libc, "mallinfo2", None)
if _mallinfo2 is not None:
    _mallinfo2.restype = _MallInfo2


def native_heap_bytes():
    """Bytes the C allocator has handed out and not got back (all arenas,
    large mapped blocks included); None where the C library cannot tell."""
    if _mallinfo2 is None or UNDER_ASAN:
        return None
    info = _mallinfo2()
    return info.uordblks + info.hblkhd


def run_threads(targets, timeout=600):
    """Runs each target on a thread of its own and waits for all of them.
    Targets report problems through their own lists: an exception escaping
    a target fails the test here."""
    problems = []

    def guarded(target):
        try:
            target()
        except BaseException as error:  # noqa: B036 - reported below
            problems.append(repr(error))

    threads = [threading.Thread(target=guarded, args=(target,)) for target in targets]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=timeout)
    assert not any(thread.is_alive() for thread in threads), "a thread hangs"
    assert problems == []


# Named pipes and terminals.

def feed(path, start, chunk, stop):
    """Writes `start` into the pipe at `path`, then `chunk` over and over (or
    nothing more when it is empty), until the reader goes away or `stop`."""
    try:
        with open(path, "wb", buffering=0) as pipe:
            pipe.write(start)
            while not stop.is_set():
                if chunk:
                    pipe.write(chunk)
                time.sleep(0.005)
    except OSError:  # the reader closed the pipe
        pass


def run_on_terminal(argv, columns=80):
    """Runs argv with stderr on a pseudo-terminal; returns the exit status,
    stdout, and what was drawn on the terminal, both as text."""
    primary, secondary = os.openpty()
    fcntl.ioctl(secondary, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
    process = subprocess.Popen(list(map(str, argv)), stdout=subprocess.PIPE, stderr=secondary,
                               stdin=subprocess.DEVNULL)
    os.close(secondary)
    drawn = b""
    while True:
        try:
            piece = os.read(primary, 65536)
        except OSError:  # the terminal closes with the child
            break
        if not piece:
            break
        drawn += piece
    os.close(primary)
    out, _ = process.communicate(timeout=120)
    return process.returncode, out.decode(), drawn.decode("utf-8", errors="replace")
