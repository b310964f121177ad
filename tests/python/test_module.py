"""The module object, the traits shared by its classes, PanicException,
set_nthreads, and the environment read when the module is imported."""

import importlib
import sys
import weakref

import pytest

import quelmar
from support import PANIC_PREFIX, run_python, snapshot_values

NAMES = ["Graph", "ClusterSkeleton", "Clustering", "SummarizedDistribution", "set_nthreads"]


@pytest.fixture
def subset_and_stats(files):
    graph = quelmar.Graph(files.edges([(1, 2), (2, 3)]))
    clustering = quelmar.Clustering(graph, files.clusters({7: [1, 2, 3]}))
    subset = clustering.select_in([7])
    return subset, subset.compute_statistics()


def all_classes(subset, stats):
    return [
        quelmar.Graph,
        quelmar.Clustering,
        type(subset),
        type(stats),
        quelmar.SummarizedDistribution,
        quelmar.ClusterSkeleton,
    ]


class TestModule:
    def test_attributes_in_registration_order(self):
        assert quelmar.__all__ == NAMES
        public = [name for name in vars(quelmar) if not name.startswith("__")]
        assert public == NAMES

    def test_star_import_brings_the_five_names(self):
        scope = {}
        exec("from quelmar import *", scope)
        assert sorted(name for name in scope if name != "__builtins__") == sorted(NAMES)

    def test_one_version_stated_in_pyproject(self):
        # The distribution, the companion and the converter report it; the
        # module's fixed surface has no attribute for it.
        import importlib.metadata
        import os
        import re
        import subprocess

        import quelmar_tools

        root = os.path.join(os.path.dirname(__file__), "..", "..")
        with open(os.path.join(root, "pyproject.toml"), encoding="utf-8") as project:
            stated = re.search(r'^version = "([^"]+)"$', project.read(), re.M).group(1)
        assert importlib.metadata.version("quelmar") == stated == quelmar_tools.__version__
        tool = os.path.join(os.path.dirname(sys.executable), "quelmar-snapshot")
        shown = subprocess.run([tool, "--version"], capture_output=True, text=True, check=True)
        assert shown.stdout == f"quelmar-snapshot {stated}\n"
        assert not hasattr(quelmar, "__version__")

    def test_docstring_is_one_sentence(self):
        assert quelmar.__doc__.endswith(".")
        assert quelmar.__doc__.count(".") == 1

    def test_result_classes_are_not_attributes(self):
        assert not hasattr(quelmar, "ClusteringSubset")
        assert not hasattr(quelmar, "ClusteringStats")
        assert not hasattr(quelmar, "PanicException")

    def test_set_nthreads_is_a_builtin_without_docstring(self):
        assert type(quelmar.set_nthreads).__name__ == "builtin_function_or_method"
        assert quelmar.set_nthreads.__doc__ is None

    def test_second_initialisation_reuses_the_classes(self):
        first = sys.modules.pop("quelmar")
        try:
            second = importlib.import_module("quelmar")
            assert second is not first
            for name in NAMES[:-1]:
                assert getattr(second, name) is getattr(first, name)
        finally:
            sys.modules["quelmar"] = first


class TestClassTraits:
    def test_builtins_names(self, subset_and_stats):
        classes = all_classes(*subset_and_stats)
        expected = ["Graph", "Clustering", "ClusteringSubset", "ClusteringStats",
                    "SummarizedDistribution", "ClusterSkeleton"]
        assert [cls.__name__ for cls in classes] == expected
        for cls in classes:
            assert cls.__module__ == "builtins"
            assert repr(cls) == f"<class 'builtins.{cls.__name__}'>"
            assert cls.__bases__ == (object,)
            assert cls.__doc__ is None

    def test_not_subclassable(self, subset_and_stats):
        for cls in all_classes(*subset_and_stats):
            with pytest.raises(TypeError):
                type("Derived", (cls,), {})

    def test_instances_have_no_dict_weakref_or_docstring(self, subset_and_stats):
        subset, stats = subset_and_stats
        for instance in [subset, stats, stats.distributions["size"]]:
            assert instance.__doc__ is None
            assert repr(instance).startswith(f"<builtins.{type(instance).__name__} object at")
            with pytest.raises(AttributeError):
                instance.__dict__
            with pytest.raises(AttributeError):
                instance.anything = 1
            with pytest.raises(TypeError):
                weakref.ref(instance)

    def test_identity_equality_and_hashing(self, subset_and_stats):
        subset, _ = subset_and_stats
        assert subset == subset
        assert hash(subset) == hash(subset)
        with pytest.raises(TypeError):
            len(subset)
        with pytest.raises(TypeError):
            iter(subset)

    @pytest.mark.parametrize("index", [2, 3, 4, 5])
    def test_no_constructor(self, subset_and_stats, index):
        cls = all_classes(*subset_and_stats)[index]
        for args, kwargs in [((), {}), ((1,), {}), ((), {"x": 1})]:
            with pytest.raises(TypeError, match="^No constructor defined$"):
                cls(*args, **kwargs)
            with pytest.raises(TypeError, match="^No constructor defined$"):
                cls.__new__(cls)


