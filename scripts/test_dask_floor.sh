#!/usr/bin/env bash
# Runs the Dask tests against the lowest versions pyproject.toml's dask extra
# allows, in a scratch virtual environment beside the built module of .venv
# (run scripts/setup.sh first; the upper end is what setup.sh installs).
#     bash scripts/test_dask_floor.sh [SCRATCH_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=${1:-$(mktemp -d)}
site=$(.venv/bin/python -c "import sysconfig; print(sysconfig.get_paths()['purelib'])")
python3 -m venv "$scratch/venv"
# pyarrow 14 was built for numpy 1, pandas 3 came after this Dask.
"$scratch/venv/bin/python" -m pip install -q "dask[dataframe,distributed]==2025.1.0" \
    "distributed==2025.1.0" "pyarrow==14.0.2" "numpy<2" "pandas<3" pytest hypothesis lz4 networkx
mkdir -p "$scratch/built"
ln -sf "$site"/quelmar.cpython-*.so "$site/quelmar.libs" "$site/quelmar_tools" "$scratch/built/"
"$scratch/venv/bin/python" -c "import sysconfig; print('$scratch/built', file=open(sysconfig.get_paths()['purelib'] + '/built.pth', 'w'))"
"$scratch/venv/bin/python" -m pip list 2>/dev/null | grep -iE "^(dask|distributed|pandas|numpy|pyarrow) "
"$scratch/venv/bin/python" -m pytest -q -p no:cacheprovider tests/python/test_dask.py
