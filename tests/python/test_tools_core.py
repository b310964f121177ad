"""The companion runs on the module's own native core, in process: one worker
pool governed by the module's settings, quelmar's own objects in and out,
ordinary exceptions (never the module's panic report), and a refusal to run
on a core from another build."""

import pathlib
import re
import shutil
import sys

import numpy as np
import pytest

import quelmar
import quelmar_tools
from quelmar_tools import _native
from support import run_python

EDGES = np.array([[1, 2], [2, 3], [3, 1], [3, 4], [4, 5]], dtype=np.uint64)


class TestOneCore:
    def test_objects_made_by_the_companion_are_the_modules_own(self, files):
        graph = quelmar_tools.graph_from(EDGES)
        assert type(graph) is quelmar.Graph
        # A companion-made graph feeds the module's own loader, and back.
        from_module = quelmar.Clustering(graph, files.clusters({7: [1, 2, 3]}))
        from_tools = quelmar_tools.clustering_from(graph, {7: [1, 2, 3]})
        assert type(from_tools) is quelmar.Clustering
        assert quelmar_tools.totals(from_module) == quelmar_tools.totals(from_tools)
        subset = from_tools.select_in([7])
        keys, *counts = _native.cluster_counts(subset, None)
        assert np.frombuffer(keys, dtype=np.uint64).tolist() == [7]
        # A subset's load counts are those of its clustering.
        assert _native.load_counts(subset) == _native.load_counts(from_tools) == (0, 0, 1, 3, 0)

    @pytest.mark.parametrize("call", [
        lambda: _native.cluster_counts(object(), None),
        lambda: _native.coverage("clustering", None),
        lambda: _native.load_counts(quelmar_tools.graph_from(EDGES)),
        lambda: _native.clustering_from_memberships(None, EDGES[:, 0].copy(), EDGES[:, 1].copy(),
                                                    None, False),
        lambda: _native.load_clustering(3, "clusters.txt", None, False),
    ])
    def test_other_objects_are_refused(self, call):
        with pytest.raises(TypeError, match="expected a quelmar"):
            call()

    def test_set_nthreads_governs_the_companions_work(self):
        # The companion's clustering settles the one pool of the process;
        # the module then finds it built, at the size it asked for first.
        result = run_python("""
            import os, numpy as np, quelmar, quelmar_tools
            quelmar.set_nthreads(3)
            graph = quelmar_tools.graph_from(np.array([[1, 2], [2, 3]], dtype=np.uint64))
            quelmar_tools.clustering_from(graph, {1: [1, 2]})
            print(len(os.listdir("/proc/self/task")))
        """)
        assert result.returncode == 0, result.stderr
        threads_with_three = int(result.stdout)
        result = run_python("""
            import os, numpy as np, quelmar, quelmar_tools
            graph = quelmar_tools.graph_from(np.array([[1, 2], [2, 3]], dtype=np.uint64))
            quelmar_tools.clustering_from(graph, {1: [1, 2]})
            print(len(os.listdir("/proc/self/task")))
            try:
                quelmar.set_nthreads(2)
            except BaseException as error:
                print(type(error).__name__)
        """, env={"RAYON_NUM_THREADS": "5"})
        assert result.returncode == 0, result.stderr
        threads, failure = result.stdout.split()
        assert int(threads) == threads_with_three + 2
        assert failure == "PanicException"


