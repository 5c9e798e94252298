# shellcheck shell=bash
# Sourced by the scripts that run our Windows programs: the private Wine prefix of a
# build folder, the players' Chinese locale, and a virtual display of our own.
# usage: . wine-env.sh BUILD_DIR   (then bm_wine_ready; programs run with "wine X.exe")

bm_build=$(cd "$1" && pwd)
export WINEPREFIX="$bm_build/wineprefix"
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono/Gecko install prompts: nothing of ours needs them. No crash debugger either: a
# program that crashes ends at once with its exception code instead of holding a test run
# for minutes in winedbg.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
# Only a generated zh_CN.UTF-8 locale gives Wine code page 936 and UTF-8 file names.
export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8

bm_start_display() {
  local file="$bm_build/xvfb.display" n pid
  if [ -f "$file" ]; then
    read -r n pid < "$file" || true
    if [ -n "${pid:-}" ] && kill -0 "$pid" 2>/dev/null; then export DISPLAY=":$n"; return 0; fi
  fi
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] && continue
    setsid Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp -ac >/dev/null 2>&1 < /dev/null 9>&- &
    pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then
      echo "$n $pid" > "$file"; export DISPLAY=":$n"; return 0
    fi
  done
  echo "wine-run: cannot start Xvfb" >&2
  return 1
}

# Creates the prefix once, starts the shared display and a persistent wineserver
# (a Wine process start costs about a second without one). Serialised by a lock,
# because ctest starts several programs at once.
bm_wine_ready() {
  exec 9>"$bm_build/wine.lock"
  flock 9
  if [ -n "${BM_USE_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ]; then :; else bm_start_display || { flock -u 9; return 1; }; fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 < /dev/null 9>&-
    # Drives of the kinds players start programs from, for the start-place tests: R: a
    # removable drive and N: a network drive (Wine reads a drive's kind from the registry
    # when its server starts).
    mkdir -p "$bm_build/wine-drives/removable" "$bm_build/wine-drives/network"
    ln -sfn "$bm_build/wine-drives/removable" "$WINEPREFIX/dosdevices/r:"
    ln -sfn "$bm_build/wine-drives/network" "$WINEPREFIX/dosdevices/n:"
    wine reg add 'HKLM\Software\Wine\Drives' /v r: /d floppy /f >/dev/null 2>&1 < /dev/null 9>&-
    wine reg add 'HKLM\Software\Wine\Drives' /v n: /d network /f >/dev/null 2>&1 < /dev/null 9>&-
    wineserver -w
  fi
  # Wine's own background processes (services, the desktop) are started by the first
  # program of a server's life and inherit its output; start them here, with output
  # to /dev/null, or they hold ctest's pipe open after the test has ended.
  setsid wineserver -p 600 >/dev/null 2>&1 < /dev/null 9>&- || true
  setsid wine cmd.exe /c exit >/dev/null 2>&1 < /dev/null 9>&- || true
  flock -u 9
  exec 9>&-
}

# Ends the build's wineserver (and every Wine process of the prefix) and its display.
bm_wine_stop() {
  wineserver -k 2>/dev/null || true
  local n pid
  if [ -f "$bm_build/xvfb.display" ] && read -r n pid < "$bm_build/xvfb.display"; then
    kill "$pid" 2>/dev/null || true
    rm -f "$bm_build/xvfb.display"
  fi
}
