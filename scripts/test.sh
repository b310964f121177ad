#!/usr/bin/env bash
# Runs every test: the C++ unit tests through CTest, then the Python tests.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc)
cmake -S . -B build/tests -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUELMAR_BUILD_TESTS=ON -DQUELMAR_BUILD_MODULE=OFF >/dev/null
cmake --build build/tests -j "$jobs"
(cd build/tests && ctest --output-on-failure -j "$jobs")
bash scripts/sanitize.sh; bash scripts/fuzz.sh  # sanitizer builds of the C++ tests, ~30 s of fuzzing per target

.venv/bin/python -m pytest -q