class TestPlainErrors:
    def test_file_failures_are_ordinary_exceptions_without_a_report(self):
        result = run_python("""
            import quelmar_tools
            try:
                quelmar_tools.graph_from("/proc/self/mem")
            except OSError as error:
                print("OSError", error.errno)
        """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.split()[0] == "OSError"
        assert "panicked" not in result.stderr

    GOOD_EDGES = [f"{i} {i + 1}" for i in range(1, 60_001)]

    @pytest.mark.parametrize("lines, line, message", [
        (["1 2", "3"], 2, "missing to"),
        (["1 2", "3 x4"], 2, 'invalid digit found in string "x4"'),
        (["1 2", "", "3 4"], 2, "missing from"),
        # Far enough in to cross blocks read side by side.
        (GOOD_EDGES + ["5 99999999999999999999"], 60_001,
         'number too large to fit in target type "99999999999999999999"'),
    ])
    def test_graph_failures_point_at_the_line(self, files, lines, line, message):
        path = files.lines(lines, "bad.txt")
        with pytest.raises(ValueError) as raised:
            quelmar_tools.graph_from(path)
        assert str(raised.value) == f"{path}:{line}: {message}"

    @pytest.mark.parametrize("lines, line, message", [
        (["1 7", "2 12a"], 2, 'invalid cluster_id "12a"'),
        (["1 7", "99 7", "2 7", "98 7"], 4,
         "node 98 requested in cluster 7 not found in graph, and is not singleton"),
        ([f"{1 + i % 5} {i}" for i in range(80_000)] + ["3"], 80_001, "missing cluster_id"),
    ])
    def test_clustering_failures_point_at_the_line(self, files, lines, line, message):
        graph = quelmar_tools.graph_from(EDGES)
        path = files.lines(lines, "clusters.txt")
        with pytest.raises(ValueError) as raised:
            quelmar_tools.clustering_from(graph, path)
        assert str(raised.value) == f"{path}:{line}: {message}"

    def test_memory_exhaustion_inside_a_released_region(self):
        # The clustering is built without the interpreter lock; running out
        # of address space there must come back as MemoryError with the lock
        # held, not crash the interpreter.
        result = run_python("""
            import resource, numpy as np, quelmar_tools
            from quelmar_tools import _native
            graph = quelmar_tools.graph_from(np.array([[1, 2], [2, 3]], dtype=np.uint64))
            nodes = np.ones(40_000_000, dtype=np.uint64)
            clusters = np.arange(40_000_000, dtype=np.uint64)
            used = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
            resource.setrlimit(resource.RLIMIT_AS, (used + (256 << 20),) * 2)
            try:
                _native.clustering_from_memberships(graph, nodes, clusters, None, False)
            except MemoryError:
                print("MemoryError")
        """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.strip() == "MemoryError"


class TestArrayShapes:
    @pytest.mark.parametrize("shape, hint", [((2, 5), ".T"), ((2, 3), ".T"), ((5, 3), "[:, :2]")])
    def test_other_shapes_are_refused_with_a_hint(self, files, shape, hint):
        array = np.arange(1, 1 + shape[0] * shape[1], dtype=np.uint64).reshape(shape)
        with pytest.raises(ValueError, match=re.escape(hint)):
            quelmar_tools.graph_from(array)
        graph = quelmar_tools.graph_from(EDGES)
        with pytest.raises(ValueError, match=re.escape(hint)):
            quelmar_tools.clustering_from(graph, array)

    def test_a_two_by_two_array_is_two_rows(self):
        graph = quelmar_tools.graph_from(np.array([[1, 2], [3, 4]], dtype=np.uint64))
        clustering = quelmar_tools.clustering_from(graph, np.array([[1, 9], [2, 9]]))
        assert quelmar_tools.totals(clustering)["total_edges"] == 2
        assert quelmar_tools.totals(clustering)["covered_edges"] == 1


def test_a_companion_from_another_build_is_refused(tmp_path):
    # A copy of the installed packages whose companion claims another build
    # of the core: importing it must fail, not misread quelmar's objects.
    site = pathlib.Path(quelmar.__file__).parent
    shutil.copy(quelmar.__file__, tmp_path)
    shutil.copytree(site / "quelmar.libs", tmp_path / "quelmar.libs")
    shutil.copytree(pathlib.Path(quelmar_tools.__file__).parent, tmp_path / "quelmar_tools")
    native = next((tmp_path / "quelmar_tools").glob("_native*.so"))
    binary = native.read_bytes()
    identity = re.search(rb"\d+\.\d+\.\d+-\d{8}T\d{6}-[0-9A-Za-z]{16}", binary).group()
    native.write_bytes(binary.replace(identity, identity[:-1] + (b"x" if identity[-1:] != b"x"
                                                                 else b"y")))
    result = run_python(f"""
        import sys
        sys.path.insert(0, {str(tmp_path)!r})
        try:
            import quelmar_tools._native
        except ImportError as error:
            print(error)
    """)
    assert result.returncode == 0, result.stderr
    assert "built from other sources than the loaded quelmar" in result.stdout
    assert sys.modules["quelmar"] is quelmar


def test_every_public_module_declares_its_names():
    """Each public module lists its names in __all__, and every name of the
    package is the object of a module that lists it."""
    import importlib
    import pkgutil

    public = [info.name for info in pkgutil.walk_packages(quelmar_tools.__path__, "quelmar_tools.")
              if not any(part.startswith("_") for part in info.name.split("."))]
    assert "quelmar_tools.in_memory" in public and "quelmar_tools.dask" in public
    listed = {}
    for name in public:
        module = importlib.import_module(name)
        assert module.__all__ and all(hasattr(module, n) for n in module.__all__), name
        for n in module.__all__:
            listed.setdefault(n, []).append(getattr(module, n))
    for name in quelmar_tools.__all__:
        assert any(getattr(quelmar_tools, name) is value for value in listed[name]), name
