"""The one launcher of our loopback test servers for ctest fixtures.

A server runs in a session of its own with its output in STATE_DIR/NAME.log; its pid, start
time and ready file are recorded in STATE_DIR/pids. A launch waits, bounded, for the file the
server writes once it listens; stop ends every server recorded in STATE_DIR (TERM, then KILL
after 5 s) and never a process that merely reuses a recorded pid.
"""

import os
import signal
import subprocess
import sys
import time

READY_SECONDS = 15
STOP_SECONDS = 5


def write_atomically(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


def _stat(pid):
    """(state, start time in ticks since boot) of a process, or None when it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            stat = f.read()
    except OSError:
        return None
    # The command name in parentheses may hold spaces; the fields after it are fixed.
    fields = stat[stat.rindex(")") + 2:].split()
    return fields[0], fields[19]


def _started(pid):
    stat = _stat(pid)
    return stat[1] if stat else None


def launch(state_dir, name, argv, ready_file):
    """Starts argv; true once ready_file exists, false (the server ended, the log printed) when
    it does not appear within READY_SECONDS."""
    os.makedirs(state_dir, exist_ok=True)
    if os.path.exists(ready_file):
        os.remove(ready_file)
    log_path = os.path.join(state_dir, name + ".log")
    with open(log_path, "w") as log:
        child = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    with open(os.path.join(state_dir, "pids"), "a") as f:
        f.write("%d %s %s\n" % (child.pid, _started(child.pid), ready_file))
    deadline = time.monotonic() + READY_SECONDS
    while time.monotonic() < deadline:
        if os.path.exists(ready_file):
            return True
        if child.poll() is not None:
            break
        time.sleep(0.05)
    print("%s did not start (exit %s):" % (name, child.poll()), file=sys.stderr)
    with open(log_path, errors="replace") as log:
        sys.stderr.write(log.read()[-4000:])
    return False


def _alive(pid, started):
    """Whether pid still runs the server started at that time. A server that ended stays a
    zombie until its parent reaps it; it counts as gone."""
    stat = _stat(pid)
    return stat is not None and stat[1] == started and stat[0] != "Z"


def _records(pids_file):
    """(pid, start time, ready file) of each well-formed line; a line left by another format
    is skipped."""
    try:
        with open(pids_file) as f:
            lines = f.read().splitlines()
    except OSError:
        return []
    records = []
    for line in lines:
        fields = line.split(" ", 2)
        if len(fields) == 3 and fields[0].isdigit():
            records.append((int(fields[0]), fields[1], fields[2]))
    return records


def stop(state_dir):
    """Ends every server recorded in state_dir and removes their ready files; always 0."""
    pids_file = os.path.join(state_dir, "pids")
    records = _records(pids_file)
    ours = [(pid, started) for pid, started, _ in records if _alive(pid, started)]
    for pid, _ in ours:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    deadline = time.monotonic() + STOP_SECONDS
    while ours and time.monotonic() < deadline:
        ours = [(pid, started) for pid, started in ours if _alive(pid, started)]
        time.sleep(0.05)
    for pid, started in ours:
        if _alive(pid, started):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
    for path in [ready for _, _, ready in records] + [pids_file]:
        if os.path.exists(path):
            os.remove(path)
    return 0


def start(script, state_dir, name):
    """For the servers that take "serve --port-file FILE": starts SCRIPT with STATE_DIR/port,
    after ending what an interrupted run left in STATE_DIR; 0 once it listens, 1 otherwise."""
    stop(state_dir)
    port_file = os.path.join(state_dir, "port")
    argv = [sys.executable, os.path.abspath(script), "serve", "--port-file", port_file]
    if launch(state_dir, name, argv, port_file):
        return 0
    stop(state_dir)
    return 1
