#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format makes of it with .clang-format;
# lists the files. Fix with: clang-format -i FILE...
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
    mapfile -t files < <(find src portal tests bench \( -name '*.cpp' -o -name '*.h' \) | sort)
fi
bad=()
for f in "${files[@]}"; do
    if ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then
        bad+=("$f")
    fi
done
if [ ${#bad[@]} -gt 0 ]; then
    echo "Not formatted with .clang-format (run clang-format -i on them):"
    printf '  %s\n' "${bad[@]}"
    exit 1
fi
echo "Format check: ${#files[@]} files formatted."
