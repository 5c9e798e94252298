#!/usr/bin/env bash
# ctest's emulator for our Windows test programs. usage: wine-run.sh BUILD_DIR PROGRAM.exe [ARGS...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh" "$1"
shift
bm_wine_ready || exit 125
exec wine "$@"
