#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test (under Wine).
# usage: scripts/test.sh [BUILD_DIR]   (default: build/)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=${1:-$repo/build}
start=$(date +%s)
"$here/setup.sh"
setup_done=$(date +%s)
cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)"
build_done=$(date +%s)
set +e
(cd "$build" && ctest --output-on-failure -j"$(nproc)" --timeout 900)
rc=$?
set -e
. "$here/wine-env.sh" "$build"
bm_wine_stop
end=$(date +%s)
printf 'times: setup %ss, build %ss, tests %ss\n' $((setup_done - start)) $((build_done - setup_done)) $((end - build_done))
exit $rc
