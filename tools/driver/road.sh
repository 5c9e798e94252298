# shellcheck shell=bash
# The road_* figures set here are read by the scripts that source this file.
# shellcheck disable=SC2034
# The road of one download run, shared by scripts/run.sh, the end-to-end test and the
# benchmark scripts: a private loopback network, the drive emulator on the port
# the program was built for, the program under Wine in a folder of its own, the driver
# pressing its buttons (with a screenshot at every state it reports), and the check of
# every downloaded file against the emulator's manifest.
#
# usage (sourced): . road.sh REPO BUILD_DIR WINE_DIR
#   WINE_DIR holds the road's own Wine prefix and virtual display. Wine opens every socket
#   in its server, so the road needs a Wine server of its own, started inside the private
#   network: one shared with other programs would open the program's connections outside.
# then: road_enter_netns "$0" "$@" (first thing, re-runs the caller), road_wine,
#       road_stage DIR, road_emulator_start DIR ARGS..., road_app_start,
#       road_drive [DRIVER ARGS...], road_app_end, road_verify SHARE ARGS..., road_stop.

road_repo=$1
road_build=$2
road_wine_dir=$3
road_driver="$road_build/tools/bm_driver.exe"
road_http_port=18430
road_emulator_pid=""
road_app_pid=""
road_app_dir=""
road_state_dir=""
road_shots=""
road_result=""
road_ready_line=""
road_ready_seconds=""
road_run_seconds=""
road_run_ended=""
road_cpu_seconds=""
road_ready_cpu_seconds=""
road_engine_cpu_seconds=""
road_peak_kib=""
road_engine_peak_kib=""
road_private_kib=""
road_peak_private_kib=""
road_server_cpu_seconds=""
road_counter_pid=""

road_say() { printf '%s\n' "$*"; }
road_fail() { printf 'FAILED: %s\n' "$*" >&2; exit 1; }

# Runs the caller again inside a network namespace of its own, with only a loopback
# device: the emulator's fixed port and the engine's fixed ports (7022 and up) can then
# never meet another program's. Skipped when namespaces are not allowed (not root) or
# BM_ROAD_NETNS=off.
road_enter_netns() {
  local script=$1
  shift
  if [ "${BM_ROAD_NETNS:-}" = inside ]; then
    ip link set lo up 2>/dev/null || road_fail "cannot bring up the loopback device of the private network"
    return 0
  fi
  [ "${BM_ROAD_NETNS:-}" = off ] && return 0
  if unshare -n true 2>/dev/null && command -v ip >/dev/null; then
    BM_ROAD_NETNS=inside exec unshare -n -- bash "$script" "$@"
  fi
}

# How the private loopback acknowledges what it receives: "delayed" (as Linux sets it: a
# peer that has just answered holds its acknowledgement up to 40 ms, hoping to send it with
# the next answer) or "immediate" (the route's quickack). Wine's WinHTTP sends a POST's head
# and body in two writes, and the body then waits for the head's acknowledgement, so under
# "delayed" every JSON-RPC request of the program costs about 44 ms. Only possible inside
# the road's own network namespace; connections opened afterwards follow it.
road_loopback_acks() {
  local mode=$1 quick=()
  if [ "${BM_ROAD_NETNS:-}" != inside ]; then
    [ "$mode" = delayed ] && return 0
    road_fail "immediate acknowledgements need the road's own network namespace"
  fi
  [ "$mode" = immediate ] && quick=(quickack 1)
  if ! ip route replace local 127.0.0.0/8 dev lo proto kernel scope host src 127.0.0.1 table local "${quick[@]}" ||
    ! ip route replace local 127.0.0.1 dev lo proto kernel scope host src 127.0.0.1 table local "${quick[@]}"; then
    road_fail "cannot set the loopback's acknowledgements to $mode"
  fi
}

road_wine() {
  mkdir -p "$road_wine_dir"
  # shellcheck source=../../scripts/wine-env.sh
  . "$road_repo/scripts/wine-env.sh" "$road_wine_dir"
  # A server of this prefix left from an earlier road may live in another network.
  wineserver -k 2>/dev/null
  bm_wine_ready || road_fail "Wine is not ready (prefix $WINEPREFIX)"
}

