#!/usr/bin/env bash
# Sets up, builds and runs the checks; exits non-zero on any failure.
#   scripts/test.sh           everything CI runs: the format check, the normal suite (build/, with
#                             warnings as errors), the whole suite again
#                             under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/,
#                             clang), and every fuzz target for a bounded time
#   scripts/test.sh --quick   the normal suite only, for day-to-day work
# Set CMAKE_CXX_COMPILER_LAUNCHER=ccache in the environment to cache compiled objects.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

quick=0
for arg in "$@"; do
    case "$arg" in
    --quick) quick=1 ;;
    *)
        echo "usage: $0 [--quick]" >&2
        exit 2
        ;;
    esac
done

export QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu"
fuzz_seconds=${FUZZ_SECONDS:-20}

step() {
    local name=$1
    shift
    local start=$SECONDS
    echo "== $name"
    "$@"
    echo "== $name: $((SECONDS - start)) s"
}

normal_suite() {
    QUORVIX_WERROR=ON "$top/scripts/build.sh"
    (cd "$top/build" && ctest --output-on-failure -j "$(nproc)")
}

sanitizer_build() {
    if [ ! -f "$top/build-asan/build.ninja" ]; then
        cmake -S "$top" -B "$top/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
            -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS_DEBUG="-O1 -gline-tables-only" \
            -DQUORVIX_SANITIZE=ON -DQUORVIX_FUZZ=ON
    fi
    cmake --build "$top/build-asan"
}

sanitizer_suite() {
    (cd "$top/build-asan" && ctest --output-on-failure -j "$(nproc)")
}

fuzz_runs() {
    "$top/scripts/fuzz.sh" "$top/build-asan" "$fuzz_seconds"
}

"$top/scripts/setup.sh"
step "format check" "$top/scripts/format-check.sh"
step "normal suite" normal_suite
if [ "$quick" -eq 0 ]; then
    step "sanitizer build" sanitizer_build
    step "sanitizer suite" sanitizer_suite
    step "fuzz runs" fuzz_runs
fi