class TestPanicException:
    def test_class_shape_and_identity(self, files):
        caught = []
        for _ in range(2):
            try:
                quelmar.Graph(files.path("missing.txt"))
            except BaseException as error:  # noqa: B036 - PanicException is not an Exception
                caught.append(error)
        first, second = caught
        panic = type(first)
        assert type(second) is panic
        assert panic.__name__ == "PanicException"
        assert panic.__module__ == "pyo3_runtime"
        assert panic.__bases__ == (BaseException,)
        assert len(first.args) == 1 and isinstance(first.args[0], str)

    def test_not_caught_by_except_exception(self, files):
        with pytest.raises(BaseException) as raised:
            try:
                quelmar.Graph(files.path("missing.txt"))
            except Exception:  # must not catch it
                pytest.fail("PanicException was caught as an Exception")
        assert type(raised.value).__name__ == "PanicException"

    def test_failure_report_on_stderr(self, files, capfd):
        with pytest.raises(BaseException):
            quelmar.Graph(files.path("missing.txt"))
        err = capfd.readouterr().err
        assert "thread 'main' panicked at src/exposure/" in err
        assert PANIC_PREFIX + "No such file or directory (os error 2)" in err


class TestSetNthreads:
    # The pool exists once per process, so every scenario runs in a fresh one.

    def test_four_workers_then_clustering(self, files):
        graph = files.edges([(1, 2), (2, 3)])
        clusters = files.clusters({1: [1, 2, 3]})
        result = run_python(f"""
            import os, quelmar
            before = len(os.listdir("/proc/self/task"))
            assert quelmar.set_nthreads(4) is None
            print(len(os.listdir("/proc/self/task")) - before)
            graph = quelmar.Graph({graph!r})
            subset = quelmar.Clustering(graph, {clusters!r}).select(lambda c: True)
            print(subset.compute_statistics().num_clusters)
            """, env={"RAYON_NUM_THREADS": "2"})
        assert result.returncode == 0, result.stderr
        assert result.stdout.split() == ["4", "1"]

    def test_second_call_panics(self):
        result = run_python("""
            import quelmar
            quelmar.set_nthreads(0)
            try:
                quelmar.set_nthreads(2)
            except BaseException as error:
                print(type(error).__name__)
                print(error.args[0])
            """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.splitlines() == [
            "PanicException",
            PANIC_PREFIX + "ThreadPoolBuildError { kind: GlobalPoolAlreadyInitialized }",
        ]
        assert "panicked at" in result.stderr

    def test_after_a_clustering_panics_but_not_after_a_graph(self, files):
        graph = files.edges([(1, 2)])
        clusters = files.clusters({1: [1, 2]})
        result = run_python(f"""
            import quelmar
            graph = quelmar.Graph({graph!r})
            clustering = quelmar.Clustering(graph, {clusters!r})
            try:
                quelmar.set_nthreads(2)
            except BaseException as error:
                print(type(error).__name__, "GlobalPoolAlreadyInitialized" in str(error))
            """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.split() == ["PanicException", "True"]

        result = run_python(f"""
            import quelmar
            graph = quelmar.Graph({graph!r})
            quelmar.set_nthreads(2)
            print("ok")
            """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.split() == ["ok"]

    def test_argument_errors_create_no_pool(self):
        result = run_python("""
            import os, quelmar
            for bad, expected in [(-1, OverflowError), (2 ** 64, OverflowError),
                                  (2.5, TypeError), ("3", TypeError), (None, TypeError)]:
                try:
                    quelmar.set_nthreads(bad)
                except expected as error:
                    print(type(error).__name__, str(error).startswith("argument 'nthreads': "))
            for call in [lambda: quelmar.set_nthreads(),
                         lambda: quelmar.set_nthreads(1, 2),
                         lambda: quelmar.set_nthreads(1, nthreads=2),
                         lambda: quelmar.set_nthreads(threads=2)]:
                try:
                    call()
                except TypeError:
                    print("TypeError")
            before = len(os.listdir("/proc/self/task"))
            quelmar.set_nthreads(nthreads=True)  # an int through the index conversion
            print(len(os.listdir("/proc/self/task")) - before)
            """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.splitlines() == [
            "OverflowError False",
            "OverflowError False",
            "TypeError True",
            "TypeError True",
            "TypeError True",
            "TypeError", "TypeError", "TypeError", "TypeError",
            "1",
        ]

    @staticmethod
    def workers_started_by_a_clustering(files, env):
        graph = files.edges([(1, 2)])
        clusters = files.clusters({1: [1, 2]})
        result = run_python(f"""
            import os, quelmar
            graph = quelmar.Graph({graph!r})
            before = len(os.listdir("/proc/self/task"))
            quelmar.Clustering(graph, {clusters!r})
            print(len(os.listdir("/proc/self/task")) - before)
            """, env=env)
        assert result.returncode == 0, result.stderr
        return int(result.stdout)

    @pytest.mark.parametrize(
        "env, expected",
        [
            ({"RAYON_NUM_THREADS": "3"}, 3),
            ({"RAYON_NUM_THREADS": "+2", "RAYON_RS_NUM_CPUS": "5"}, 2),
            ({"RAYON_NUM_THREADS": " 2", "RAYON_RS_NUM_CPUS": "5"}, 5),
            ({"RAYON_NUM_THREADS": "x", "RAYON_RS_NUM_CPUS": "0"}, None),
            ({"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "5"}, None),
        ],
    )
    def test_default_size_from_the_environment(self, files, env, expected):
        # None: one worker per available processor, the size without any setting.
        if expected is None:
            expected = self.workers_started_by_a_clustering(files, {})
        assert self.workers_started_by_a_clustering(files, env) == expected

    def test_an_empty_clustering_creates_the_pool_too(self, files):
        graph = files.edges([(1, 2)])
        clusters = files.clusters({})
        result = run_python(f"""
            import quelmar
            quelmar.Clustering(quelmar.Graph({graph!r}), {clusters!r})
            try:
                quelmar.set_nthreads(1)
            except BaseException as error:
                print(type(error).__name__)
            """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.split() == ["PanicException"]


class TestLogging:
    """QUELMAR_LOG: the library's events on stderr when asked for, nothing otherwise."""

    EVENTS = [
        "[DEBUG orvanthel::base] loading from edgelist",
        "[DEBUG orvanthel::quelmar] covered nodes: 3",
        "[DEBUG orvanthel::base] loading from bincode.lz4",
    ]

    @pytest.fixture
    def script(self, files):
        edges = [(1, 2), (2, 3), (3, 1), (3, 4), (4, 5)]
        return f"""
import quelmar
graph = quelmar.Graph({files.edges(edges)!r})
clustering = quelmar.Clustering(graph, {files.clusters({1: [1, 2, 3], 2: [4, 5]})!r})
clustering.select(lambda c: c.n >= 3).compute_statistics()
quelmar.Graph({files.snapshot(snapshot_values(edges))!r})
"""

    @pytest.mark.parametrize("value", ["debug", "DEBUG", "Trace"])
    def test_debug_events_go_to_stderr_with_their_targets(self, script, value):
        done = run_python(script, env={"QUELMAR_LOG": value})
        assert done.returncode == 0, done.stderr
        assert done.stderr.splitlines() == self.EVENTS

    @pytest.mark.parametrize("env", [{}, {"QUELMAR_LOG": "info"}, {"QUELMAR_LOG": "off"},
                                     {"QUELMAR_LOG": ""}])
    def test_nothing_without_a_debug_level(self, script, env):
        done = run_python(script, env=env)
        assert done.returncode == 0, done.stderr
        assert done.stderr == ""

    def test_unknown_level_is_reported_once_and_ignored(self, script):
        done = run_python("import quelmar, sys\ndel sys.modules['quelmar']\n" + script,
                          env={"QUELMAR_LOG": "verbose"})
        assert done.returncode == 0, done.stderr
        assert done.stderr == ("quelmar: ignoring QUELMAR_LOG=verbose (expected off, error, "
                               "warn, info, debug or trace)\n")

    def test_variable_is_read_at_import_only(self, script):
        late = "import os\nimport quelmar\nos.environ['QUELMAR_LOG'] = 'debug'\n"
        done = run_python(late + script)
        assert done.returncode == 0, done.stderr
        assert done.stderr == ""
