#!/usr/bin/env bash
# Starts or stops the drive emulator that test_resolve talks to: plain HTTP and TLS on
# ephemeral loopback ports, written to STATE_DIR/ports.json for the test to read.
# usage: emulator_fixture.sh start|stop STATE_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
emulator="$here/../../tools/drive_emulator"
action=${1:?usage: emulator_fixture.sh start|stop STATE_DIR}
state=${2:?usage: emulator_fixture.sh start|stop STATE_DIR}
pidfile="$state/emulator.pid"

stop_ours() {
  [ -f "$pidfile" ] || return 0
  local pid
  pid=$(cat "$pidfile")
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$pidfile"
}

case "$action" in
  start)
    mkdir -p "$state"
    stop_ours  # a run that was interrupted may have left ours behind
    rm -f "$state/ports.json" "$state/requests.jsonl"
    "$emulator/make-cert.sh" "$state/tls" >/dev/null
    setsid python3 "$emulator/drive_emulator.py" --port 0 --port-file "$state/ports.json" \
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
    echo "usage: emulator_fixture.sh start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
