"""Sphinx configuration of the quelmar documentation (built by scripts/docs.sh).

The user guide is MyST Markdown; the companion's reference comes from its
numpydoc docstrings through autodoc and autosummary; the module's reference
from its stub, quelmar.pyi, which sphinx-autoapi reads as source (the
extension itself carries no docstrings); the gallery runs examples/ on the
bundled data and keeps what they print and draw.
"""

from __future__ import annotations

import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # the gallery draws into files only

DOCS = Path(__file__).resolve().parent
ROOT = DOCS.parent
# Examples import each other's helpers by their folder, as when run as scripts.
sys.path.insert(0, str(ROOT / "examples"))

from quelmar_tools import __version__  # noqa: E402  (after the path is set)

project = "quelmar"
copyright = "the quelmar developers"
version = release = __version__

extensions = [
    "myst_parser",
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "numpydoc",
    "autoapi.extension",
    "sphinx_gallery.gen_gallery",
]

source_suffix = {".md": "markdown", ".rst": "restructuredtext"}
exclude_patterns = ["_build", "conftest.py", "gallery/*.ipynb", "gallery/*.py",
                    "gallery/*.zip", "gallery/*.json"]
myst_enable_extensions = ["colon_fence", "deflist"]
myst_heading_anchors = 3

# The companion: one generated page per public name.
autosummary_generate = True
autodoc_default_options = {"members": True, "inherited-members": False}
autodoc_typehints = "none"  # the numpydoc sections carry the types
numpydoc_show_class_members = False
numpydoc_xref_param_type = False

# The module: its stub, read as source. The folder also holds the C++ and the
# companion's bindings, which are not Python.
autoapi_dirs = [str(ROOT / "src" / "exposure")]
autoapi_file_patterns = ["quelmar.pyi"]
autoapi_ignore = ["*tools*"]
autoapi_root = "api/module"
autoapi_add_toctree_entry = False
autoapi_keep_files = False
autoapi_options = ["members", "undoc-members", "show-module-summary", "special-members"]
autoapi_python_class_content = "both"
suppress_warnings = ["autoapi.python_import_resolution"]

sphinx_gallery_conf = {
    "examples_dirs": str(ROOT / "examples"),
    "gallery_dirs": "gallery",
    # Every example runs (the Dask one on a local cluster of two worker
    # processes, a few seconds), except the generator of the bundled data,
    # which would rewrite examples/data, and the examples' shared paths.
    "filename_pattern": r"\.py$",
    "ignore_pattern": r"(make_example|bundled|__init__)\.py$",
    "download_all_examples": False,
    "remove_config_comments": True,
    "abort_on_example_error": True,
    "min_reported_time": 1,
    "image_scrapers": ("matplotlib",),
    "plot_gallery": "True",
    "show_memory": False,
    "show_signature": False,
}

html_theme = "furo"
html_title = f"quelmar {release}"
html_static_path: list[str] = []
html_show_sourcelink = False
