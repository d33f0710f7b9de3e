#!/usr/bin/env bash
# Sets up, builds and starts the viewer. The viewer starts the stand-in quote portal beside it
# when nothing listens at its chart server's address, and stops it when it ends.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
exec "$top/build/bin/quorvix"
