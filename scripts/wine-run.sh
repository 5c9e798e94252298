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
# Read through a descriptor of our own, the name gone at once: nothing is left behind even
# when ctest kills this script on a timeout.
exec 3<"$out"
rm -f "$out"
trap '[ -n "$program" ] && kill "$program" 2>/dev/null' EXIT
tail -n +1 -s 0.2 -f --pid="$program" /dev/fd/3
wait "$program"
code=$?
program=
exit "$code"
