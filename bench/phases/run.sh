#!/usr/bin/env bash
# Phase times with 1 and then 2 worker threads, side by side.
#   bash bench/phases/run.sh GRAPH CLUSTERING
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake -S . -B build/bench -G Ninja -DQUELMAR_BUILD_BENCH=ON -DQUELMAR_BUILD_MODULE=OFF >/dev/null
cmake --build build/bench --target phases_bench >/dev/null
for threads in 1 2; do
    build/bench/bench/phases/phases_bench "$1" "$2" "$threads"
    echo
done
