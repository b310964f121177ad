#!/usr/bin/env bash
# Runs every test: the formatting check, the C++ unit tests through CTest, the
# sanitizer and fuzz runs, the wheel's install check, the docs build, then the
# Python tests (the user guide's examples and the HTML report's browser test
# among them).
set -euo pipefail
cd "$(dirname "$0")/.."

# Unformatted C++ fails the run before anything is built (clang-format-14 is
# what setup.sh installs; other versions format differently).
check_format() {
    if ! git ls-files -z '*.h' '*.cpp' | xargs -0 clang-format-14 --dry-run --Werror; then
        echo "test.sh: C++ not formatted; fix: git ls-files '*.h' '*.cpp' | xargs clang-format-14 -i" >&2
        exit 1
    fi
}
if command -v clang-format-14 >/dev/null; then
    check_format
    bash scripts/setup.sh
else
    bash scripts/setup.sh
    check_format
fi

jobs=$(nproc)
cmake -S . -B build/tests -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUELMAR_BUILD_TESTS=ON -DQUELMAR_BUILD_MODULE=OFF >/dev/null
cmake --build build/tests -j "$jobs"
(cd build/tests && ctest --output-on-failure -j "$jobs")
bash scripts/sanitize.sh; bash scripts/fuzz.sh  # sanitizer builds of the C++ tests, ~30 s of fuzzing per target

# The manylinux wheel for CPython 3.11 (Debian 12's Python; scripts/wheels.sh
# builds the others the same way), installed and run on a bare Debian 12.
bash scripts/wheels.sh 3.11
bash scripts/check_wheel.sh

# The docs site, warnings as errors; its guide's examples run with pytest below.
bash scripts/docs.sh

.venv/bin/python -m pytest -q
