"""The progress bar appears on a terminal and nowhere else."""

import fcntl
import os
import struct
import subprocess
import sys
import termios
import textwrap

import pytest

SCRIPT = """
    import quelmar
    graph = quelmar.Graph({graph!r})
    clustering = quelmar.Clustering(graph, {clusters!r})
    clustering.select(lambda c: True).compute_statistics()
    print("done", flush=True)
"""


@pytest.fixture
def script(files):
    graph = files.edges([(i, i + 1) for i in range(40)])
    clusters = files.clusters({k: [2 * k, 2 * k + 1, 2 * k + 2] for k in range(7)})
    return textwrap.dedent(SCRIPT.format(graph=graph, clusters=clusters))


def test_bar_is_drawn_on_a_terminal(script):
    primary, secondary = os.openpty()
    fcntl.ioctl(secondary, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    process = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE,
                               stderr=secondary, stdin=subprocess.DEVNULL)
    os.close(secondary)
    drawn = b""
    while True:
        try:
            chunk = os.read(primary, 4096)
        except OSError:  # the terminal closes with the child
            break
        if not chunk:
            break
        drawn += chunk
    os.close(primary)
    out, _ = process.communicate(timeout=120)
    assert process.returncode == 0, drawn.decode(errors="replace")
    assert out.split() == [b"done"]
    text = drawn.decode("utf-8", errors="replace")
    assert "7/7" in text  # the final state stays on the screen
    assert "\u2588" in text


def test_no_bar_when_stderr_is_a_file(script, tmp_path):
    with open(tmp_path / "stderr.txt", "w+") as stderr:
        process = subprocess.run([sys.executable, "-c", script], stdout=subprocess.PIPE,
                                 stderr=stderr, timeout=120)
        stderr.seek(0)
        assert stderr.read() == ""
    assert process.returncode == 0
    assert process.stdout.split() == [b"done"]
