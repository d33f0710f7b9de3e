#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite; exits non-zero on any failure.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
cd "$top/build"
export QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu"
ctest --output-on-failure -j "$(nproc)"
