"""The public API's docstrings: every public name of the companion's public
modules passes numpydoc's validation under the checks below and states what
it raises, and every example in them runs."""

import doctest
import importlib
import inspect
import tempfile
import warnings

import pytest
from numpydoc.validate import validate

# The modules whose docstrings are checked, each walked through its __all__;
# plot and the HTML report's page run their examples only where matplotlib
# is installed. The report's page belongs to quelmar-stats: the API
# reference lists the others.
REFERENCE = ("quelmar_tools", "quelmar_tools.dask", "quelmar_tools.plot")
MODULES = (*REFERENCE, "quelmar_tools.html_report")
NEEDS = {"quelmar_tools.plot": "matplotlib", "quelmar_tools.html_report": "matplotlib"}

# What every public docstring must get right: a summary of one line, a
# parameter section that matches the signature (names, order, types and a
# description each), a Returns section with a description wherever a value
# is returned, Examples, and sections that numpydoc knows, in its order,
# without layout faults that break the rendered page. Left out: where the
# quotes sit (GL01, GL02), a summary in the imperative (SS05: these
# summaries name what comes back), an extended summary for one-line
# functions (ES01), descriptions opening in upper case or closing with a
# period (PR08, PR09, RT04, RT05: many open with a literal), See Also
# (SA01-SA04) and deprecations (GL09).
CHECKS = {
    "GL03", "GL05", "GL06", "GL07", "GL08", "GL10",
    "SS01", "SS02", "SS03", "SS04", "SS06",
    "PR01", "PR02", "PR03", "PR04", "PR05", "PR06", "PR07", "PR10",
    "RT01", "RT02", "RT03", "YD01", "EX01",
}
# Functions that cannot raise whatever they are given, so they have no
# Raises section.
NEVER_RAISE = {"quelmar_tools.table_columns"}


def public_modules():
    for name in MODULES:
        try:
            yield importlib.import_module(name)
        except ModuleNotFoundError as error:
            if error.name != name:
                raise


def public_objects():
    """(qualified name, object) of every public name and of the public
    methods and properties that public classes define themselves."""
    for module in public_modules():
        for name in module.__all__:
            value = getattr(module, name)
            if not (inspect.isclass(value) or inspect.isfunction(value)):
                continue  # constants keep their #: comments
            yield f"{module.__name__}.{name}", value
            if inspect.isclass(value):
                for member, attribute in vars(value).items():
                    if not member.startswith("_") and (
                            inspect.isfunction(attribute) or isinstance(attribute, property)):
                        yield f"{module.__name__}.{name}.{member}", getattr(value, member)


OBJECTS = dict(public_objects())


@pytest.mark.parametrize("name", sorted(OBJECTS))
def test_docstring_is_complete(name):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # numpydoc's own remarks on sections it reads
        report = validate(name)
    faults = [f"{code}: {message}" for code, message in report["errors"] if code in CHECKS]
    if not inspect.isclass(OBJECTS[name]) and name not in NEVER_RAISE:
        if "Raises" not in (report["docstring"] or ""):
            faults.append("no Raises section")
    assert not faults, "\n".join(faults)


@pytest.mark.parametrize("module", [m.__name__ for m in public_modules()])
def test_examples_run(module, tmp_path, monkeypatch):
    if module in NEEDS:
        pytest.importorskip(NEEDS[module])
    # The examples write their files where tempfile puts them: here.
    monkeypatch.setattr(tempfile, "tempdir", str(tmp_path))
    home = importlib.import_module(module)
    finder = doctest.DocTestFinder()
    runner = doctest.DocTestRunner()
    examples = 0
    for name in home.__all__:
        value = getattr(home, name)
        if not (inspect.isclass(value) or inspect.isfunction(value)):
            continue
        for test in finder.find(value, f"{module}.{name}", globs={}):
            examples += len(test.examples)
            runner.run(test)
    assert examples
    assert runner.failures == 0, f"{runner.failures} examples failed; see the output above"


def test_the_api_reference_lists_every_public_name():
    import os
    import re

    pages = os.path.join(os.path.dirname(__file__), "..", "..", "docs", "api")
    listed = set()
    for page in (name for name in os.listdir(pages) if name.endswith(".md")):
        with open(os.path.join(pages, page), encoding="utf-8") as source:
            text = source.read()
        module = re.search(r"currentmodule:: (\S+)", text)
        if module:  # the autosummary entries of a page, one indented name a line
            listed |= {f"{module[1]}.{name}" for name in re.findall(r"^   (\w+)$", text, re.M)}
        listed |= set(re.findall(r"auto(?:data|function):: (\S+)", text))
    public = {f"{module.__name__}.{name}" for module in public_modules()
              if module.__name__ in REFERENCE for name in module.__all__}
    assert sorted(public - listed) == []
