"""Runs one of our loopback test servers in the background for a ctest fixture.

The server script is started again as "SCRIPT serve --port-file STATE_DIR/port" in a
session of its own; its pid and port live in STATE_DIR so the matching stop finds it.
"""

import os
import signal
import subprocess
import sys
import time


def write_atomically(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


def start(script, state_dir, name):
    os.makedirs(state_dir, exist_ok=True)
    port_file = os.path.join(state_dir, "port")
    if os.path.exists(port_file):
        os.remove(port_file)
    child = subprocess.Popen([sys.executable, os.path.abspath(script), "serve", "--port-file", port_file],
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)
    write_atomically(os.path.join(state_dir, "pid"), "%d\n" % child.pid)
    for _ in range(200):
        if os.path.exists(port_file):
            return 0
        if child.poll() is not None:
            break
        time.sleep(0.05)
    print("%s: the server did not start" % name, file=sys.stderr)
    return 1


def stop(state_dir):
    try:
        with open(os.path.join(state_dir, "pid")) as f:
            pid = int(f.read())
    except (OSError, ValueError):
        return 0
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    for name in ("pid", "port"):
        try:
            os.remove(os.path.join(state_dir, name))
        except FileNotFoundError:
            pass
    return 0
