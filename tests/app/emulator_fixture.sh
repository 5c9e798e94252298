#!/usr/bin/env bash
# Starts or stops the drive emulator the application tests download from: the demo share with
# the stand-in installer as part 1 and small parts, on the build's own drive port (the program
# reaches the drive only through its build constants).
# usage: emulator_fixture.sh start STATE_DIR PORT INSTALLER | stop STATE_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
emulator="$here/../../tools/drive_emulator"
action=${1:?usage: emulator_fixture.sh start STATE_DIR PORT INSTALLER | stop STATE_DIR}
state=${2:?state folder missing}
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
    port=${3:?port missing}
    installer=${4:?installer missing}
    mkdir -p "$state"
    stop_ours
    rm -f "$state/ports.json"
    "$emulator/make-cert.sh" "$state/tls" >/dev/null
    setsid python3 "$emulator/drive_emulator.py" --port "$port" --tls-port 0 --port-file "$state/ports.json" \
      --tls-cert "$state/tls/emulator-cert.pem" --tls-key "$state/tls/emulator-key.pem" \
      --installer "$installer" --part-size-mib 1 --log "$state/requests.jsonl" \
      >"$state/emulator.out" 2>&1 </dev/null &
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
    echo "usage: emulator_fixture.sh start STATE_DIR PORT INSTALLER | stop STATE_DIR" >&2
    exit 2
    ;;
esac
