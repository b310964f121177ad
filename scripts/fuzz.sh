#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one for a bounded time from its
# committed seed corpus. Fails on any crash, sanitizer report, disagreement
# with a reference, time-out (an input taking over 20 s) or memory blow-up
# (over 2 GiB in all, or one allocation above it).
# Usage: scripts/fuzz.sh [seconds per target] [target...]
#   seconds default to QUELMAR_FUZZ_SECONDS, else 30; targets to all of fuzz/.
# New inputs go to build/fuzz/work/<target> (the committed seeds are only
# read), findings to build/fuzz/findings/<target>/, logs to build/fuzz/logs/.
# To replay one input: build/fuzz/<target> <file>.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${QUELMAR_JOBS:-2}
seconds=${1:-${QUELMAR_FUZZ_SECONDS:-30}}
shift $(($# > 0 ? 1 : 0))

if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ is missing (Debian: clang libclang-rt-14-dev)" >&2
    exit 1
fi

build=build/fuzz
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    >/dev/null
targets=("$@")
if ((${#targets[@]} == 0)); then
    mapfile -t targets < <(grep -v '^$' "$build/fuzz_targets.txt")
fi
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

mkdir -p "$build/logs"

fuzz_one() {  # target; writes libFuzzer's exit status to logs/<target>.status
    local target=$1
    local seeds=fuzz/corpus/$target work=$build/work/$target findings=$build/findings/$target
    mkdir -p "$seeds" "$work" "$findings"
    # The work folder comes first: libFuzzer writes new inputs only there.
    local status=0
    "$build/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -max_len=16384 -print_final_stats=1 -artifact_prefix="$findings/" \
        "$work" "$seeds" >"$build/logs/$target.log" 2>&1 || status=$?
    echo "$status" >"$build/logs/$target.status"
}

# Each target is one process; QUELMAR_JOBS of them run side by side.
for target in "${targets[@]}"; do
    rm -f "$build/logs/$target.status"
    while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
    fuzz_one "$target" &
done
wait

failed=()
for target in "${targets[@]}"; do
    log=$build/logs/$target.log
    if [ "$(cat "$build/logs/$target.status" 2>/dev/null)" = 0 ]; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz $target: ${runs:-?} inputs in ${seconds}s, no finding"
    else
        echo "fuzz $target: FAILED (log $log, inputs in $build/findings/$target/)" >&2
        grep -E 'ERROR|fuzz check failed|SUMMARY|runtime error|Test unit written' "$log" |
            head -20 >&2 || tail -40 "$log" >&2
        failed+=("$target")
    fi
done

if ((${#failed[@]})); then
    echo "fuzz: findings in ${failed[*]}" >&2
    exit 1
fi
