"""The progress bar of packing and statistics appears on a terminal and
nowhere else."""

import subprocess
import sys
import textwrap

import pytest

from support import run_on_terminal


@pytest.fixture
def script(files):
    graph = files.edges([(i, i + 1) for i in range(40)])
    clusters = files.clusters({k: [2 * k, 2 * k + 1, 2 * k + 2] for k in range(7)})
    return textwrap.dedent(f"""
        import quelmar
        graph = quelmar.Graph({graph!r})
        clustering = quelmar.Clustering(graph, {clusters!r})
        clustering.select(lambda c: True).compute_statistics()
        print("done", flush=True)
    """)


def test_bar_is_drawn_on_a_terminal(script):
    status, out, drawn = run_on_terminal([sys.executable, "-c", script])
    assert status == 0, drawn
    assert out.split() == ["done"]
    assert "7/7" in drawn  # the final state stays on the screen
    assert "\u2588" in drawn


def test_no_bar_when_stderr_is_a_file(script, tmp_path):
    with open(tmp_path / "stderr.txt", "w+") as stderr:
        process = subprocess.run([sys.executable, "-c", script], stdout=subprocess.PIPE,
                                 stderr=stderr, timeout=120)
        stderr.seek(0)
        assert stderr.read() == ""
    assert process.returncode == 0
    assert process.stdout.split() == [b"done"]