# Ends the road's Wine server (and with it every program of the prefix) and its display.
road_wine_stop() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k 2>/dev/null
  local n pid
  if [ -f "$road_wine_dir/xvfb.display" ] && read -r n pid <"$road_wine_dir/xvfb.display"; then
    [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
    rm -f "$road_wine_dir/xvfb.display"
  fi
  return 0
}

# road_counter_start FILE: tools/driver/rpc_counter.py writes the time of every JSON-RPC
# request to the engine's ports into FILE until road_counter_stop. It reads the loopback
# device with a raw socket: root, in the road's own network namespace.
road_counter_start() {
  local file=$1 _
  rm -f "$file" "$file.ready"
  python3 "$road_repo/tools/driver/rpc_counter.py" "$file" --ready-file "$file.ready" 2>"$file.err" &
  road_counter_pid=$!
  for _ in $(seq 100); do [ -e "$file.ready" ] && return 0; sleep 0.05; done
  cat "$file.err" >&2
  road_fail "the RPC counter did not start (needs root)"
}

road_counter_stop() {
  [ -n "$road_counter_pid" ] || return 0
  kill "$road_counter_pid" 2>/dev/null
  wait "$road_counter_pid" 2>/dev/null
  road_counter_pid=""
}

# The program as a player has it: the program, the engine, its settings and its empty session
# file in one folder.
road_stage() {
  road_app_dir=$1
  rm -rf "$road_app_dir"
  mkdir -p "$road_app_dir"
  local f
  for f in BrinemarchDownloader.exe aria2c.exe aria2.conf; do
    [ -f "$road_build/bin/$f" ] || road_fail "missing $road_build/bin/$f (build first)"
    cp "$road_build/bin/$f" "$road_app_dir/"
  done
  # The players' ZIP ships the engine's session file empty (cmake/Package.cmake).
  : >"$road_app_dir/aria2.session"
  [ -f "$road_driver" ] || road_fail "missing $road_driver (build the target bm_driver)"
}

# road_emulator_start STATE_DIR [EMULATOR ARGS...]: the drive emulator on the built-in
# port, its request log and output in STATE_DIR.
road_emulator_start() {
  road_state_dir=$1
  shift
  mkdir -p "$road_state_dir"
  rm -f "$road_state_dir/ports.json"
  # A build with its own test key expects every share signed with it.
  local sign=()
  [ -s "$road_build/test_manifest_key/in-use" ] && sign=(--sign-key "$(cat "$road_build/test_manifest_key/in-use")")
  setsid python3 "$road_repo/tools/drive_emulator/drive_emulator.py" --port "$road_http_port" \
    --port-file "$road_state_dir/ports.json" --log "$road_state_dir/requests.jsonl" "${sign[@]}" "$@" \
    >"$road_state_dir/emulator.out" 2>&1 </dev/null &
  road_emulator_pid=$!
  local _
  for _ in $(seq 200); do
    [ -s "$road_state_dir/ports.json" ] && return 0
    kill -0 "$road_emulator_pid" 2>/dev/null || break
    sleep 0.05
  done
  cat "$road_state_dir/emulator.out" >&2
  road_fail "the drive emulator did not start on port $road_http_port"
}

# Asks the emulator to end and, when it has not within five seconds, ends it.
road_emulator_stop() {
  [ -n "$road_emulator_pid" ] || return 0
  if kill "$road_emulator_pid" 2>/dev/null; then
    local _
    for _ in $(seq 50); do kill -0 "$road_emulator_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$road_emulator_pid" 2>/dev/null
  fi
  wait "$road_emulator_pid" 2>/dev/null
  road_emulator_pid=""
  return 0
}

road_app_start() {
  road_app_t0=$(date +%s.%N)
  (cd "$road_app_dir" && exec wine BrinemarchDownloader.exe) >"$road_state_dir/app.out" 2>&1 </dev/null &
  road_app_pid=$!
}

