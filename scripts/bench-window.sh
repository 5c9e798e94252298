#!/usr/bin/env bash
# How the window of BrinemarchDownloader.exe keeps up, measured under Wine over the local
# drive emulator in a loopback network of its own:
#   1. start to painted and to ready: from starting the program until its window is shown and
#      painted, and until it shows the save folder (the engine answered), median of several
#      starts, each closed with its × button; again while another program holds port 7022;
#   2. row-update latency: from the last byte of a file leaving the emulator until the driver
#      reads "完成"/"完毕" in that file's row (a paced share of 24 files);
#   3. the longest time the window's thread left messages waiting: WM_NULL round trips from
#      the driver during the paced run;
#   4. the program's own CPU seconds per GiB downloaded (12 x 64 MiB, unpaced, the driver
#      neither reading rows nor sending WM_NULL: each every millisecond or two costs the
#      window's thread more than the run does);
#   5. JSON-RPC requests per second the program sends to its engine, counted on the wire;
#   6. peak memory of the program during the runs, and its own private memory as Windows
#      counts it (PagefileUsage) at each run's end and at its peak.
# Every download is checked against the emulator's manifest. Prints the table and writes it to
# docs/benchmarks.md (section window); when a start or a run failed, exits with 1 and leaves the
# file alone. The shares have no installer: the driver closes the program after each run.
#
# usage: scripts/bench-window.sh [BUILD_DIR]   (after a build: BrinemarchDownloader, bm_driver)
#   BM_BENCH_STARTS=5 starts for figure 1 (each way).
#   BM_BENCH_ACKS=delayed how the loopback acknowledges (delayed or immediate, see
#   road_loopback_acks); each mode has its own section of docs/benchmarks.md.
#   BM_BENCH_FULL=12x64 the full-speed run's share (files x MiB); BM_BENCH_OUT=FILE writes the
#   table there instead of docs/benchmarks.md (the smoke test runs a small share).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=${1:-$repo/build}
build=$(cd "$build" && pwd)
. "$repo/tools/driver/road.sh" "$repo" "$build" "$build/bench-window/wine"
road_enter_netns "$0" "$@"

work="$build/bench-window"
starts=${BM_BENCH_STARTS:-5}
acks=${BM_BENCH_ACKS:-delayed}
full=${BM_BENCH_FULL:-12x64}
full_files=${full%x*}
full_mib=${full#*x}
out=${BM_BENCH_OUT:-$repo/docs/benchmarks.md}
road_loopback_acks "$acks"

mkdir -p "$work"
road_wine
trap road_stop EXIT

# Median and the sorted list of numbers given one per line.
median() { sort -g | awk 'NF {v[++n] = $1} END {if (n) print v[int((n + 1) / 2)]; else print "-"}'; }

# -- 1. start to painted and to ready ---------------------------------------------------------
# measure_starts: BM_BENCH_STARTS starts, each closed with ×; fills shown_runs and ready_runs
# (seconds from the process start; a start that never became ready has only the first) and
# start_failures (how many never became ready, and the last one's reason).
measure_starts() {
  shown_runs=() ready_runs=() start_failures=0 start_failure=
  local i line shown_at ready_at result ready_out
  for i in $(seq "$starts"); do
    road_stage "$work/app"
    coproc READY_DRIVER { exec wine "$road_driver" --ready-close 2>>"$road_state_dir/driver.err"; }
    exec {ready_out}<&"${READY_DRIVER[0]}"
    shown_at="" ready_at="" result=""
    while IFS= read -r line <&"$ready_out"; do
      line=${line%$'\r'}
      case $line in
        "STATE looking") road_app_start ;;
        "SHOWN at="*) shown_at=${line#SHOWN at=} ;;
        "READY at="*) ready_at=${line#READY at=} ;;
        "RESULT "*) result=${line#RESULT } ;;
      esac
    done
    exec {ready_out}<&-
    road_app_end
    [ -n "$shown_at" ] && shown_runs+=("$(awk -v a="$road_app_t0" -v b="$shown_at" 'BEGIN {printf "%.2f", b - a}')")
    if [ "$result" = ok ] && [ -n "$ready_at" ] && [ -n "$shown_at" ]; then
      ready_runs+=("$(awk -v a="$road_app_t0" -v b="$ready_at" 'BEGIN {printf "%.2f", b - a}')")
      road_say "bench: start $i painted after ${shown_runs[-1]} s, ready after ${ready_runs[-1]} s"
    else
      start_failure=${result:-no painted window seen}
      road_say "bench: start $i painted after ${shown_at:+${shown_runs[-1]} s}, failed: $start_failure"
      start_failures=$((start_failures + 1))
    fi
  done
}
figures() { printf '%s\n' "$@" | sort -g | paste -sd' ' | sed 's/ / · /g'; }

