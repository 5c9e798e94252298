#!/usr/bin/env python3
"""Local stand-in for the Feishu and Lanzou cloud drives, the download stream
and the IP-echo page, for tests and benchmarks of the downloader.

Loopback only. Standard library only. See --help.
"""

import argparse
import ipaddress
import json
import os
import signal
import ssl
import sys
import threading
import time

# Keep the source folders free of bytecode caches.
sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import defaults  # noqa: E402
import server  # noqa: E402
import tree as treemod  # noqa: E402


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--host", default=defaults.HOST, help="loopback address to bind (default %(default)s)")
    p.add_argument("--port", type=int, default=defaults.HTTP_PORT, help="HTTP port, 0 = any free one")
    p.add_argument("--tls-port", type=int, default=None,
                   help="TLS port (default %d, or a free one with --port 0); needs --tls-cert/--tls-key"
                   % defaults.TLS_PORT)
    p.add_argument("--tls-cert", help="PEM certificate for the TLS port (make-cert.sh creates one)")
    p.add_argument("--tls-key", help="PEM key for the TLS port")
    p.add_argument("--tls-alt-cert", action="append", default=[], metavar="NAME=CERT",
                   help="a further certificate (with --tls-key) that POST /__control {\"tls_cert\": NAME} "
                   "makes the TLS port present")
    p.add_argument("--port-file", help='write {"http": N, "tls": M} here once listening')
    g = p.add_argument_group("shares")
    g.add_argument("--preset", choices=treemod.PRESETS, default="demo", help="which share to serve")
    g.add_argument("--tree", help="JSON file describing the share tree (overrides --preset)")
    g.add_argument("--installer", help="file served as Brinemarch.part1.exe in the demo share")
    g.add_argument("--part-size-mib", type=float, default=4.0, help="size of the demo's .rar parts")
    g.add_argument("--files", type=int, help="bench share: number of files (selects --preset bench)")
    g.add_argument("--file-size-mib", type=float, default=64.0, help="bench share: size of each file")
    g.add_argument("--seed", type=int, default=1, help="seed of all generated contents and tokens")
    g.add_argument("--sign-key", help="PEM key of the publisher: every share carries its signed release manifest")
    g.add_argument("--manifest", nargs="?", const="json", choices=("json", "sha256sum"),
                   help="print names, sizes and SHA-256 of the served files and exit")
    g = p.add_argument_group("session")
    g.add_argument("--list-cookie", default=defaults.COOKIE_LINES["list"], help="accepted listing cookie line")
    g.add_argument("--download-cookie", default=defaults.COOKIE_LINES["download"],
                   help="accepted download cookie line")
    g = p.add_argument_group("faults (also switchable with POST /__control)")
    g.add_argument("--list-fault", choices=server.LIST_FAULTS, help="how listings fail")
    g.add_argument("--list-fault-token", help="only for this folder token")
    g.add_argument("--list-fault-times", type=int, help="only for this many listings")
    g.add_argument("--stream-status", type=int, help="streams answer this status, e.g. 404")
    g.add_argument("--stream-drop-after", type=int, help="streams drop the connection after N body bytes")
    g.add_argument("--stream-throttle", type=int, help="streams send at most N bytes/s")
    g.add_argument("--stream-delay-ms", type=int, help="streams wait this long before answering")
    g.add_argument("--stream-retry-after", type=int, help="a Retry-After header of N seconds on --stream-status")
    g.add_argument("--stream-fault-token", help="only for this file token")
    g.add_argument("--stream-fault-times", type=int, help="only for this many stream requests")
    g.add_argument("--stream-per-file-times", type=int, help="only for each file's first N stream requests")
    g.add_argument("--pace", type=int, help="every stream sends at most N bytes/s (a file's own throttle wins)")
    g.add_argument("--stall-after", type=int,
                   help="once a file sent N bytes over all its streams, they hold without sending more")
    g.add_argument("--stall-token", help="stall only this file token")
    g.add_argument("--lanzou-fault", choices=server.lanzou.FAULT_MODES, help="how a Lanzou step fails")
    g.add_argument("--lanzou-fault-times", type=int, help="only for this many requests")
    g = p.add_argument_group("other")
    # Off by default: Wine's WinHTTP cannot decompress (the option fails with 12009).
    g.add_argument("--gzip", action="store_true",
                   help="compress listings and pages for clients that accept gzip")
    g.add_argument("--log", help="append one JSON line per request to this file")
    g.add_argument("--verbose", action="store_true", help="print each request to stderr")
    g.add_argument("--write-defaults", nargs="?", const=os.path.join(HERE, "defaults.json"),
                   help="write the build defaults as JSON (default: defaults.json beside this script) and exit")
    return p.parse_args(argv)


