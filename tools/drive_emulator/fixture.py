#!/usr/bin/env python3
"""Starts or stops a drive emulator for a test program (a ctest fixture): TLS with the
certificates of make-cert.sh in TLS_DIR (default STATE_DIR/tls; the build's test authority
is what the tests' Wine prefix trusts), the ports written to STATE_DIR/ports.json (and
printed) and every request logged to STATE_DIR/requests.jsonl for the test to read. Further
arguments go to the emulator (default: ephemeral ports).

usage: fixture.py start STATE_DIR [--tls-dir TLS_DIR] [EMULATOR ARGS...] | stop STATE_DIR
"""

import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "test_support"))
import background_server  # noqa: E402

USAGE = "usage: fixture.py start STATE_DIR [--tls-dir TLS_DIR] [EMULATOR ARGS...] | stop STATE_DIR"
# The certificates the TLS port can be told to present instead of its own.
ALTERNATE_CERTS = {"untrusted": "untrusted-cert.pem", "other_host": "other-host-cert.pem"}


def start(state_dir, emulator_args):
    background_server.stop(state_dir)  # an interrupted run may have left ours behind
    os.makedirs(state_dir, exist_ok=True)
    ports = os.path.join(state_dir, "ports.json")
    requests = os.path.join(state_dir, "requests.jsonl")
    if os.path.exists(requests):
        os.remove(requests)
    tls = os.path.join(state_dir, "tls")
    if emulator_args[:1] == ["--tls-dir"] and len(emulator_args) >= 2:
        tls, emulator_args = emulator_args[1], emulator_args[2:]
    subprocess.run([os.path.join(HERE, "make-cert.sh"), tls], check=True, stdout=subprocess.DEVNULL)
    argv = [sys.executable, os.path.join(HERE, "drive_emulator.py")] + (emulator_args or ["--port", "0"])
    argv += ["--port-file", ports, "--tls-cert", os.path.join(tls, "emulator-cert.pem"),
             "--tls-key", os.path.join(tls, "emulator-key.pem"), "--log", requests]
    for name, cert in ALTERNATE_CERTS.items():
        argv += ["--tls-alt-cert", "%s=%s" % (name, os.path.join(tls, cert))]
    if not background_server.launch(state_dir, "emulator", argv, ports):
        background_server.stop(state_dir)
        return 1
    with open(ports) as f:
        print(f.read())
    return 0


def main(args):
    if len(args) >= 2 and args[0] == "start":
        return start(args[1], args[2:])
    if len(args) == 2 and args[0] == "stop":
        return background_server.stop(args[1])
    print(USAGE, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
