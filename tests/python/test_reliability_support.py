"""Helpers shared by the bad-input and reliability tests (no tests here):
failure messages, file writers, fresh interpreters and memory readings."""

import ctypes
import os
import struct
import subprocess
import sys
import textwrap

import pytest

PANIC_PREFIX = "called `Result::unwrap()` on an `Err` value: "

# Set when the module runs under AddressSanitizer (scripts/sanitize.sh
# python): its allocator is not the C library's, and its shadow memory rules
# out a cap on the address space.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


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


def with_cause(message, cause):
    """A report whose error has one underlying cause."""
    return f"{message}\n\nCaused by:\n    {cause}"


def io_error(cause):
    """The report of a failure while reading a snapshot's frame."""
    return with_cause(f"io error: {cause}", cause)


def write_bytes(folder, name, data):
    path = folder / name
    path.write_bytes(data)
    return str(path)


def write_text(folder, name, text):
    return write_bytes(folder, name, text.encode("utf-8"))


def pack_values(*values):
    return struct.pack(f"<{len(values)}Q", *values)


def run_python(code, env=None, timeout=300):
    """Runs `code` in a fresh interpreter (the worker pool and peak memory
    exist once per process) and returns the completed process."""
    environment = dict(os.environ)
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
