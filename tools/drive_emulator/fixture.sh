#!/usr/bin/env bash
# Starts or stops a drive emulator for a test program (a ctest fixture): TLS from a
# certificate in STATE_DIR, the ports written to STATE_DIR/ports.json and every request
# logged to STATE_DIR/requests.jsonl for the test to read. Further arguments go to the
# emulator (default: ephemeral ports).
# usage: fixture.sh start STATE_DIR [EMULATOR ARGS...] | stop STATE_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage="usage: fixture.sh start STATE_DIR [EMULATOR ARGS...] | stop STATE_DIR"
action=${1:?$usage}
state=${2:?$usage}
shift 2
pidfile="$state/emulator.pid"

stop_ours() {
  [ -f "$pidfile" ] || return 0
  local pid
  pid=$(cat "$pidfile")
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
  fi
  rm -f "$pidfile"
}

case "$action" in
  start)
    mkdir -p "$state"
    stop_ours  # a run that was interrupted may have left ours behind
    rm -f "$state/ports.json" "$state/requests.jsonl"
    "$here/make-cert.sh" "$state/tls" >/dev/null
    [ $# -gt 0 ] || set -- --port 0
    setsid python3 "$here/drive_emulator.py" "$@" --port-file "$state/ports.json" \
      --tls-cert "$state/tls/emulator-cert.pem" --tls-key "$state/tls/emulator-key.pem" \
      --log "$state/requests.jsonl" >"$state/emulator.out" 2>&1 </dev/null &
    echo $! >"$pidfile"
    for _ in $(seq 200); do
      [ -s "$state/ports.json" ] && { cat "$state/ports.json"; echo; exit 0; }
      kill -0 "$(cat "$pidfile")" 2>/dev/null || break
      sleep 0.05
    done
    echo "drive emulator did not start:" >&2
    cat "$state/emulator.out" >&2 || true
    stop_ours
    exit 1
    ;;
  stop)
    stop_ours
    ;;
  *)
    echo "$usage" >&2
    exit 2
    ;;
esac