# Whether a process runs (a child that has ended but is not yet waited for does not).
road_running() {
  local stat
  stat=$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null) && [ "${stat:0:1}" != Z ]
}

# Ends the road's program for good, so the next one starts on a clean road: the program has
# ended when the driver said so, and its engine follows it within a second or two. Whatever
# still runs after that (a run that failed half-way, a message box the driver did not expect)
# goes with the road's whole Wine server: an old window of the same title or an engine on the
# fixed ports would spoil the next run.
road_app_end() {
  [ -n "$road_app_pid" ] || return 0
  local _ left=""
  for _ in $(seq 100); do road_running "$road_app_pid" || break; sleep 0.1; done
  if road_running "$road_app_pid"; then
    left="the program"
  else
    for _ in $(seq 50); do [ -z "$(road_engine_pid)" ] && break; sleep 0.1; done
    [ -z "$(road_engine_pid)" ] || left="the program's engine"
  fi
  if [ -n "$left" ]; then
    road_say "road: $left still ran after the run; ending every program of the road's Wine server"
    road_wine
  fi
  wait "$road_app_pid" 2>/dev/null
  road_app_pid=""
}

# Sum of user and system CPU seconds and the peak resident KiB of a Linux process.
road_proc_usage() {
  local pid=$1 stat ticks
  [ -r "/proc/$pid/stat" ] || { echo "- -"; return; }
  stat=$(sed 's/^.*) //' "/proc/$pid/stat")
  ticks=$(getconf CLK_TCK)
  awk -v t="$ticks" -v hwm="$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")" \
    '{printf "%.2f %s\n", ($12 + $13) / t, hwm}' <<<"$stat"
}

# CPU seconds the road's Wine server has used so far. Wine handles sockets and waits in its
# server, so much of a Windows program's networking cost shows there. The server works in a
# folder named after the prefix's device and inode.
road_wineserver_cpu() {
  local dir p
  dir=$(stat -c '%D %i' "$WINEPREFIX" 2>/dev/null) || { echo -; return; }
  dir=$(printf 'server-%x-%x' "0x${dir% *}" "${dir#* }")
  for p in /proc/[0-9]*; do
    if [ "$(cat "$p/comm" 2>/dev/null)" = wineserver64 ] || [ "$(cat "$p/comm" 2>/dev/null)" = wineserver ]; then
      case $(readlink "$p/cwd" 2>/dev/null) in
        */"$dir") road_proc_usage "${p#/proc/}" | cut -d' ' -f1; return ;;
      esac
    fi
  done
  echo -
}

# The Linux process of the engine this road's program started: Wine shows the Windows
# command line, which names the engine in our folder.
road_engine_pid() {
  local p exe
  exe="Z:${road_app_dir//\//\\}\\aria2c.exe"
  for p in /proc/[0-9]*; do
    if tr '\0' '\n' 2>/dev/null <"$p/cmdline" | head -n 1 | grep -qixF "$exe"; then
      echo "${p#/proc/}"
      return
    fi
  done
}

road_shoot() {
  [ -n "$road_shots" ] || return 0
  mkdir -p "$road_shots"
  if import -window root "$road_shots/$1.png" 2>/dev/null; then
    road_say "screenshot: $road_shots/$1.png"
  else
    road_say "screenshot of state $1 failed (display $DISPLAY)"
  fi
}

