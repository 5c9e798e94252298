#!/usr/bin/env bash
# Download throughput of BrinemarchDownloader.exe against the raw engine and against curl,
# over the local drive emulator in a loopback network of its own:
#   - the program, driven like a player (press 开始下载, wait for 安装游戏);
#   - the same aria2c.exe under Wine, started with the program's command line and fed the same
#     files with the same options over JSON-RPC by a minimal client (tools/driver/engine_client.py);
#   - curl on Linux, twelve transfers at a time.
# Shares: 12 files of 64 MiB, 120 files of 8 MiB and 1 file of 1 GiB. Every download is checked
# against the emulator's manifest. The headline is the program's time over the raw engine's.
# Also: CPU seconds and peak resident memory of the program and its engine, the program's CPU
# per GiB, its JSON-RPC requests a second (counted on the wire), its own private memory as
# Windows counts it, and its time from start to ready. Prints the table and writes it to docs/benchmarks.md; when a run failed,
# exits with 1 and leaves the file alone. The shares have no installer: the driver closes the
# program once the button reads 安装游戏.
#
# usage: scripts/bench-throughput.sh [BUILD_DIR]   (after a build: BrinemarchDownloader, bm_driver)
#   BM_BENCH_PROGRAM=0 leaves the program out (raw engine and curl only).
#   BM_BENCH_SHARES="12x64 120x8 1x1024" chooses the shares (files x MiB).
#   BM_BENCH_REPEAT=3 rounds per share; the table gives each client's median round.
#   BM_BENCH_ACKS="delayed immediate" the loopback's acknowledgement modes, each measured in
#   every round (see road_loopback_acks).
#   BM_BENCH_OUT=FILE writes the table there instead of docs/benchmarks.md (the smoke test).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=${1:-$repo/build}
build=$(cd "$build" && pwd)
. "$repo/tools/driver/road.sh" "$repo" "$build" "$build/bench/wine"
road_enter_netns "$0" "$@"

bench="$build/bench"
shares=${BM_BENCH_SHARES:-12x64 120x8 1x1024}
with_program=${BM_BENCH_PROGRAM:-1}
repeats=${BM_BENCH_REPEAT:-3}
ack_modes=${BM_BENCH_ACKS:-delayed immediate}
out=${BM_BENCH_OUT:-$repo/docs/benchmarks.md}
failures=0
[ -f "$build/bin/BrinemarchDownloader.exe" ] || with_program=0
[ -f "$build/bin/aria2c.exe" ] || road_fail "missing $build/bin/aria2c.exe (build first)"
cookie=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["download_cookie"])' \
  "$repo/tools/drive_emulator/defaults.json")
origin="http://127.0.0.1:$road_http_port"
secret=572

road_wine
trap 'road_raw_engine_stop; road_stop' EXIT

windows_path() { printf 'Z:%s' "${1//\//\\}"; }
mib_per_s() { awk -v b="$1" -v s="$2" 'BEGIN {printf "%.1f", (s > 0 ? b / 1048576 / s : 0)}'; }
kib_to_mib() { awk -v k="$1" 'BEGIN {if (k == "" || k == "-") print "-"; else printf "%.0f", k / 1024}'; }

rows=()
add_row() {
  rows+=("$(printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |' "$@")")
}

# The JSON-RPC requests the program sent during its run, a second: the RPC counter's times
# between the press of 开始下载 and 安装游戏 (the run's seconds before its end).
requests_per_second() {
  python3 - "$1" "$2" "$3" <<'EOF'
import sys
times = [float(t) for t in open(sys.argv[1])]
ended, seconds = float(sys.argv[2]), float(sys.argv[3])
inside = [t for t in times if ended - seconds <= t <= ended]
print("%.1f" % (len(inside) / seconds) if seconds > 0 else "-")
EOF
}

