#!/usr/bin/env bash
# Installs what a fresh machine lacks (Debian packages, a virtual environment
# with the Python packages), then builds and installs the module into .venv.
# Safe to run again: it only installs what is missing and rebuilds incrementally.
set -euo pipefail
cd "$(dirname "$0")/.."

debian_packages=(g++ cmake ninja-build pkg-config libroaring-dev liblz4-dev libgtest-dev libabsl-dev zlib1g-dev)
debian_packages+=(clang libclang-rt-14-dev)  # fuzz targets: clang, libFuzzer and its sanitizer runtimes
debian_packages+=(clang-format-14)  # the formatting check of scripts/test.sh, pinned
debian_packages+=(dpkg-dev debootstrap)  # wheels.sh unpacks source packages; check_wheel.sh makes a root
debian_packages+=(chromium)  # tests/python/test_html_report.py renders the --html page headless
missing=()
for package in "${debian_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if ((${#missing[@]})); then
    echo "installing Debian packages: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

python=${PYTHON:-python3}
if [ ! -x .venv/bin/python ]; then
    "$python" -m venv .venv
fi
python_packages=(scikit-build-core cmake ninja pytest hypothesis lz4 numpy scipy mypy pandas networkx
                 dask distributed pyarrow  # quelmar_tools.dask and its tests
                 scikit-learn  # the agreement tests' oracle
                 pandas-stubs types-networkx
                 matplotlib  # quelmar_tools.plot and the HTML report
                 sphinx numpydoc sphinx-autoapi sphinx-gallery myst-parser furo)  # scripts/docs.sh
# igraph and networkit are optional (binary wheels only): the tests that need them skip without.
optional_python_packages=(python-igraph networkit)
stubs_check="import importlib.util as u; assert u.find_spec('pandas-stubs') and u.find_spec('networkx-stubs')"
docs_check="import matplotlib, sphinx, numpydoc, autoapi, sphinx_gallery, myst_parser, furo"
if ! .venv/bin/python -c "import scikit_build_core, pytest, hypothesis, lz4, numpy, scipy, mypy, pandas, networkx, sklearn, dask.dataframe, distributed, pyarrow; $stubs_check; $docs_check" 2>/dev/null; then
    .venv/bin/python -m pip install -q --upgrade pip
    .venv/bin/python -m pip install -q "${python_packages[@]}"
    .venv/bin/python -m pip install -q --only-binary :all: "${optional_python_packages[@]}" ||
        echo "note: ${optional_python_packages[*]} not installed; the tests that need them will skip"
fi

.venv/bin/python -m pip install -q --no-build-isolation .
