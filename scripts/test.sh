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
# How long each stage took, printed at the end: CI's budget is a sum of them.
timings=()
timed() {  # timed <label> <command...>
    local began=$SECONDS
    "${@:2}"
    timings+=("$1 $((SECONDS - began)) s")
}
trap 'printf "test.sh: %s\n" "${timings[@]}" >&2' EXIT

if command -v clang-format-14 >/dev/null; then
    check_format
    timed setup bash scripts/setup.sh
else
    timed setup bash scripts/setup.sh
    check_format
fi

# The wheel check's bare Debian root mostly waits on the network: it is made
# beside the builds, and waited for before the check.
mkdir -p build
bash scripts/check_wheel.sh --prepare >build/check_wheel_prepare.log 2>&1 &
prepare=$!

jobs=$(nproc)
build_and_run_cpp_tests() {
    cmake -S . -B build/tests -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUELMAR_BUILD_TESTS=ON -DQUELMAR_BUILD_MODULE=OFF >/dev/null
    cmake --build build/tests -j "$jobs"
    (cd build/tests && ctest --output-on-failure -j "$jobs")
}
timed "C++ tests" build_and_run_cpp_tests
timed sanitizers bash scripts/sanitize.sh
timed fuzzing bash scripts/fuzz.sh 20  # seconds per target, from the committed seeds on

# The manylinux wheel for CPython 3.11 (Debian 12's Python; scripts/wheels.sh
# builds the others the same way), installed and run on a bare Debian 12.
timed wheel bash scripts/wheels.sh 3.11
wait "$prepare" || { cat build/check_wheel_prepare.log; exit 1; }
timed "wheel check" bash scripts/check_wheel.sh

# The docs site, warnings as errors; its guide's examples run with pytest below.
timed docs bash scripts/docs.sh

timed pytest .venv/bin/python -m pytest -q
