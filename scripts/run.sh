#!/usr/bin/env bash
# Sets up, builds and starts the viewer, with the stand-in quote portal on 127.0.0.1:8470
# started first unless something already listens there.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
bin="$top/build/bin"

portal_pid=""
if ! (exec 3<>/dev/tcp/127.0.0.1/8470) 2>/dev/null; then
    "$bin/quote-portal" --listen 127.0.0.1:8470 --data "$bin" &
    portal_pid=$!
    trap '[ -n "$portal_pid" ] && kill "$portal_pid" 2>/dev/null' EXIT
    for _ in $(seq 50); do
        (exec 3<>/dev/tcp/127.0.0.1/8470) 2>/dev/null && break
        sleep 0.1
    done
fi

"$bin/quorvix"