# road_drive [DRIVER ARGS...]: runs the driver, shoots the window at every state the driver
# pauses at, and records the figures of the run. Sets road_result to the driver's verdict.
road_drive() {
  local line state="" n=0 usage engine out in server_before="-" blank=""
  coproc ROAD_DRIVER { exec wine "$road_driver" --step "$@" 2>"$road_state_dir/driver.err"; }
  # Own copies of the pipe ends: bash closes the coprocess's when it ends, before its last
  # lines are read.
  exec {out}<&"${ROAD_DRIVER[0]}" {in}>&"${ROAD_DRIVER[1]}"
  local pid=$ROAD_DRIVER_PID
  while IFS= read -r line <&"$out"; do
    line=${line%$'\r'}
    case $line in
      "STATE "*)
        road_say "driver: $line"
        state=${line#STATE }
        state=${state%% *}
        case $state in
          ready)
            road_ready_line=$line
            road_ready_seconds=$(awk -v a="$road_app_t0" -v b="$(date +%s.%N)" 'BEGIN {printf "%.2f", b - a}')
            usage=$(road_proc_usage "$road_app_pid")
            road_ready_cpu_seconds=${usage% *}
            server_before=$(road_wineserver_cpu) ;;
          running)
            # Every row the list has room for must show its texts on screen, not only hold them.
            local files page lines
            files=$(sed -n 's/.* files=\([0-9]*\).*/\1/p' <<<"$line")
            page=$(sed -n 's/.* page_rows=\([0-9]*\).*/\1/p' <<<"$line")
            lines=$(sed -n 's/.* screen_lines=\([0-9-]*\).*/\1/p' <<<"$line")
            [ -n "$page" ] && [ "$page" -gt 0 ] && [ "$page" -lt "$files" ] && files=$page
            [ -n "$lines" ] && [ "$lines" -ge "$files" ] ||
              blank="fail the list showed ${lines:-no} lines of text on screen for $files rows it has room for" ;;
          finished|failed)
            road_run_ended=$(date +%s.%N)
            road_run_seconds=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line")
            # The program's own memory as Windows counts it (PagefileUsage), at the run's end.
            road_private_kib=$(sed -n 's/.* private_kib=\([0-9]*\).*/\1/p' <<<"$line")
            road_peak_private_kib=$(sed -n 's/.* peak_private_kib=\([0-9]*\).*/\1/p' <<<"$line")
            usage=$(road_proc_usage "$road_app_pid")
            road_cpu_seconds=${usage% *}
            road_peak_kib=${usage#* }
            road_server_cpu_seconds=$(awk -v a="$server_before" -v b="$(road_wineserver_cpu)" \
              'BEGIN {if (a == "-" || b == "-") print "-"; else printf "%.2f", b - a}')
            engine=$(road_engine_pid)
            if [ -n "$engine" ]; then
              usage=$(road_proc_usage "$engine")
              road_engine_cpu_seconds=${usage% *}
              road_engine_peak_kib=${usage#* }
            fi ;;
        esac ;;
      PAUSE)
        n=$((n + 1))
        road_shoot "$n-$state"
        # A road may look at the program at the states the driver pauses at.
        if declare -F road_on_pause >/dev/null; then road_on_pause "$state"; fi
        printf '\n' >&"$in" ;;
      "RESULT "*)
        road_say "driver: $line"
        road_result=${line#RESULT } ;;
      *)
        road_say "driver: $line" ;;
    esac
  done
  exec {out}<&- {in}>&-
  wait "$pid" 2>/dev/null
  [ -n "$road_result" ] || { cat "$road_state_dir/driver.err" >&2; road_result="fail the driver ended without a result"; }
  [ -z "$blank" ] || road_result=$blank
  [ "$road_result" = ok ]
}

# road_raw_engine_start DIR SECRET OUT: the build's aria2c.exe, copied into DIR with its
# settings, started under Wine with the program's command line (its own process id left out:
# nothing to stop with) and its output in OUT; road_raw_engine_pid is its process.
road_raw_engine_start() {
  local dir=$1 secret=$2 out=$3 w
  cp "$road_build/bin/aria2c.exe" "$road_build/bin/aria2.conf" "$dir/"
  : >"$dir/aria2.session"
  w="Z:${dir//\//\\}"
  (cd "$dir" && exec wine aria2c.exe --conf-path="$w\\aria2.conf" "#--save-session=$w\\aria2.session" \
    --input-file="$w\\aria2.session" --rpc-listen-port=7022 --listen-port=7055 --dht-listen-port=7033 \
    --enable-rpc=true --rpc-allow-origin-all=false --disable-ipv6=false --rpc-secret="$secret" \
    --enable-dht=true --enable-dht6=true --dht-file-path="${w//\\//}/dht.dat" \
    --dht-file-path6="${w//\\//}/dht6.dat" --bt-external-ip=127.0.0.1) >"$out" 2>&1 </dev/null &
  road_raw_engine_pid=$!
}
# Ends the engine road_raw_engine_start started, if it still runs.
road_raw_engine_stop() {
  if [ -n "${road_raw_engine_pid:-}" ] && kill -0 "$road_raw_engine_pid" 2>/dev/null; then
    kill "$road_raw_engine_pid" 2>/dev/null
    wait "$road_raw_engine_pid" 2>/dev/null
  fi
  road_raw_engine_pid=""
}

