#!/bin/sh
# The stand-in portal's resident memory before and after one summary page of every listed code.
# Usage: bench/portal-memory.sh [PATH/TO/quote-portal]   (default: build/bin/quote-portal)
# The program is started on a free loopback port with the code list beside it; the pages are
# fetched by one curl process over one kept-alive connection.
set -eu
portal=${1:-build/bin/quote-portal}
dir=$(dirname "$portal")
list="$dir/銘柄コード一覧20060513.csv"
out=$(mktemp)
urls=$(mktemp)
"$portal" --listen 127.0.0.1:0 --data "$dir" --as-of 2026-12-04 >"$out" 2>/dev/null &
pid=$!
trap 'kill $pid 2>/dev/null; rm -f "$out" "$urls"' EXIT
while ! grep -q listening "$out"; do sleep 0.1; done
base=$(sed -n 's/^listening on //p' "$out")
rss() { awk '/^VmRSS/ {print $2}' "/proc/$pid/status"; }
before=$(rss)
codes=$(cut -d, -f1 "$list" | tr -d '\r' | grep -E '^[0-9A-Z]{4}$')
for c in $codes; do echo "url = \"$base/bin/gw?word=$c&site=12\""; echo "output = /dev/null"; done >"$urls"
count=$(echo "$codes" | wc -l)
start=$(date +%s.%N)
curl -s -K "$urls"
end=$(date +%s.%N)
after=$(rss)
echo "summary pages: $count codes in $(echo "$end - $start" | bc) s"
echo "portal RSS before: $((before / 1024)) MiB, after: $((after / 1024)) MiB"
