#!/usr/bin/env python3
"""Starts and stops the loopback servers the engine tests talk to: the scripted fake engine
and the drive emulator. Used as a ctest fixture.

usage:
  test_servers.py start --state-dir DIR [--build-config build_config.h] [--tls-dir TLS_DIR]
  test_servers.py stop  --state-dir DIR

start writes DIR/servers.txt with one "name=port" line per server (fake_engine, emulator and,
with --tls-dir, emulator_tls). A start first stops whatever an interrupted earlier run left in
DIR. With --build-config the emulator accepts the download cookie line the build compiled in;
with --tls-dir its TLS port presents the certificates make-cert.sh made there.
"""

import argparse
import json
import os
import re
import subprocess
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "test_support"))
import background_server  # noqa: E402
from background_server import launch, write_atomically  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
EMULATOR = os.path.join(HERE, "..", "drive_emulator", "drive_emulator.py")
MAKE_CERT = os.path.join(HERE, "..", "drive_emulator", "make-cert.sh")
FAKE_ENGINE = os.path.join(HERE, "fake_engine.py")


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


def start(state_dir, cookie, tls_dir):
    stop(state_dir)
    engine_port = os.path.join(state_dir, "fake_engine.port")
    emulator_ports = os.path.join(state_dir, "emulator.json")
    emulator_args = [sys.executable, EMULATOR, "--port", "0", "--port-file", emulator_ports, "--preset", "bench",
                     "--files", "1", "--file-size-mib", "1"]
    if cookie:
        emulator_args += ["--download-cookie", cookie]
    if tls_dir:
        subprocess.run([MAKE_CERT, tls_dir], check=True, stdout=subprocess.DEVNULL)
        emulator_args += ["--tls-port", "0", "--tls-cert", os.path.join(tls_dir, "emulator-cert.pem"),
                          "--tls-key", os.path.join(tls_dir, "emulator-key.pem")]
    if not (launch(state_dir, "fake_engine", [sys.executable, FAKE_ENGINE, "serve", "--port-file", engine_port],
                   engine_port) and launch(state_dir, "emulator", emulator_args, emulator_ports)):
        stop(state_dir)
        return 1
    with open(engine_port) as f:
        fake_port = int(f.read())
    with open(emulator_ports) as f:
        ports = json.load(f)
    lines = "fake_engine=%d\nemulator=%d\n" % (fake_port, ports["http"])
    if ports.get("tls"):
        lines += "emulator_tls=%d\n" % ports["tls"]
    write_atomically(os.path.join(state_dir, "servers.txt"), lines)
    return 0


def stop(state_dir):
    background_server.stop(state_dir)
    servers = os.path.join(state_dir, "servers.txt")
    if os.path.exists(servers):
        os.remove(servers)
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["start", "stop"])
    parser.add_argument("--state-dir", required=True)
    parser.add_argument("--build-config", help="the generated build_config.h")
    parser.add_argument("--tls-dir", help="certificates of make-cert.sh for the emulator's TLS port")
    args = parser.parse_args()
    if args.command == "start":
        cookie = build_constant(args.build_config, "BRINEMARCH_DOWNLOAD_COOKIE") if args.build_config else ""
        return start(args.state_dir, cookie, args.tls_dir)
    return stop(args.state_dir)


if __name__ == "__main__":
    sys.exit(main())
