#!/usr/bin/env python3
"""Notes the time of every JSON-RPC request sent to the download engine over loopback.

Reads the loopback device with a raw packet socket (root, or CAP_NET_RAW, inside the
benchmark's own network namespace) and writes one line per TCP segment to the engine's RPC
ports (7022..7024) whose payload starts with "GET /jsonrpc" or "POST /jsonrpc" (a request
goes in its URL, or as a POST when too long for that): the Unix time it was seen.
Each segment is counted once, as the loopback device receives it. Ends on SIGTERM/SIGINT.

usage: rpc_counter.py OUTPUT_FILE [--ready-file FILE]
"""

import argparse
import signal
import socket
import struct
import sys
import time

ETH_P_ALL = 0x0003
PACKET_OUTGOING = 4
RPC_PORTS = range(7022, 7025)
REQUEST_STARTS = (b"GET /jsonrpc", b"POST /jsonrpc")


def rpc_request(frame):
    """True when an Ethernet frame carries the start of a JSON-RPC request to the engine."""
    if len(frame) < 14 + 20 or struct.unpack("!H", frame[12:14])[0] != 0x0800:
        return False
    ip = frame[14:]
    header = (ip[0] & 0x0F) * 4
    if ip[9] != socket.IPPROTO_TCP or len(ip) < header + 20:
        return False
    total = struct.unpack("!H", ip[2:4])[0]
    tcp = ip[header:total]
    if struct.unpack("!H", tcp[2:4])[0] not in RPC_PORTS:
        return False
    payload = tcp[(tcp[12] >> 4) * 4:]
    return payload.startswith(REQUEST_STARTS)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("output")
    parser.add_argument("--ready-file", help="created once the socket listens")
    args = parser.parse_args(argv)
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    sniffer = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
    sniffer.bind(("lo", 0))
    sniffer.settimeout(0.2)
    if args.ready_file:
        open(args.ready_file, "w").close()
    with open(args.output, "w", buffering=1) as out:
        while not stop:
            try:
                frame, address = sniffer.recvfrom(65535)
            except socket.timeout:
                continue
            except InterruptedError:
                continue
            # Loopback shows each segment twice: once sent, once received.
            if address[2] == PACKET_OUTGOING:
                continue
            if rpc_request(frame):
                out.write("%.6f\n" % time.time())
    return 0


if __name__ == "__main__":
    sys.exit(main())