run_program() {
  local share_args=("$@")
  road_stage "$bench/app"
  road_result=""
  road_counter_start "$bench/program.rpc"
  road_app_start
  road_drive --close --run-timeout 3600 >"$bench/program.driver" ||
    { cat "$bench/program.driver"; road_say "bench: program run failed: $road_result"; road_counter_stop; road_app_end; return 1; }
  road_counter_stop
  road_app_end
  program_rpc=$(requests_per_second "$bench/program.rpc" "$road_run_ended" "$road_run_seconds")
  local verified
  verified=$(road_verify "$bench/app/Brinemarch" "${share_args[@]}") || return 1
  program_bytes=${verified#* }
  program_cpu_gib=$(awk -v a="$road_ready_cpu_seconds" -v b="$road_cpu_seconds" -v n="$program_bytes" \
    'BEGIN {if (a == "" || b == "" || a == "-" || b == "-" || n == 0) print "-"; else printf "%.2f", (b - a) / (n / 1073741824)}')
  rm -rf "$bench/app"
}

run_raw_engine() {
  local share_args=("$@") dir="$bench/raw"
  rm -rf "$dir" && mkdir -p "$dir/Brinemarch"
  road_raw_engine_start "$dir" $secret "$bench/raw-engine.out"
  local result server_before times w
  w=$(windows_path "$dir")
  server_before=$(road_wineserver_cpu)
  # A build with a manifest key checks every part against the signed manifest: so does the raw client.
  local verify=()
  [ -s "$build/test_manifest_key/in-use" ] && verify=(--verify)
  times=$( { TIMEFORMAT='%U %S'; time python3 "$repo/tools/driver/engine_client.py" --port 7022 --secret $secret \
    --manifest "$road_state_dir/manifest.json" --origin "$origin" --cookie "$cookie" --dir "$w\\Brinemarch" \
    "${verify[@]}" >"$bench/raw-client.out"; } 2>&1 ) || { cat "$bench/raw-client.out" >&2; road_raw_engine_stop; return 1; }
  result=$(cat "$bench/raw-client.out")
  raw_client_cpu=$(awk '{printf "%.2f", $1 + $2}' <<<"${times##*$'\n'}")
  raw_server_cpu=$(awk -v a="$server_before" -v b="$(road_wineserver_cpu)" \
    'BEGIN {if (a == "-" || b == "-") print "-"; else printf "%.2f", b - a}')
  local usage
  usage=$(road_proc_usage "$road_raw_engine_pid")
  raw_cpu=${usage% *}
  raw_peak=${usage#* }
  raw_seconds=${result##* }
  road_raw_engine_stop
  local verified
  verified=$(road_verify "$dir/Brinemarch" "${share_args[@]}") || return 1
  raw_bytes=${verified#* }
  rm -rf "$dir"
}

run_curl() {
  local dir="$bench/curl"
  rm -rf "$dir" && mkdir -p "$dir"
  local args=() name token
  while read -r name token; do
    args+=(-o "$dir/$name" "$origin/space/api/box/stream/download/all/$token")
  done < <(python3 -c 'import json, sys
for f in json.load(open(sys.argv[1]))["files"]: print(f["name"], f["token"])' "$road_state_dir/manifest.json")
  local times start end
  start=$(date +%s.%N)
  times=$( { TIMEFORMAT='%U %S'; time curl -sSf --parallel --parallel-max 12 -H "$cookie" "${args[@]}" >/dev/null; } 2>&1 ) ||
    return 1
  end=$(date +%s.%N)
  curl_seconds=$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f", b - a}')
  curl_cpu=$(awk '{printf "%.2f", $1 + $2}' <<<"${times##*$'\n'}")
  local verified
  verified=$(road_verify "$dir" "$@") || return 1
  curl_bytes=${verified#* }
  rm -rf "$dir"
}

# The runs of one loopback mode, without the mode.
# usage: runs_of MODE RUN...   (each run "mode|seconds|field|field...")
runs_of() {
  local mode=$1 run
  shift
  for run in "$@"; do [ "${run%%|*}" = "$mode" ] && printf '%s\n' "${run#*|}"; done
}
# The median of a client's runs ("seconds|field|field..." lines on stdin).
median_run() {
  local sorted count
  sorted=$(sort -t'|' -k1,1g)
  count=$(grep -c . <<<"$sorted")
  [ "$count" -gt 0 ] && sed -n "$(( (count + 1) / 2 ))p" <<<"$sorted"
}
# Every run's seconds, fastest first, for the spread.
spread() { cut -d'|' -f1 | sort -g | paste -sd' ' | sed 's/ / · /g'; }

# Adds the share's rows of one loopback mode to the table.
add_share_rows() {
  local label=$1 acks=$2 raw program curl
  raw=$(runs_of "$acks" "${raw_runs[@]}")
  program=$(runs_of "$acks" "${program_runs[@]}")
  curl=$(runs_of "$acks" "${curl_runs[@]}")
  raw_median=""
  if [ -n "$raw" ]; then
    IFS='|' read -r raw_median r_mibs r_client r_engine r_server r_peak <<<"$(median_run <<<"$raw")"
    add_row "$label" "$acks" "aria2c.exe + minimal RPC client" "$raw_median" "$(spread <<<"$raw")" "$r_mibs" "1.00" "1.00" \
      "$r_client" "$r_engine" "$r_server" "-" "-" "- / $r_peak" "-" "-"
  else
    add_row "$label" "$acks" "aria2c.exe + minimal RPC client" "failed" "-" "-" "-" "-" "-" "-" "-" "-" "-" "-" "-" "-"
  fi
  if [ "$with_program" != 1 ]; then
    add_row "$label" "$acks" "BrinemarchDownloader.exe" "not measured" "-" "-" "-" "-" "-" "-" "-" "-" "-" "-" "-" "-"
  elif [ -n "$program" ] && [ "$(grep -c . <<<"$program")" -eq "$repeats" ]; then
    IFS='|' read -r p_seconds p_mibs p_client p_engine p_server p_peak p_ready p_rpc p_cpu_gib p_private \
      <<<"$(median_run <<<"$program")"
    local ratio
    ratio=$(ratio_to_raw "$p_seconds")
    local paired
    paired=$(paired_ratio program "$acks")
    road_say "bench: program median ${p_seconds}s with $acks acks (ratio $ratio, round by round $paired)"
    add_row "$label" "$acks" "**BrinemarchDownloader.exe**" "$p_seconds" "$(spread <<<"$program")" "$p_mibs" "**$ratio**" "**$paired**" \
      "$p_client" "$p_engine" "$p_server" "**$p_cpu_gib**" "**$p_rpc**" "$p_peak" "**$p_private**" "$p_ready"
  else
    add_row "$label" "$acks" "BrinemarchDownloader.exe" "failed $(( repeats - $(grep -c . <<<"$program") )) of $repeats" "-" "-" "-" "-" "-" "-" "-" "-" "-" "-" "-" "-"
  fi
  if [ -n "$curl" ]; then
    IFS='|' read -r c_seconds c_mibs c_cpu <<<"$(median_run <<<"$curl")"
    add_row "$label" "$acks" "curl (Linux), up to 12 at a time" "$c_seconds" "$(spread <<<"$curl")" "$c_mibs" \
      "$(ratio_to_raw "$c_seconds")" "$(paired_ratio curl "$acks")" "$c_cpu" "-" "-" "-" "-" "-" "-" "-"
  else
    add_row "$label" "$acks" "curl (Linux), up to 12 at a time" "failed" "-" "-" "-" "-" "-" "-" "-" "-" "-" "-" "-" "-"
  fi
}
# The median over the rounds of a client's time over the raw engine's time in the same round.
# usage: paired_ratio CLIENT MODE
paired_ratio() {
  local round ratios=()
  for round in $(seq "$repeats"); do
    local c=${round_seconds["$1 $2 $round"]:-} r=${round_seconds["raw $2 $round"]:-}
    [ -n "$c" ] && [ -n "$r" ] && ratios+=("$(awk -v c="$c" -v r="$r" 'BEGIN {printf "%.3f", c / r}')")
  done
  [ ${#ratios[@]} -gt 0 ] || { echo -; return; }
  printf '%s\n' "${ratios[@]}" | sort -g | awk '{v[NR] = $1} END {printf "%.2f", v[int((NR + 1) / 2)]}'
}
ratio_to_raw() { awk -v p="$1" -v r="$raw_median" 'BEGIN {if (r > 0) printf "%.2f", p / r; else print "-"}'; }

for share in $shares; do
  files=${share%x*}
  mib=${share#*x}
  share_args=(--files "$files" --file-size-mib "$mib")
  label="$files × $mib MiB"
  road_say "bench: share $label, $repeats rounds"
  road_emulator_start "$bench/drive" "${share_args[@]}"
  python3 "$repo/tools/drive_emulator/drive_emulator.py" --manifest json "${share_args[@]}" \
    >"$road_state_dir/manifest.json"

  # The clients take turns, round after round, so a slow spell of the machine hits them alike.
  raw_runs=() program_runs=() curl_runs=()
  declare -A round_seconds=()
  for round in $(seq "$repeats"); do
    for acks in $ack_modes; do
      road_loopback_acks "$acks"
      if run_raw_engine "${share_args[@]}"; then
        road_say "bench: round $round ($acks acks) raw engine ${raw_seconds}s"
        round_seconds["raw $acks $round"]=$raw_seconds
        raw_runs+=("$acks|$raw_seconds|$(mib_per_s "$raw_bytes" "$raw_seconds")|$raw_client_cpu|$raw_cpu|$raw_server_cpu|$(kib_to_mib "$raw_peak")")
      else
        road_say "bench: round $round ($acks acks) raw engine run failed"
        failures=$((failures + 1))
      fi
      if [ "$with_program" = 1 ]; then
        road_cpu_seconds="" road_engine_cpu_seconds="" road_peak_kib="" road_engine_peak_kib=""
        road_private_kib="" road_peak_private_kib=""
        if run_program "${share_args[@]}"; then
          road_say "bench: round $round ($acks acks) program ${road_run_seconds}s"
          round_seconds["program $acks $round"]=$road_run_seconds
          program_runs+=("$acks|$road_run_seconds|$(mib_per_s "$program_bytes" "$road_run_seconds")|$road_cpu_seconds|${road_engine_cpu_seconds:--}|${road_server_cpu_seconds:--}|$(kib_to_mib "$road_peak_kib") / $(kib_to_mib "$road_engine_peak_kib")|$road_ready_seconds|$program_rpc|$program_cpu_gib|$(kib_to_mib "$road_private_kib") / $(kib_to_mib "$road_peak_private_kib")")
        else
          failures=$((failures + 1))
        fi
      fi
      if run_curl "${share_args[@]}"; then
        road_say "bench: round $round ($acks acks) curl ${curl_seconds}s"
        round_seconds["curl $acks $round"]=$curl_seconds
        curl_runs+=("$acks|$curl_seconds|$(mib_per_s "$curl_bytes" "$curl_seconds")|$curl_cpu")
      else
        road_say "bench: round $round ($acks acks) curl run failed"
        failures=$((failures + 1))
      fi
    done
  done

  for acks in $ack_modes; do
    add_share_rows "$label" "$acks"
  done

  road_emulator_stop
done
rm -rf "$bench/drive" "$bench/app" "$bench/raw" "$bench/curl"

cpu=$(LC_ALL=C lscpu | sed -n 's/^Model name: *//p' | head -n 1)
memory=$(awk '/^MemTotal:/ {printf "%.0f", $2 / 1048576}' /proc/meminfo)
machine="$cpu, $(nproc) cores, $memory GiB memory, Linux $(uname -r), $(wine --version 2>/dev/null), Python $(python3 -c 'import platform; print(platform.python_version())'), $(curl --version | head -n 1 | cut -d' ' -f1-2)"
table=$(
  echo "| share | loopback acks | client | seconds (median) | every round | MiB/s | time ÷ raw engine | same round ÷ raw engine (median) | CPU s client | CPU s engine | CPU s Wine server | program CPU s per GiB | program requests/s | peak RSS MiB client / engine | program private MiB at end / peak | ready s |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
  printf '%s\n' "${rows[@]}"
)
printf '\n%s\n\nmachine: %s\n' "$table" "$machine"
[ "$failures" = 0 ] || road_fail "$failures runs failed; $out is left as it was"

road_write_section "$out" throughput <<EOF
## Throughput against the raw engine

Measured with \`scripts/bench-throughput.sh\` on $(date -u +%Y-%m-%d), $repeats rounds per share.

Machine: $machine.
The machine is shared with other work: the figures vary by some per cent from run to run.

$table

- Everything runs on one machine over loopback, in a private network namespace: the drive
  emulator (\`tools/drive_emulator\`, Python, \`sendfile\`) serves generated files; the
  download cookie is checked on every request. Every downloaded file is checked against the
  emulator's SHA-256 manifest.
- **seconds**: for the program, from pressing 开始下载 until the button reads 安装游戏
  (folder listing, adds, downloads, the last status poll); for the raw engine, from the first
  addUri until the last download reports complete; for curl, the whole command.
- **time ÷ raw engine**: the median program time over the median raw-engine time. **same
  round ÷ raw engine**: the median of each round's own ratio (the clients take turns within
  a round, so a slow spell of the machine weighs on both); the headline. The program and the
  raw client use the same aria2c.exe with the same command line and the same per-download
  options (split 32, resumption, preallocation, the cookie line, at most twelve open, and
  each file's SHA-256 from the signed manifest for the engine to check when the build has a
  manifest key, as the default build has).
- **CPU s**: user + system seconds of the Linux process (Wine's process for the Windows
  programs). The client of the program is BrinemarchDownloader.exe itself, its engine the
  aria2c.exe it started; the raw engine's client is the Python RPC client. **Wine server**:
  what the road's own Wine server spent during the run; Wine handles sockets and waits
  there, so part of the Windows programs' networking cost shows in it.
- **loopback acks**: every round measures every client twice, with the private loopback as
  Linux sets it (**delayed**: a side that has just answered holds its acknowledgement up to
  40 ms, hoping to send it with its next answer) and with the loopback route's quickack
  (**immediate**). Wine's WinHTTP writes a POST's head and body in two sends (even with the
  body handed to WinHttpSendRequest with the head), and with delayed acknowledgements the
  body waits for the head's: a POST takes about 44 ms, a GET about 1 ms
  (\`scripts/bench-http.sh\`). The program sends its engine each request in a GET's URL, so
  both modes see about 1 ms a request. The raw client writes each request in one piece and
  polls every 50 ms.
- **program CPU s per GiB**: user + system seconds of the program's process from its ready
  window to the end of the run, over the bytes downloaded (the engine not counted).
- **program requests/s**: JSON-RPC requests the program sent its engine between 开始下载 and
  安装游戏, counted on the loopback device by \`tools/driver/rpc_counter.py\` (TCP segments to
  the engine's RPC ports that begin "GET /jsonrpc" or "POST /jsonrpc"): the adds, and the poller's looks, one
  request per look (a system.multicall of the tellStatus calls of every open part), a look
  every 100 ms while a part is open and none while none is.
- **program private MiB**: PagefileUsage of the program's process at the run's end (its own
  committed memory, the figure Windows' Task Manager shows), then PeakPagefileUsage, read by
  the driver with GetProcessMemoryInfo.
- What the program does to keep its own share small: one request per look whatever the
  number of parts, asking only the keys its rows and its run read; a look every 100 ms (sooner
  when a part is due to end)
  rather than as fast as the engine answers (the engine answers on the thread that moves
  its downloads); each row reaches the window's thread in one message, unchanged cells are
  not set again, its windows' objects are found without asking the Wine server, and the
  run waits for changes of the task table instead of looking every millisecond. Windows'
  own WinHTTP, loopback and painting are not measured here.
- **every round**: the rounds' times, fastest first. The machine's own variation between
  rounds is as large as the difference between the clients: compare medians.
- **ready s**: from starting BrinemarchDownloader.exe under Wine until the window shows its
  save folder (engine started and answering).
- **peak RSS**: VmHWM of the process, Wine's own libraries included.
- The shares: 12 × 64 MiB and 120 × 8 MiB cost the program the same number of open parts
  (at most twelve) but ten times the adds and row reports; 1 × 1 GiB is one long part.
EOF
road_say "bench: table written to $out (section throughput)"