# -- 0. what Wine costs on its own --------------------------------------------------------------
# The same starts with a program that only shows a bare window (tools/driver/wine_costs.cpp):
# the part of the figures below that is Wine's and would be there for any program.
wine_costs="$build/tools/wine_costs.exe"
[ -f "$wine_costs" ] || road_fail "missing $wine_costs (build the bm_wine_costs target)"
bare_runs=() bare_private="" thread_private=""
for i in $(seq "$starts"); do
  t0=$(date +%s.%N)
  costs=$(wine "$wine_costs" 2>>"$road_state_dir/driver.err" | tr -d '\r') || road_fail "wine_costs.exe failed"
  painted_at=$(sed -n 's/^painted_at=//p' <<<"$costs")
  [ -n "$painted_at" ] && bare_runs+=("$(awk -v a="$t0" -v b="$painted_at" 'BEGIN {printf "%.2f", b - a}')")
  bare_private=$(sed -n 's/^bare_private_kib=//p' <<<"$costs")
  thread_private=$(sed -n 's/^thread_private_kib=//p' <<<"$costs")
done
bare_median=$(printf '%s\n' "${bare_runs[@]}" | median)
road_say "bench: a bare window painted after $bare_median s (median), private $bare_private KiB, $thread_private KiB a thread"

# The engine's launch reads the IP-echo page of the emulator.
road_emulator_start "$work/drive" --files 1 --file-size-mib 1
measure_starts
failed_starts=$start_failures
shown_median=$(printf '%s\n' "${shown_runs[@]}" | median) shown_all=$(figures "${shown_runs[@]}")
ready_median=$(printf '%s\n' "${ready_runs[@]}" | median) ready_all=$(figures "${ready_runs[@]}")
# Another program holds the engine's first RPC port: the launch must step around it.
python3 -c 'import socket, time
s = socket.socket(); s.bind(("127.0.0.1", 7022)); s.listen(); print(flush=True); time.sleep(86400)' \
  >"$work/taken.out" 2>&1 &
taken_pid=$!
for _ in $(seq 100); do [ -s "$work/taken.out" ] && break; sleep 0.05; done
measure_starts
kill "$taken_pid" 2>/dev/null
wait "$taken_pid" 2>/dev/null
taken_shown_median=$(printf '%s\n' "${shown_runs[@]}" | median) taken_shown_all=$(figures "${shown_runs[@]}")
taken_ready_median=$(printf '%s\n' "${ready_runs[@]}" | median) taken_ready_all=$(figures "${ready_runs[@]}")
# Reported, not fatal: how the launch steps around a taken port is what this row shows.
taken_failed=""
[ "$start_failures" = 0 ] || taken_failed="; $start_failures of $starts never ready: ${start_failure#fail }"
road_emulator_stop

# -- runs with the driver measuring, the RPC counter listening --------------------------------
# run_measured LABEL WATCH SHARE ARGS...: one run driven with the driver's options WATCH
# ("--watch-rows --ping" or ""); leaves the driver's
# output in $work/LABEL.driver, the RPC times in $work/LABEL.rpc, the emulator's requests in
# $work/LABEL.requests.json and the road's figures in its variables.
run_measured() {
  local label=$1 watch
  read -ra watch <<<"$2"
  shift 2
  road_emulator_start "$work/drive" "$@"
  road_stage "$work/app"
  road_counter_start "$work/$label.rpc"
  road_result=""
  road_app_start
  road_drive --close "${watch[@]}" --run-timeout 900 >"$work/$label.driver" ||
    { cat "$work/$label.driver" >&2; road_fail "the $label run failed: $road_result"; }
  road_app_end
  road_counter_stop
  python3 - "http://127.0.0.1:$road_http_port/__requests?since=0" >"$work/$label.requests.json" <<'EOF' ||
import sys, urllib.request
sys.stdout.write(urllib.request.urlopen(sys.argv[1], timeout=30).read().decode("utf-8"))
EOF
    road_fail "cannot read the emulator's request list"
  verified=$(road_verify "$work/app/Brinemarch" "$@") || road_fail "the $label run did not download the share intact"
  road_emulator_stop
}

