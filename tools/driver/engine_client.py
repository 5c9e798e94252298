#!/usr/bin/env python3
"""The smallest client of the raw engine, for the throughput benchmark: hands every file of
an emulator manifest to a running aria2c over JSON-RPC with the downloader's own options
(32 connections asked per file, resumption, preallocation, unlimited retries, the drive's
cookie line), keeps at most twelve open as the downloader does, polls until all have ended
and prints "FILES BYTES SECONDS" (seconds from the first add to the last completion).

usage: engine_client.py --port N --secret S --manifest JSON --origin URL --cookie LINE --dir WINDOWS_DIR [--verify]
  --verify: each file also with its SHA-256 for the engine to check (checksum, check-integrity), as
            the downloader adds the parts of a signed release.
"""

import argparse
import json
import sys
import time
import urllib.request

STREAM_PREFIX = "/space/api/box/stream/download/all/"
MAX_OPEN = 12


class Rpc:
    def __init__(self, port, secret):
        self.url = "http://127.0.0.1:%d/jsonrpc" % port
        self.token = "token:" + secret

    def call(self, method, *params):
        body = json.dumps({"jsonrpc": "2.0", "id": 1, "method": "aria2." + method,
                           "params": [self.token] + list(params)}).encode()
        request = urllib.request.Request(self.url, data=body, headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=30) as answer:
            reply = json.load(answer)
        if "error" in reply:
            raise RuntimeError("%s: %s" % (method, reply["error"]))
        return reply["result"]


def wait_ready(rpc, seconds):
    deadline = time.monotonic() + seconds
    while True:
        try:
            return rpc.call("getVersion")
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--secret", required=True)
    p.add_argument("--manifest", required=True)
    p.add_argument("--origin", required=True)
    p.add_argument("--cookie", required=True)
    p.add_argument("--dir", required=True)
    p.add_argument("--verify", action="store_true")
    args = p.parse_args()

    files = json.load(open(args.manifest))["files"]
    rpc = Rpc(args.port, args.secret)
    wait_ready(rpc, 60)
    rpc.call("changeGlobalOption", {"max-concurrent-downloads": "99"})
    options = {"dir": args.dir, "referer": "", "header": args.cookie, "user-agent": "",
               "split": "32", "continue": "true", "file-allocation": "prealloc", "max-tries": "0"}
    pending = list(files)
    open_gids = set()
    total = 0
    start = time.monotonic()
    while pending or open_gids:
        while pending and len(open_gids) < MAX_OPEN:
            f = pending.pop(0)
            file_options = dict(options, out=f["name"])
            if args.verify:
                file_options.update({"checksum": "sha-256=" + f["sha256"], "check-integrity": "true"})
            open_gids.add(rpc.call("addUri", [args.origin + STREAM_PREFIX + f["token"]], file_options))
        for gid in list(open_gids):
            status = rpc.call("tellStatus", gid, ["status", "completedLength", "errorCode"])
            if status["status"] == "complete":
                open_gids.discard(gid)
                total += int(status["completedLength"])
            elif status["status"] in ("error", "removed"):
                sys.exit("download %s ended with %s (error %s)" % (gid, status["status"], status.get("errorCode")))
        time.sleep(0.05)
    print(len(files), total, "%.3f" % (time.monotonic() - start))


if __name__ == "__main__":
    main()
