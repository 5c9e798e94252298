#!/usr/bin/env bash
# Measures how fast the emulator serves the download stream, with curl on
# loopback: 12 files of 64 MiB fetched at once, then one 1 GiB file fetched
# over 32 range connections (the engine's pattern). Prints MiB/s for each.
# usage: bench-curl.sh [FILES [FILE_MIB]]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
files=${1:-12}
mib=${2:-64}
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
cookie=$(python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['download_cookie'])" "$here/defaults.json")

serve() {  # args -> sets $port
  rm -f "$work/ports.json"
  python3 "$here/drive_emulator.py" --port 0 --port-file "$work/ports.json" "$@" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 200); do [ -s "$work/ports.json" ] && break; sleep 0.05; done
  port=$(python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['http'])" "$work/ports.json")
}
tokens() {  # args -> one token per line
  python3 "$here/drive_emulator.py" "$@" --manifest | python3 -c "import json,sys; [print(f['token']) for f in json.load(sys.stdin)['files']]"
}
now() { date +%s.%N; }
# The server's own CPU seconds: it must stay far below the wall time to not be the bottleneck.
cpu() { awk '{printf "%.2f", ($14 + $15) / 100}' "/proc/${pids[0]}/stat"; }

serve --files "$files" --file-size-mib "$mib"
list=$(tokens --files "$files" --file-size-mib 1)
cpu0=$(cpu)
start=$(now)
for t in $list; do
  curl -sf -o /dev/null -H "$cookie" "http://127.0.0.1:$port/space/api/box/stream/download/all/$t" &
done
mapfile -t others < <(jobs -p | grep -v "${pids[0]}")
wait "${others[@]}" 2>/dev/null || true
end=$(now)
cpu1=$(cpu)
python3 -c "print('%d files x %d MiB at once: %.0f MiB/s, server CPU %.2f s of %.2f s' % ($files, $mib, $files * $mib / ($end - $start), $cpu1 - $cpu0, $end - $start))"
kill "${pids[0]}"; wait "${pids[0]}" 2>/dev/null || true; pids=()

serve --files 1 --file-size-mib 1024
token=$(tokens --files 1 --file-size-mib 1)
piece=$(( (1 << 30) / 32 ))
cpu0=$(cpu)
start=$(now)
for k in $(seq 0 31); do
  curl -sf -o /dev/null -H "$cookie" -r $((k * piece))-$(((k + 1) * piece - 1)) \
    "http://127.0.0.1:$port/space/api/box/stream/download/all/$token" &
done
mapfile -t others < <(jobs -p | grep -v "${pids[0]}")
wait "${others[@]}" 2>/dev/null || true
end=$(now)
cpu1=$(cpu)
python3 -c "print('1 GiB over 32 range connections: %.0f MiB/s, server CPU %.2f s of %.2f s' % (1024 / ($end - $start), $cpu1 - $cpu0, $end - $start))"
