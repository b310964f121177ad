"""QUELMAR_LOG: the library's events on stderr when asked for, nothing otherwise."""

import pytest

from graph_files import run_python, snapshot_values

SCRIPT = """
    import quelmar
    graph = quelmar.Graph({graph!r})
    clustering = quelmar.Clustering(graph, {clusters!r})
    clustering.select(lambda c: c.n >= 3).compute_statistics()
    quelmar.Graph({snapshot!r})
"""


@pytest.fixture
def script(files):
    edges = [(1, 2), (2, 3), (3, 1), (3, 4), (4, 5)]
    return SCRIPT.format(graph=files.edges(edges),
                         clusters=files.clusters({1: [1, 2, 3], 2: [4, 5]}),
                         snapshot=files.snapshot(snapshot_values(edges)))


EVENTS = [
    "[DEBUG orvanthel::base] loading from edgelist",
    "[DEBUG orvanthel::quelmar] covered nodes: 3",
    "[DEBUG orvanthel::base] loading from bincode.lz4",
]


@pytest.mark.parametrize("value", ["debug", "DEBUG", "Trace"])
def test_debug_events_go_to_stderr_with_their_targets(script, value):
    done = run_python(script, env={"QUELMAR_LOG": value})
    assert done.returncode == 0, done.stderr
    assert done.stderr.splitlines() == EVENTS


@pytest.mark.parametrize("env", [{}, {"QUELMAR_LOG": "info"}, {"QUELMAR_LOG": "off"},
                                 {"QUELMAR_LOG": ""}])
def test_nothing_without_a_debug_level(script, env):
    done = run_python(script, env=env)
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""


def test_unknown_level_is_reported_once_and_ignored(script):
    done = run_python("import quelmar, sys\n"
                      "del sys.modules['quelmar']\n"
                      "import quelmar\n" + script.replace("\n    ", "\n"),
                      env={"QUELMAR_LOG": "verbose"})
    assert done.returncode == 0, done.stderr
    assert done.stderr == ("quelmar: ignoring QUELMAR_LOG=verbose (expected off, error, warn, "
                           "info, debug or trace)\n")


def test_variable_is_read_at_import_only(script):
    late = "import os\nimport quelmar\nos.environ['QUELMAR_LOG'] = 'debug'\n"
    done = run_python(late + script.replace("\n    ", "\n"))
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""
