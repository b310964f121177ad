"""The type stubs: found by type checkers, true to the module, and the
examples pass mypy --strict against them."""

import ast
import glob
import importlib.util
import os
import re

import pytest

import quelmar

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
INSTALLED = os.path.dirname(importlib.util.find_spec("quelmar").origin)
STUB = os.path.join(INSTALLED, "quelmar.pyi")
HIDDEN = {"ClusteringSubset", "ClusteringStats"}


def stub_tree():
    with open(STUB, encoding="utf-8") as source:
        return ast.parse(source.read())


def public_members(class_node):
    return {node.name for node in class_node.body
            if isinstance(node, ast.FunctionDef) and not node.name.startswith("_")}


def runtime_classes():
    graph_path = os.path.join(ROOT, "examples", "data", "graph.tsv")
    clustering = quelmar.Clustering(quelmar.Graph(graph_path),
                                    os.path.join(ROOT, "examples", "data", "clustering.tsv"))
    subset = clustering.select_in([10])
    classes = {name: getattr(quelmar, name) for name in quelmar.__all__
               if isinstance(getattr(quelmar, name), type)}
    classes["ClusteringSubset"] = type(subset)
    classes["ClusteringStats"] = type(subset.compute_statistics())
    return classes


class TestStubMatchesTheModule:
    def test_installed_in_both_places_alike(self):
        with open(STUB, "rb") as beside, \
                open(os.path.join(INSTALLED, "quelmar-stubs", "__init__.pyi"), "rb") as package:
            assert beside.read() == package.read()

    def test_same_exports(self):
        tree = stub_tree()
        (exports,) = [node.value for node in tree.body if isinstance(node, ast.Assign)
                      and node.targets[0].id == "__all__"]
        assert ast.literal_eval(exports) == quelmar.__all__
        functions = {node.name for node in tree.body if isinstance(node, ast.FunctionDef)}
        assert functions == {"set_nthreads"}

    def test_every_class_with_exactly_its_members(self):
        stubbed = {node.name: node for node in stub_tree().body if isinstance(node, ast.ClassDef)}
        runtime = runtime_classes()
        assert set(stubbed) == set(runtime)
        for name, node in stubbed.items():
            members = {m for m in vars(runtime[name]) if not m.startswith("_")}
            assert public_members(node) == members, name

    def test_documented_distribution_keys_are_the_computed_ones(self):
        (stats_class,) = [node for node in stub_tree().body
                          if isinstance(node, ast.ClassDef) and node.name == "ClusteringStats"]
        (getter,) = [node for node in stats_class.body
                     if isinstance(node, ast.FunctionDef) and node.name == "distributions"]
        documented = set(re.findall(r'"(\w+)"', ast.get_docstring(getter)))
        data = os.path.join(ROOT, "examples", "data")
        clustering = quelmar.Clustering(quelmar.Graph(os.path.join(data, "graph.tsv")),
                                        os.path.join(data, "clustering.tsv"), cpm=0.5)
        computed = clustering.select(lambda c: True).compute_statistics().distributions
        assert documented == set(computed)

    def test_hidden_classes_are_marked_and_absent(self):
        for node in stub_tree().body:
            if isinstance(node, ast.ClassDef):
                marks = {getattr(d, "id", None) for d in node.decorator_list}
                assert ("type_check_only" in marks) == (node.name in HIDDEN), node.name
                assert "final" in marks
        for name in HIDDEN:
            assert not hasattr(quelmar, name)


@pytest.fixture
def run_mypy(monkeypatch):
    api = pytest.importorskip("mypy.api", reason="mypy is not installed")
    # From the repository root, so that pyproject.toml's settings apply.
    monkeypatch.chdir(ROOT)

    def run(*paths):
        out, err, status = api.run(["--strict", "--cache-dir",
                                    os.path.join(ROOT, "build", "mypy"), *paths])
        return status, out + err

    return run


def test_examples_and_companion_pass_mypy_strict(run_mypy):
    status, report = run_mypy(*sorted(glob.glob(os.path.join("examples", "*.py"))),
                              os.path.join("python", "quelmar_tools"))
    assert status == 0, report


def test_mypy_catches_misuse(run_mypy, tmp_path):
    misuse = tmp_path / "misuse.py"
    misuse.write_text(
        "import quelmar\n"
        "graph = quelmar.Graph(1)\n"                                        # 2: not a str
        "clustering = quelmar.Clustering(graph, 'c.txt', cmp=0.5)\n"         # 3: misspelt cpm
        "subset = clustering.select(lambda c: c.n)\n"                        # 4: int, not bool
        "subset.keys()\n"                                                    # 5: a property
        "stats = subset.compute_statistics()\n"
        "median: str = stats.distributions['size'].median\n"                # 7: a float
        "ok = clustering.select_in([1, 2]).compute_size_diff(clustering)\n"
    )
    status, report = run_mypy(str(misuse))
    assert status == 1
    # By file name: a cached run reports the path the content was first seen at.
    flagged = sorted({int(line.split(":")[1]) for line in report.splitlines()
                      if line.split(":")[0].endswith("misuse.py") and ": error:" in line})
    assert flagged == [2, 3, 4, 5, 7], report
