#!/usr/bin/env bash
# The main job: sets up and builds when needed, then runs BrinemarchDownloader.exe under
# Wine in the players' Chinese locale (on a virtual display when there is none), saves
# a screenshot of its window under the build folder and ends it.
# usage: scripts/run.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=${1:-$repo/build}
"$here/setup.sh"
cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target BrinemarchDownloader
. "$here/wine-env.sh" "$build"
bm_wine_ready
wine "$build/bin/BrinemarchDownloader.exe" &
app=$!
shots="$build/screenshots"
mkdir -p "$shots"
for _ in $(seq 100); do
  xwininfo -root -tree 2>/dev/null | grep -q 'BrinemarchOL' && break
  sleep 0.2
done
sleep 1
import -window root "$shots/main-window.png"
echo "run: screenshot saved to $shots/main-window.png"
kill "$app" 2>/dev/null || true
wineserver -k 2>/dev/null || true