# The figures of a measured run: "run_seconds pings_p99 pings_max rpc_per_s" and the latencies.
run_figures() {
  python3 - "$work/$1.driver" "$work/$1.rpc" "$work/$1.requests.json" "$road_state_dir/manifest.json" <<'EOF'
import json, os, re, sys
driver, rpc, requests, manifest = sys.argv[1:5]
lines = [l.strip() for l in open(driver, encoding="utf-8")]
fields = lambda l: dict(re.findall(r"(\w+)=(\S+)", l))
times = fields(next(l for l in lines if "TIMES " in l))
pressed, ended = float(times["pressed"]), float(times["ended"])
ping = fields(next((l for l in lines if "PING " in l), ""))
sent = [float(t) for t in open(rpc)]
rpc_in_run = [t for t in sent if pressed <= t <= ended]
gaps = sorted((b - a) * 1000 for a, b in zip(rpc_in_run, rpc_in_run[1:]))
gap = gaps[len(gaps) // 2] if gaps else float("nan")
# When the last byte of each file left the emulator, by the file's token. A stream ends where
# the next one of the file begins (the engine cuts its first, open-ended stream once it has
# its share), so its last useful byte left with the first piece of its trace reaching there.
files = json.load(open(manifest))["files"]
by_name = {f["name"]: f["token"] for f in files}
size_of = {f["token"]: f["size"] for f in files}
streams = {}
for r in json.load(open(requests))["requests"]:
    if r["path"].startswith("/space/api/box/stream/download/all/") and ("end" in r or "trace" in r):
        asked = re.search(r"bytes=(\d+)-", " ".join(v for k, v in r["headers"] if k.lower() == "range"))
        streams.setdefault(r["path"].rsplit("/", 1)[1], []).append((int(asked.group(1)) if asked else 0, r))
last = {}
for token, found in streams.items():
    starts = sorted(s for s, _ in found)
    for start, r in found:
        upto = min([s for s in starts if s > start] + [size_of.get(token, 0)])
        at = next((t for pos, t in r.get("trace", []) if pos >= upto), r.get("end"))
        if at is not None:
            last[token] = max(last.get(token, 0), at)
# The row follows the engine once it reads 校验中 or 完成, whichever came first; 完成 itself
# comes after the engine's check of the file.
latencies, finished = [], []
for l in lines:
    if "ROW " not in l:
        continue
    row = fields(l)
    name = re.split(r"[\\/]", l.split("file=", 1)[1])[-1]
    if name in by_name and by_name[name] in last:
        end = last[by_name[name]]
        first = float(row["at"]) if row.get("verifying_at", "-") == "-" else float(row["verifying_at"])
        latencies.append((first - end) * 1000)
        finished.append((float(row["at"]) - end) * 1000)
latencies.sort()
finished.sort()
rank = lambda v, p: v[max(0, -(-len(v) * p // 100) - 1)] if v else float("nan")
print("%.3f %s %s %.0f %.0f %d %.0f %.0f %.0f %.0f %.0f %.0f" % (
    ended - pressed, ping.get("p99_ms", "-"), ping.get("max_ms", "-"), len(rpc_in_run) / (ended - pressed), gap,
    len(latencies), rank(latencies, 50), rank(latencies, 99), latencies[0] if latencies else float("nan"),
    latencies[-1] if latencies else float("nan"), rank(finished, 50), rank(finished, 99)))
EOF
}

# -- 2, 3, 5, 6: 24 files of 6 to 13 MiB, each file's streams paced at its own rate -----------
# Paced streams keep the socket buffers nearly empty, so the emulator's last byte is close to
# when the engine has it; the different rates spread the files' ends over the run.
python3 - "$repo/tools/drive_emulator/defaults.json" >"$work/paced-tree.json" <<'EOF'
import json, sys
token = json.load(open(sys.argv[1]))["share_url"].rsplit("/", 1)[1]
children = [{"name": "paced-%02d.bin" % (n + 1), "size_mib": 6 + n % 8,
             "throttle_bps": int((0.75 + 0.25 * (n % 12)) * 1048576)} for n in range(24)]
print(json.dumps({"feishu": {"name": "paced", "token": token, "children": children}}))
EOF
road_say "bench: paced run (24 files)"
run_measured paced "--watch-rows --ping" --tree "$work/paced-tree.json"
read -r a_seconds a_p99 a_max a_rpc a_gap a_rows lat_median lat_p99 lat_min lat_max done_median done_p99 < <(run_figures paced)
a_peak=$road_peak_kib
a_private=$road_private_kib a_peak_private=$road_peak_private_kib
road_say "bench: paced run ${a_seconds}s, $a_rows rows, latency median ${lat_median} ms p99 ${lat_p99} ms"

# -- 3, 4, 5, 6: 12 x 64 MiB at full speed -----------------------------------------------------
road_say "bench: full-speed run ($full_files x $full_mib MiB)"
road_ready_cpu_seconds="" road_cpu_seconds=""
run_measured full "" --files "$full_files" --file-size-mib "$full_mib"
read -r b_seconds _ _ b_rpc b_gap _ < <(run_figures full)
b_bytes=${verified#* }
b_peak=$road_peak_kib
b_private=$road_private_kib b_peak_private=$road_peak_private_kib
cpu_per_gib=$(awk -v a="$road_ready_cpu_seconds" -v b="$road_cpu_seconds" -v n="$b_bytes" \
  'BEGIN {if (a == "" || b == "" || a == "-" || b == "-") print "-"; else printf "%.1f", (b - a) / (n / 1073741824)}')
road_say "bench: full-speed run ${b_seconds}s, program CPU $road_cpu_seconds s ($road_ready_cpu_seconds s at ready)"
rm -rf "$work/app" "$work/drive"

mib() { awk -v k="$1" 'BEGIN {if (k == "" || k == "-") print "-"; else printf "%.0f", k / 1024}'; }
cpu=$(LC_ALL=C lscpu | sed -n 's/^Model name: *//p' | head -n 1)
memory=$(awk '/^MemTotal:/ {printf "%.0f", $2 / 1048576}' /proc/meminfo)
machine="$cpu, $(nproc) cores, $memory GiB memory, Linux $(uname -r), $(wine --version 2>/dev/null)"
table=$(
  echo "| figure | value | measured on |"
  echo "|---|---|---|"
  echo "| start to window painted (median) | **$shown_median s** (every start: $shown_all) | $starts starts, each closed with × |"
  echo "| a bare window under this Wine: start to painted (median), private memory, one more thread's private memory | **$bare_median s**, **$(mib "$bare_private") MiB**, **$thread_private KiB** (every start: $(figures "${bare_runs[@]}")) | $starts starts of \`tools/wine_costs.exe\` |"
  echo "| start to ready (median) | **$ready_median s** (every start: $ready_all) | the same starts |"
  echo "| start to window painted / to ready, port 7022 taken (median) | **$taken_shown_median / $taken_ready_median s** (every start: $taken_shown_all / $taken_ready_all$taken_failed) | $starts more starts while another program listens on 127.0.0.1:7022 |"
  echo "| row-update latency: median / 99th percentile | **$lat_median / $lat_p99 ms** (least $lat_min, most $lat_max) | $a_rows rows of the paced run |"
  echo "| last byte to 完成 (the engine's check of the file included): median / 99th percentile | **$done_median / $done_p99 ms** | the same rows |"
  echo "| window thread without messages: 99th percentile / longest WM_NULL round trip | **$a_p99 / $a_max ms** | paced run (${a_seconds} s) |"
  echo "| program CPU per GiB downloaded (engine not counted) | **$cpu_per_gib s** | full-speed run (${b_seconds} s), rows not read, no WM_NULL |"
  echo "| JSON-RPC requests to the engine per second | **$a_rpc** / **$b_rpc** (median gap between requests $a_gap / $b_gap ms) | paced run / full-speed run |"
  echo "| peak memory of the program (VmHWM) | **$(mib "$a_peak") / $(mib "$b_peak") MiB** | paced run / full-speed run |"
  echo "| private memory of the program (PagefileUsage) at the end, peak | **$(mib "$a_private") / $(mib "$b_private") MiB**, peak $(mib "$a_peak_private") / $(mib "$b_peak_private") MiB | paced run / full-speed run |"
)
printf '\n%s\n\nmachine: %s\n' "$table" "$machine"
[ "$failed_starts" = 0 ] || road_fail "$failed_starts of $starts starts failed; $out is left as it was"

section=window title="The window under load"
if [ "$acks" = immediate ]; then
  section=window-immediate-acks title="The window under load, immediate loopback acknowledgements"
fi
road_write_section "$out" "$section" <<EOF
## $title

Measured with \`BM_BENCH_ACKS=$acks scripts/bench-window.sh\` on $(date -u +%Y-%m-%d) (loopback
acknowledgements: $acks, see the throughput section).

Machine: $machine.
The machine is shared with other work: the figures vary from run to run.

$table

- Runs: the **paced run** downloads 24 files of 6 to 13 MiB whose streams the emulator
  sends at 0.75 to 3.5 MiB/s each (one rate per file), so the files end one after another
  across the run; the **full-speed run** downloads $full_files files of $full_mib MiB unpaced.
  Both are driven like a player (开始下载 until 安装游戏, then the window is closed: the
  shares have no installer) and checked file by file against the emulator's manifest.
- **start to window painted** and **start to ready**: from starting \`wine
  BrinemarchDownloader.exe\` until the driver first sees the window visible with nothing
  left to paint (no update region), and until it sees the save-folder box filled, which the
  window does once its engine answered. The window shows and paints before its engine starts.
  Both include Wine's own start of the process. The driver, already running, looks every
  5 ms until the window is painted, then every 20 ms. With **port 7022 taken** a Python
  listener holds the engine's first RPC port on 127.0.0.1 (accepting, never answering), so
  the launch has to step around it to the next ports; a start whose window never became ready
  is reported in that row rather than failing the benchmark.
- **a bare window under this Wine**: \`tools/driver/wine_costs.cpp\`, started the same way,
  shows a 624 × 375 popup with a report list view and notes when its first WM_PAINT ended;
  then its PagefileUsage, and what four more idle threads add to it, per thread. That much of
  the program's start and memory is Wine's for any program. Under Wine a thread costs about
  a mebibyte of private memory whatever its stack size; on Windows a thread commits a few
  pages. The program runs seven threads: its window thread, the engine's worker, the
  resolver's pool (one worker more than the machine has processors: three here) and two
  threads of Wine's own thread pool.
- **row-update latency**: for every file, the time between the emulator handing the file's
  last byte to the kernel (its request list gives the end of every stream) and the driver
  first reading "校验中" (the engine checks the file against the signed manifest) or, when
  it never saw that, "完成" or "完毕" in that file's row of the list (it reads the status cell of
  every unfinished row every 2 ms through the program's memory). It spans the engine
  noticing the end, the program's poller reaching the task, the row message to the window's
  thread and the driver's next look. Both clocks are the same Linux system clock
  (Python's time.time(), GetSystemTimePreciseAsFileTime under Wine). Error bounds: +0 to
  +3 ms from the driver's polling; the bytes still in the socket buffers when the emulator
  counts them sent add their transfer time (small at the paced rates: a few milliseconds);
  the emulator's end time is taken as the last write begins (under 1 ms at the paced
  rates). The text is read
  from the list control, which paints it at its next WM_PAINT on the same thread. The 99th
  percentile is the nearest rank, so with 24 rows it is the largest.
- **last byte to 完成**: the same, up to the row reading "完成" or "完毕": the engine's check
  of the file (SHA-256 against the release manifest, one file at a time, 4 KiB per turn of its
  event loop: see the verification section) comes on top of the row-update latency, and
  files that end close together wait for each other's checks.
- **window thread without messages**: a thread of the driver sends WM_NULL to the main
  window (SendMessageTimeout) about every millisecond during the paced run and times each round
  trip; a round trip lasts as long as the window's thread is away from its message
  dispatching (plus the cross-process delivery through the Wine server, about 0.1 ms).
- **CPU per GiB**: user + system seconds of the program's process from the ready window to
  the end of the run, over the bytes downloaded. The engine's CPU is its own process and
  not counted. In this run the driver neither reads the rows nor sends WM_NULL: reading every
  row's status every 2 ms and a round trip every millisecond cost the program's window thread
  several times what the run itself does.
- **JSON-RPC requests per second**: \`tools/driver/rpc_counter.py\` reads the namespace's
  loopback device with a raw packet socket and counts TCP segments to the engine's RPC ports
  (7022 to 7024) whose payload starts with "GET /jsonrpc" or "POST /jsonrpc", each once as it arrives; the
  count between the press of 开始下载 and 安装游戏 over that time. Besides the adds they are
  the poller's looks: one request per look (a system.multicall of the tellStatus calls of
  every open part), a look every 100 ms while a part is open (sooner when one is due to
  end), none while none is.
- Reading the figures: a finished file waits for the poller's next look, at most 100 ms
  after the one before began (sooner when a part is due to end), plus that look's request.
  Each request of the program goes in a GET's URL and leaves in one send, about 1 ms under
  Wine in either mode (a POST, whose body Wine's WinHTTP sends apart from its head, took
  about 44 ms with delayed acknowledgements: \`scripts/bench-http.sh\`). The worker's row
  reports wait for the window's thread in a queue and reach it in one posted message per
  batch. The longest stalls of the window's thread are its own synchronous requests (the
  adds, and the engine answers it waits for inside them) rather than painting. The figures
  here are Wine's; Windows' own WinHTTP and loopback are not measured.
- **peak memory**: VmHWM of the program's process at the end of the run (Wine's own
  libraries included). **private memory**: PagefileUsage of the program's process (its own
  committed memory, the figure Windows' Task Manager shows) at the run's end, and
  PeakPagefileUsage, read by the driver with GetProcessMemoryInfo.
EOF
road_say "bench: table written to $out (section $section)"