# road_verify SAVE_DIR [SHARE ARGS...]: every file of the share is in SAVE_DIR with the
# emulator's size and SHA-256, and no engine control file or backup is left. Prints
# "FILES BYTES" on success.
road_verify() {
  local save=$1
  shift
  python3 "$road_repo/tools/drive_emulator/drive_emulator.py" --manifest json "$@" >"$road_state_dir/manifest.json" ||
    road_fail "cannot build the emulator's manifest"
  python3 - "$save" "$road_state_dir/manifest.json" <<'EOF'
import hashlib, json, os, sys
save, manifest = sys.argv[1], json.load(open(sys.argv[2]))
bad, total = [], 0
for f in manifest["files"]:
    # The downloader keeps bare names: files of sub-folders land beside the others.
    path = os.path.join(save, f["name"])
    if not os.path.isfile(path):
        bad.append("missing " + f["name"]); continue
    h = hashlib.sha256()
    with open(path, "rb") as fh:
        for chunk in iter(lambda: fh.read(1 << 20), b""):
            h.update(chunk)
    size = os.path.getsize(path)
    if size != f["size"] or h.hexdigest() != f["sha256"]:
        bad.append("%s: %d bytes, sha256 %s (expected %d bytes, %s)" % (f["name"], size, h.hexdigest(), f["size"], f["sha256"]))
    total += size
for name in os.listdir(save):
    if name.endswith(".aria2") or name.endswith(".bak"):
        bad.append("left behind: " + name)
for b in bad:
    print("verify: " + b, file=sys.stderr)
if bad:
    sys.exit(1)
print(len(manifest["files"]), total)
EOF
}

# Ends what this road started: the driver, the program and its engine, the emulator, the
# road's Wine server and display.
road_stop() {
  road_counter_stop
  [ -n "${ROAD_DRIVER_PID:-}" ] && kill "$ROAD_DRIVER_PID" 2>/dev/null
  if [ -n "$road_app_pid" ] && kill -0 "$road_app_pid" 2>/dev/null; then
    kill "$road_app_pid" 2>/dev/null
  fi
  local engine
  engine=$(road_engine_pid)
  [ -n "$engine" ] && kill "$engine" 2>/dev/null
  road_emulator_stop
  road_wine_stop
}

# road_write_section FILE NAME < TEXT: puts TEXT into FILE between the markers of section NAME,
# replacing what an earlier run wrote there and keeping every other section (each benchmark
# script owns one section of docs/benchmarks.md). A new section goes at the end.
road_write_section() {
  # The program below comes in on Python's stdin, so the text goes by the environment.
  BM_SECTION_TEXT=$(cat) python3 - "$1" "$2" <<'PYEOF'
import os, sys
path, name = sys.argv[1], sys.argv[2]
begin, end = "<!-- begin %s -->" % name, "<!-- end %s -->" % name
text = os.environ["BM_SECTION_TEXT"].rstrip("\n")
old = open(path, encoding="utf-8").read() if os.path.exists(path) else "# Benchmarks\n"
block = "%s\n%s\n%s" % (begin, text, end)
if begin in old and end in old:
    new = old[:old.index(begin)] + block + old[old.index(end) + len(end):]
else:
    new = old.rstrip("\n") + "\n\n" + block + "\n"
with open(path, "w", encoding="utf-8") as f:
    f.write(new)
PYEOF
}