def tree_layout(args):
    if args.tree:
        with open(args.tree, encoding="utf-8") as f:
            return json.load(f), os.path.dirname(os.path.abspath(args.tree))
    if args.files is not None:
        return treemod.bench(args.files, args.file_size_mib), None
    if args.preset == "bench":
        return treemod.bench(12, args.file_size_mib), None
    if args.preset == "faults":
        return treemod.faults(), None
    if args.preset == "clash":
        return treemod.clash(), None
    if args.preset == "documents":
        return treemod.with_documents(treemod.demo(args.part_size_mib, args.installer)), None
    return treemod.demo(args.part_size_mib, args.installer), None


def startup_faults(args):
    command = {}
    if args.list_fault:
        command["list"] = {"mode": args.list_fault, "token": args.list_fault_token, "times": args.list_fault_times}
    stream = {"status": args.stream_status, "drop_after": args.stream_drop_after,
              "throttle": args.stream_throttle, "delay_ms": args.stream_delay_ms}
    if any(v is not None for v in stream.values()):
        stream.update(token=args.stream_fault_token, times=args.stream_fault_times,
                      per_file_times=args.stream_per_file_times, retry_after=args.stream_retry_after)
        command["stream"] = stream
    if args.pace:
        command["pace"] = args.pace
    if args.stall_after is not None:
        command["stall"] = {"after": args.stall_after, "token": args.stall_token}
    if args.lanzou_fault:
        command["lanzou"] = {"mode": args.lanzou_fault, "times": args.lanzou_fault_times}
    return command


def manifest(tree, form):
    files = []
    for trail, node in tree.walk_files():
        # Announced sizes past 4 GiB exist to test size handling; hashing them is pointless.
        digest = node.content.sha256() if node.content.size <= 1 << 32 else None
        files.append({"name": node.name, "folders": trail, "token": node.token, "size": node.content.size,
                      "sha256": digest})
    lanzou_files = [{"name": item.name, "id": item.id, "folder": folder.id, "size": item.content.size,
                     "sha256": item.content.sha256()}
                    for folder in tree.lanzou_folders.values() for item in folder.files]
    if form == "sha256sum":
        return "".join("%s  %s\n" % (f["sha256"], f["name"]) for f in files if f["sha256"])
    return json.dumps({"files": files, "lanzou": lanzou_files}, ensure_ascii=False, indent=1) + "\n"


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    if args.write_defaults:
        with open(args.write_defaults, "w", encoding="utf-8") as f:
            json.dump(defaults.DEFAULTS, f, ensure_ascii=False, indent=1)
            f.write("\n")
        return 0
    try:
        loopback = args.host == "localhost" or ipaddress.ip_address(args.host).is_loopback
    except ValueError:
        loopback = False
    if not loopback:
        sys.stderr.write("drive_emulator: only loopback addresses may be bound, not %s\n" % args.host)
        return 2
    try:
        layout, base_dir = tree_layout(args)
        if args.manifest:
            sys.stdout.write(manifest(treemod.Tree(layout, args.seed, base_dir), args.manifest))
            return 0
        log = server.RequestLog(args.log)
        state = server.State(layout, args.seed, base_dir,
                             {"list": args.list_cookie, "download": args.download_cookie},
                             args.gzip, log, args.verbose, startup_faults(args), args.sign_key)
    except (OSError, ValueError, KeyError) as e:
        sys.stderr.write("drive_emulator: %s\n" % e)
        return 2

    servers = []
    try:
        servers.append(server.Server((args.host, args.port), state, "http"))
        state.ports["http"] = servers[0].server_address[1]
        if args.tls_cert or args.tls_key:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(args.tls_cert, args.tls_key)
            for alternate in args.tls_alt_cert:
                name, _, cert = alternate.partition("=")
                state.tls_alternates[name] = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                state.tls_alternates[name].load_cert_chain(cert, args.tls_key)
            tls_port = args.tls_port
            if tls_port is None:
                tls_port = 0 if args.port == 0 else defaults.TLS_PORT
            servers.append(server.Server((args.host, tls_port), state, "tls", context))
            state.ports["tls"] = servers[1].server_address[1]
    except (OSError, ssl.SSLError) as e:
        sys.stderr.write("drive_emulator: cannot listen: %s\n" % e)
        for s in servers:
            s.server_close()
        return 1

    # The handler only raises a flag: setting the event from a signal handler can deadlock
    # against the main thread's own wait on it (both take the event's lock).
    signalled = []

    def stop(signum, frame):
        signalled.append(signum)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    threads = [threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True) for s in servers]
    for t in threads:
        t.start()
    if args.port_file:
        temp = args.port_file + ".tmp"
        with open(temp, "w") as f:
            json.dump(state.ports, f)
        os.replace(temp, args.port_file)
    sys.stderr.write("drive_emulator: http://%s:%s/ tls %s share %s\n"
                     % (args.host, state.ports["http"], state.ports["tls"], state.tree.root.token
                        if state.tree.root else "-"))
    sys.stderr.flush()
    while not signalled and not state.stop.is_set():
        time.sleep(0.2)
    state.stop.set()
    for s in servers:
        s.shutdown()
        s.server_close()
    log.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
