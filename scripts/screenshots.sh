#!/usr/bin/env bash
# Screenshots of the downloader's three states, saved as PNG under BUILD_DIR/screenshots:
#   ready.png     after start-up (engine answered, save folder filled in)
#   running.png   during a download run (list filling, start button disabled)
#   finished.png  after the run (finished picture, "安装游戏")
#   failed.png    a second run from an empty folder whose parts the drive refuses: the box
#                 that says why
# Runs the program under Wine on the build's virtual display against the drive emulator
# (demo share with the stand-in installer, streams slowed so the run can be seen), clicks
# its buttons through the X server's test extension and ends it with its close button.
# usage: scripts/screenshots.sh [BUILD_DIR]   (the build must be configured; targets are built)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
shots="$build/screenshots"
state="$build/screenshots/emulator"
mkdir -p "$shots" "$state"

cmake --build "$build" --target BrinemarchDownloader standin_installer -j2 >/dev/null
[ -f "$build/bin/aria2c.exe" ] || { echo "screenshots: $build/bin/aria2c.exe missing (scripts/setup.sh)" >&2; exit 1; }

# The drive port the program was built for.
origin=$(sed -n 's/^#define BRINEMARCH_LIST_ORIGIN L"\(.*\)"$/\1/p' "$build/generated/build_config.h")
port=${origin##*:}
case "$origin" in
  http://127.0.0.1:*) ;;
  *) echo "screenshots: this build talks to $origin, not to a local emulator" >&2; exit 1 ;;
esac

. "$here/wine-env.sh" "$build"
bm_wine_ready

emulator_pid=
app_pid=
cleanup() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
  if [ -n "$emulator_pid" ]; then kill "$emulator_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

"$repo/tools/drive_emulator/make-cert.sh" "$state/tls" >/dev/null
sign=()
[ -s "$build/test_manifest_key/in-use" ] && sign=(--sign-key "$(cat "$build/test_manifest_key/in-use")")
python3 "$repo/tools/drive_emulator/drive_emulator.py" --port "$port" --tls-port 0 "${sign[@]}" \
  --tls-cert "$state/tls/emulator-cert.pem" --tls-key "$state/tls/emulator-key.pem" \
  --installer "$build/standin_installer/Brinemarch.part1.exe" --part-size-mib 2 \
  --stream-throttle 400000 --port-file "$state/ports.json" >"$state/emulator.out" 2>&1 &
emulator_pid=$!
for _ in $(seq 100); do [ -s "$state/ports.json" ] && break; sleep 0.1; done
[ -s "$state/ports.json" ] || { cat "$state/emulator.out" >&2; exit 1; }

# A fresh save folder: the default one beside the program.
save="$build/bin/Brinemarch"
rm -rf "$save"

# Clicks at a point of the screen through XTEST.
click() {
  python3 - "$1" "$2" <<'PY'
import ctypes, sys, time
x11 = ctypes.CDLL("libX11.so.6")
xtst = ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
display = x11.XOpenDisplay(None)
if not display:
    sys.exit("cannot open the display")
x, y = int(sys.argv[1]), int(sys.argv[2])
xtst.XTestFakeMotionEvent(ctypes.c_void_p(display), -1, x, y, 0)
x11.XFlush(ctypes.c_void_p(display))
time.sleep(0.2)
for down in (1, 0):
    xtst.XTestFakeButtonEvent(ctypes.c_void_p(display), 1, down, 0)
    x11.XFlush(ctypes.c_void_p(display))
    time.sleep(0.1)
x11.XCloseDisplay(ctypes.c_void_p(display))
PY
}

# The main window once it is shown with its final frame (it is created with a caption that
# the form then takes away): its absolute position.
wine "$build/bin/BrinemarchDownloader.exe" >/dev/null 2>&1 &
app_pid=$!
left=
top=
for _ in $(seq 150); do
  info=$(xwininfo -name "BrinemarchOL下载器" 2>/dev/null || true)
  if echo "$info" | grep -q "Width: 624" && echo "$info" | grep -q "Height: 375"; then
    left=$(echo "$info" | sed -n 's/.*Absolute upper-left X: *\([0-9-]*\).*/\1/p')
    top=$(echo "$info" | sed -n 's/.*Absolute upper-left Y: *\([0-9-]*\).*/\1/p')
    break
  fi
  sleep 0.2
done
[ -n "$left" ] || { echo "screenshots: the window did not appear" >&2; exit 1; }
geometry="624x375+$left+$top"

shot() {
  import -window root -crop "$geometry" +repage "$shots/$1.png"
  echo "screenshots: $shots/$1.png"
}

sleep 1
shot ready

click $((left + 572)) $((top + 352))  # "开始下载"
for _ in $(seq 100); do
  compgen -G "$save/*.aria2" >/dev/null && break
  sleep 0.1
done
sleep 2
shot running

# Finished: every file of the share is there and no control file is left.
for _ in $(seq 600); do
  files=$(find "$save" -type f ! -name '*.aria2' ! -name '.brinemarch-downloads' 2>/dev/null | wc -l || true)
  controls=$(find "$save" -type f -name '*.aria2' 2>/dev/null | wc -l || true)
  [ "$files" -ge 10 ] && [ "$controls" -eq 0 ] && break
  sleep 0.2
done
sleep 2
shot finished

click $((left + 601)) $((top + 14))  # the close button
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
app_pid=

# Failed: the drive refuses every part's stream; the box names the first part and why.
ports_http=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["http"])' "$state/ports.json")
curl -s -o /dev/null -X POST -H 'Content-Type: application/json' \
  -d '{"stream": {"status": 404}}' "http://127.0.0.1:$ports_http/__control"
rm -rf "$save"
wine "$build/bin/BrinemarchDownloader.exe" >/dev/null 2>&1 &
app_pid=$!
shown=
for _ in $(seq 150); do
  xwininfo -name "BrinemarchOL下载器" 2>/dev/null | grep -q "Width: 624" && shown=1 && break
  sleep 0.2
done
[ -n "$shown" ] || { echo "screenshots: the window did not appear again" >&2; exit 1; }
sleep 1
click $((left + 572)) $((top + 352))  # "开始下载"
for _ in $(seq 100); do
  xwininfo -name "信息:" >/dev/null 2>&1 && break
  sleep 0.2
done
sleep 1
import -window root -crop "$geometry" +repage "$shots/failed.png"
echo "screenshots: $shots/failed.png"
kill "$app_pid" 2>/dev/null || true
app_pid=
