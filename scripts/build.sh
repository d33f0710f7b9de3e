#!/usr/bin/env bash
# Configures (once) and builds the Release tree in build/; build/bin is then a program folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
# QUORVIX_WERROR=ON makes every warning an error (the test script's build).
if [ ! -f build/build.ninja ] || [ -n "${QUORVIX_WERROR:-}" ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DQUORVIX_WERROR="${QUORVIX_WERROR:-OFF}"
fi
cmake --build build "$@"
