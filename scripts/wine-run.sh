#!/usr/bin/env bash
# ctest's emulator for our Windows test programs. usage: wine-run.sh BUILD_DIR PROGRAM.exe [ARGS...]
#
# The program writes into a file of its own, which is streamed to ctest while it runs: Wine
# starts its background processes (the desktop, services) on demand from whichever program
# needs them first, and they inherit that program's output. Given ctest's pipe, they would
# hold it open after the test ended and ctest would wait for them (seen: a 13 s test reported
# after 275 s, once the desktop had been restarted by it).
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$1
. "$here/wine-env.sh" "$build"
shift
bm_wine_ready || exit 125
out=$(mktemp "$build/wine-run.XXXXXX") || exit 125
wine "$@" >"$out" 2>&1 </dev/null &
program=$!
trap 'kill "$program" 2>/dev/null; rm -f "$out"' EXIT
tail -n +1 -s 0.2 -f --pid="$program" "$out"
wait "$program"
