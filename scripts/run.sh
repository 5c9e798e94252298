#!/usr/bin/env bash
# The main job: sets up and builds when needed, serves the demo share of the installer from
# the local drive emulator on the port the program is built for, and runs
# BrinemarchDownloader.exe under Wine in the players' Chinese locale. A driver presses its
# buttons like a player ("开始下载", then "安装游戏"), a screenshot of every state is saved
# under BUILD_DIR/screenshots, every downloaded file is checked against the emulator's
# manifest (size and SHA-256), and the start of the installer from the save folder is
# confirmed. Ends with a summary: files, bytes, seconds, MiB/s.
#
# With a display of its own and a person at the terminal (no CI), the window is left to
# that person instead: the job waits until the program ends, then checks what arrived.
#
# usage: scripts/run.sh [--drive | --by-hand] [BUILD_DIR]
# Exit status 0 only when the whole road succeeded.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
mode=""
case "${1:-}" in
  --drive) mode=drive; shift ;;
  --by-hand) mode=hand; shift ;;
esac
build=${1:-$repo/build}
mkdir -p "$build" && build=$(cd "$build" && pwd)
standin_target=standin_installer

if [ "${BM_ROAD_NETNS:-}" != inside ]; then
  # Setting up needs the package network: before the private network below.
  "$here/setup.sh" || { echo "FAILED: setup" >&2; exit 1; }
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null || { echo "FAILED: configure" >&2; exit 1; }
  fi
  cmake --build "$build" -j"$(nproc)" --target BrinemarchDownloader engine_binary bm_driver "$standin_target" ||
    { echo "FAILED: build" >&2; exit 1; }
  if [ -z "$mode" ]; then
    mode=drive
    [ -n "${DISPLAY:-}" ] && [ -t 0 ] && [ -t 1 ] && [ -z "${CI:-}" ] && mode=hand
  fi
  export BM_RUN_MODE=$mode
  if [ "$mode" = hand ]; then
    export BM_USE_DISPLAY=1
    # A display reached over the network (ssh forwarding) is not there in a private network.
    case "$DISPLAY" in :*) ;; *) export BM_ROAD_NETNS=off ;; esac
  fi
fi
mode=${BM_RUN_MODE:-drive}

. "$repo/tools/driver/road.sh" "$repo" "$build" "$build/run/wine"
road_enter_netns "$0" "$@"

run="$build/run"
installer="$build/standin_installer/Brinemarch.part1.exe"
[ -f "$installer" ] || road_fail "missing the stand-in installer $installer"
share=(--preset demo --installer "$installer")
save="$run/app/Brinemarch"

road_wine
# The emulator, the program, its engine, the Wine server and the display end with the job.
trap road_stop EXIT

road_stage "$run/app"
# Each stream at most 8 MiB/s, about what one connection to the real drive gives: the run
# then lasts long enough for its running picture to show every row.
road_emulator_start "$run/drive" "${share[@]}" --stream-throttle 8388608
road_say "run: drive emulator serving the demo share on http://127.0.0.1:$road_http_port/ (log: $run/drive/requests.jsonl)"

if [ "$mode" = hand ]; then
  road_app_start
  road_say "run: the downloader is on display $DISPLAY: press 开始下载, then 安装游戏 (or close it)"
  wait "$road_app_pid"
  road_say "run: the downloader has ended"
  [ -d "$save" ] || road_fail "nothing was downloaded (no $save)"
  verified=$(road_verify "$save" "${share[@]}") || road_fail "the save folder does not hold the whole share"
  files=${verified% *}
  bytes=${verified#* }
  printf 'summary: %s files, %s bytes checked in %s\n' "$files" "$bytes" "$save"
  exit 0
fi

road_shots="$build/screenshots"
rm -rf "$road_shots"
road_app_start
road_drive --marker Brinemarch.part1.started.txt || road_fail "the downloader did not complete the road: $road_result"
verified=$(road_verify "$save" "${share[@]}") || road_fail "the save folder does not hold the whole share"
files=${verified% *}
bytes=${verified#* }
awk -v f="$files" -v b="$bytes" -v s="$road_run_seconds" -v r="$road_ready_seconds" -v c="$road_cpu_seconds" \
    -v m="$road_peak_kib" 'BEGIN {
  printf "summary: %d files, %d bytes (%.1f MiB) in %.2f s, %.1f MiB/s; ready %.2f s after start; program CPU %s s, peak memory %s KiB\n",
    f, b, b / 1048576, s, (s > 0 ? b / 1048576 / s : 0), r, c, m }'
road_say "run: all files intact, installer started from the save folder; screenshots in $road_shots"
