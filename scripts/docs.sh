#!/usr/bin/env bash
# Builds the documentation site into docs/_build/html, warnings as errors:
# the user guide (docs/guide), the API reference of quelmar (from its stub)
# and of quelmar_tools (from its docstrings), and the gallery, which runs
# every example of examples/ on the bundled data. Needs .venv with the
# package and the docs extra (scripts/setup.sh installs both).
# The guide's examples run as doctests with the Python tests (pytest).
set -euo pipefail
cd "$(dirname "$0")/.."
rm -rf docs/_build docs/gallery docs/api/generated
MPLBACKEND=Agg .venv/bin/python -m sphinx -b html -W --keep-going -q docs docs/_build/html
echo "docs: docs/_build/html/index.html"
