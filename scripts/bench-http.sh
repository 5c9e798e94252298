#!/usr/bin/env bash
# Median and 99th-percentile time of a loopback JSON POST through the shared HTTP object,
# the request the engine poller sends thousands of times, measured under Wine.
# usage: scripts/bench-http.sh [BUILD_DIR] [COUNT]   (default: build/, 2000 requests)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
count=${2:-2000}
cmake --build "$build" --target bench_http -j2 >/dev/null
state=$(mktemp -d)
python3 "$repo/tools/http_test_server/server.py" start --state-dir "$state"
trap 'python3 "$repo/tools/http_test_server/server.py" stop --state-dir "$state"; rm -rf "$state"' EXIT
. "$here/wine-env.sh" "$build"
bm_wine_ready
port=$(cat "$state/port")
wine "$build/bin/bench_http.exe" "$port" "$count"
# The same without a body, to tell transport stalls from request costs.
wine "$build/bin/bench_http.exe" "$port" "$count" get
