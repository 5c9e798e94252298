#!/usr/bin/env python3
"""Starts and stops the loopback servers the engine tests talk to: the scripted fake engine
and the drive emulator. Used as a ctest fixture.

usage:
  test_servers.py start --state-dir DIR [--build-config build_config.h]
  test_servers.py stop  --state-dir DIR

start writes DIR/servers.txt with one "name=port" line per server (fake_engine, emulator).
A start first stops whatever an interrupted earlier run left in DIR. With --build-config the
emulator accepts the download cookie line the build compiled in.
"""

import argparse
import json
import os
import re
import signal
import subprocess
import sys
import time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "test_support"))
from background_server import write_atomically  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
EMULATOR = os.path.join(HERE, "..", "drive_emulator", "drive_emulator.py")
FAKE_ENGINE = os.path.join(HERE, "fake_engine.py")


def spawn(argv, state_dir, name):
    log = open(os.path.join(state_dir, name + ".log"), "w")
    child = subprocess.Popen([sys.executable] + argv, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                             start_new_session=True)
    with open(os.path.join(state_dir, "pids"), "a") as f:
        f.write("%d\n" % child.pid)
    return child


def wait_for(path, child):
    for _ in range(300):
        if os.path.exists(path):
            return True
        if child.poll() is not None:
            return False
        time.sleep(0.05)
    return False


def build_constant(header, name):
    """The value of one wide-string constant of the generated build_config.h."""
    with open(header, encoding="utf-8") as f:
        for line in f:
            prefix = "#define %s L\"" % name
            if line.startswith(prefix):
                value = line[len(prefix):].rstrip("\n")
                if value.endswith('"'):
                    value = value[:-1]
                return re.sub(r"\\(.)", r"\1", value)
    return ""


def start(state_dir, cookie):
    os.makedirs(state_dir, exist_ok=True)
    stop(state_dir)
    engine_port = os.path.join(state_dir, "fake_engine.port")
    emulator_ports = os.path.join(state_dir, "emulator.json")
    for path in (engine_port, emulator_ports):
        if os.path.exists(path):
            os.remove(path)
    engine = spawn([FAKE_ENGINE, "serve", "--port-file", engine_port], state_dir, "fake_engine")
    emulator_args = [EMULATOR, "--port", "0", "--port-file", emulator_ports, "--preset", "bench",
                     "--files", "1", "--file-size-mib", "1"]
    if cookie:
        emulator_args += ["--download-cookie", cookie]
    emulator = spawn(emulator_args, state_dir, "emulator")
    if not wait_for(engine_port, engine) or not wait_for(emulator_ports, emulator):
        print("test_servers: a server did not start (see the logs in %s)" % state_dir, file=sys.stderr)
        stop(state_dir)
        return 1
    with open(engine_port) as f:
        fake_port = int(f.read())
    with open(emulator_ports) as f:
        http_port = json.load(f)["http"]
    write_atomically(os.path.join(state_dir, "servers.txt"), "fake_engine=%d\nemulator=%d\n" % (fake_port, http_port))
    return 0


def ours(pid):
    """Whether pid still runs one of our servers (a recorded id may have been reused)."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            command = f.read()
    except OSError:
        return False
    return b"fake_engine.py" in command or b"drive_emulator.py" in command


def stop(state_dir):
    pids_file = os.path.join(state_dir, "pids")
    try:
        with open(pids_file) as f:
            pids = [int(line) for line in f if line.strip()]
    except (OSError, ValueError):
        pids = []
    for pid in pids:
        if ours(pid):
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
    for name in ("pids", "servers.txt"):
        try:
            os.remove(os.path.join(state_dir, name))
        except FileNotFoundError:
            pass
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["start", "stop"])
    parser.add_argument("--state-dir", required=True)
    parser.add_argument("--build-config", help="the generated build_config.h")
    args = parser.parse_args()
    if args.command == "start":
        cookie = build_constant(args.build_config, "BRINEMARCH_DOWNLOAD_COOKIE") if args.build_config else ""
        return start(args.state_dir, cookie)
    return stop(args.state_dir)


if __name__ == "__main__":
    sys.exit(main())
