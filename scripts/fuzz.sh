#!/usr/bin/env bash
# Runs every fuzz target of a libFuzzer build (QUORVIX_FUZZ=ON) for a bounded time each, from
# its committed seed corpus in fuzz/NAME/corpus/ and what earlier runs found (kept in
# BUILD/fuzz-corpus/NAME/, never committed). Prints the executions of each run; stops with an
# error at the first failure, the input that failed left in BUILD/fuzz-artifacts/.
#   scripts/fuzz.sh [BUILD_DIR] [SECONDS]     (defaults: build-asan, 20)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-asan}
seconds=${2:-20}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/cmake/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Targets that read what they are given from a file write it first; in memory that is some
# twenty times quicker than on disk.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi

mkdir -p "$build/fuzz-artifacts"
found=0
for dir in "$top"/fuzz/*/; do
    name=$(basename "$dir")
    program="$build/fuzz/fuzz_$name"
    if [ ! -x "$program" ]; then
        echo "fuzz $name: no program $program (configure with -DQUORVIX_FUZZ=ON)" >&2
        exit 1
    fi
    work="$build/fuzz-corpus/$name"
    log="$build/fuzz-artifacts/$name.log"
    mkdir -p "$work"
    start=$SECONDS
    if ! "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$name-" \
        "$work" "$dir/corpus" >"$log" 2>&1; then
        tail -n 60 "$log" >&2
        echo "fuzz $name: FAILED; the input is in $build/fuzz-artifacts/ (log $log)." >&2
        echo "  Fix the fault, then commit the input to fuzz/$name/corpus/crash-* and add it" >&2
        echo "  as a row to the unit's test." >&2
        found=1
        continue
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo "fuzz $name: ${runs:-?} executions in $((SECONDS - start)) s"
done
exit $found
