#!/usr/bin/env bash
# Configures (once) and builds the Release tree in build/; build/bin is then a program folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build build "$@"
