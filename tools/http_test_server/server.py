#!/usr/bin/env python3
"""Loopback HTTP server for the network library's tests.

It answers on 127.0.0.1 at an ephemeral port and echoes what the client sent, so
tests can check the exact request line, header lines (in order) and body.

usage:
  server.py serve --port-file FILE          run in the foreground
  server.py start --state-dir DIR           run in the background; DIR/port holds the port
  server.py stop  --state-dir DIR           stop the server started by "start"

Routes (every query parameter is optional):
  /echo                  any verb; body = request line, header lines, empty line, request body
  /bytes?size=N          N pattern bytes with Content-Length (HEAD: the length, no body)
  /chunked?size=N        N pattern bytes, chunked, no length
  /close?size=N          N pattern bytes, no length, ends by closing the connection
  /short?announce=N&send=M   announces N bytes, sends M, closes
  /gzip?size=N, /deflate?size=N
                         N pattern bytes, compressed only when the request's
                         Accept-Encoding names that coding (zlib-wrapped for deflate)
  /slow?delay=MS         waits before answering, then echoes
  /redirect?hops=K&code=302&loc=rel|abs&final=/echo
                         K redirects, each with two Set-Cookie headers, then the final
                         route answered with two Set-Cookie headers of its own
  /cookies               answers with several Set-Cookie header forms
  /jsonrpc               a small JSON answer, like the download engine's
  /connects              the CONNECT targets asked for so far, one per line
  CONNECT host:port      recorded (see /connects) and refused with 502
"""

import argparse
import gzip
import http.server
import os
import signal
import socket
import socketserver
import sys
import threading
import time
import urllib.parse
import zlib
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "test_support"))
import background_server  # noqa: E402
from background_server import write_atomically  # noqa: E402

IDLE_EXIT_SECONDS = 900  # a forgotten server ends by itself


_pattern = bytearray()
_pattern_lock = threading.Lock()


def pattern(size):
    """The bytes every sized route serves: tests build the same sequence."""
    with _pattern_lock:
        if len(_pattern) < size:
            _pattern.extend(((i * 31) + (i >> 8)) & 0xFF for i in range(len(_pattern), size))
        return bytes(_pattern[:size])


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "BrinemarchTest/1"

    def log_message(self, *args):
        pass

    def setup(self):
        super().setup()
        # Answers go out at once: a client's delayed acknowledgement must not hold them back.
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    # Every verb goes through one dispatcher.
    def do_GET(self):
        self.dispatch()

    do_POST = do_PUT = do_DELETE = do_OPTIONS = do_PATCH = do_TRACE = do_HEAD = do_GET

    def do_CONNECT(self):
        self.server.touch()
        with self.server.lock:
            self.server.connects.append(self.path)
        self.close_connection = True
        self.answer(502, b"no tunnels here\n", [("Connection", "close")])

    def dispatch(self):
        self.server.touch()
        parsed = urllib.parse.urlsplit(self.path)
        self.route = parsed.path
        self.query = {k: v[-1] for k, v in urllib.parse.parse_qs(parsed.query, keep_blank_values=True).items()}
        self.request_body = self.read_request_body()
        handler = getattr(self, "route_" + self.route.strip("/").replace("/", "_"), None)
        if handler is None:
            self.answer(404, b"not found\n")
        else:
            handler()

    def read_request_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            out = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0], 16)
                if size == 0:
                    self.rfile.readline()
                    return out
                out += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length", "0") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def number(self, name, default):
        try:
            return int(self.query.get(name, default))
        except ValueError:
            return default

    def answer(self, status, body, headers=(), send_body=True):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if send_body and self.command != "HEAD":
            self.wfile.write(body)

    def echo_text(self):
        lines = [self.requestline]
        lines += ["%s: %s" % (name, value) for name, value in self.headers.items()]
        return ("\r\n".join(lines) + "\r\n\r\n").encode("utf-8") + self.request_body

    def route_echo(self, extra=()):
        self.answer(200, self.echo_text(), [("Content-Type", "text/plain; charset=utf-8"), *extra])

    def route_bytes(self):
        self.answer(200, pattern(self.number("size", 0)), [("Content-Type", "application/octet-stream")])

    def route_chunked(self):
        data = pattern(self.number("size", 0))
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        if self.command == "HEAD":
            return
        # Uneven chunk sizes so chunk boundaries never line up with the reader's steps.
        pos, step = 0, 1
        while pos < len(data):
            piece = data[pos:pos + step]
            self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
            pos += len(piece)
            step = step * 3 + 7 if step < 300000 else 1
        self.wfile.write(b"0\r\n\r\n")

    def route_close(self):
        data = pattern(self.number("size", 0))
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(data)
        self.close_connection = True

    def route_short(self):
        announce, send = self.number("announce", 100), self.number("send", 10)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(announce))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(pattern(announce)[:send])
        self.wfile.flush()
        self.close_connection = True

    def accepts(self, coding):
        offered = self.headers.get("Accept-Encoding", "")
        return coding in [part.split(";")[0].strip().lower() for part in offered.split(",")]

    def compressed(self, coding, compress):
        data = pattern(self.number("size", 0))
        headers = [("Content-Type", "application/octet-stream")]
        if self.accepts(coding):
            data = compress(data)
            headers.append(("Content-Encoding", coding))
        self.answer(200, data, headers)

    def route_gzip(self):
        self.compressed("gzip", lambda d: gzip.compress(d, mtime=0))

    def route_deflate(self):
        self.compressed("deflate", zlib.compress)

    def route_slow(self):
        time.sleep(self.number("delay", 3000) / 1000.0)
        self.route_echo()

    def route_redirect(self):
        hops = self.number("hops", 1)
        final = self.query.get("final", "/echo")
        if hops <= 0:
            self.route_final(final)
            return
        query = dict(self.query, hops=str(hops - 1))
        target = "/redirect?" + urllib.parse.urlencode(query)
        if self.query.get("loc", "rel") == "abs":
            target = "http://127.0.0.1:%d%s" % (self.server.server_address[1], target)
        self.answer(self.number("code", 302), b"moved\n", [
            ("Location", target),
            ("Set-Cookie", "hop%d=v%d; Path=/; HttpOnly" % (hops, hops)),
            ("Set-Cookie", "hopb%d=w%d; Max-Age=60" % (hops, hops)),
        ])

    def route_final(self, final):
        cookies = [("Set-Cookie", "final=yes; Path=/; Domain=127.0.0.1"),
                   ("Set-Cookie", "last=1; Secure")]
        if final == "/echo":
            self.route_echo(cookies)
        else:
            self.answer(200, final.encode("utf-8"), cookies)

    def route_jsonrpc(self):
        self.answer(200, b'{"id":"bench","jsonrpc":"2.0","result":{"status":"active","completedLength":"1048576"}}',
                    [("Content-Type", "application/json")])

    def route_connects(self):
        with self.server.lock:
            text = "".join(target + "\r\n" for target in self.server.connects)
        self.answer(200, text.encode("utf-8"), [("Content-Type", "text/plain")])

    def route_cookies(self):
        self.answer(200, b"cookies\n", [
            ("Set-Cookie", "sid=abc123; Path=/; Domain=127.0.0.1; Expires=Wed, 09 Jun 2100 10:18:14 GMT; HttpOnly; Secure"),
            ("Set-Cookie", "a=1; b=2; Path=/"),
            ("Set-Cookie", "Pathology=x; keep=y"),
            ("Set-Cookie", "lang=zh-CN"),
        ])


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def __init__(self):
        super().__init__(("127.0.0.1", 0), Handler)
        self.last_use = time.monotonic()
        self.lock = threading.Lock()
        self.connects = []

    def touch(self):
        self.last_use = time.monotonic()

    def watch_idle(self):
        while time.monotonic() - self.last_use < IDLE_EXIT_SECONDS:
            time.sleep(5)
        self.shutdown()


def serve(port_file):
    server = Server()
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    threading.Thread(target=server.watch_idle, daemon=True).start()
    write_atomically(port_file, "%d\n" % server.server_address[1])
    server.serve_forever()
    server.server_close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["serve", "start", "stop"])
    parser.add_argument("--port-file")
    parser.add_argument("--state-dir")
    args = parser.parse_args()
    if args.command == "serve":
        serve(args.port_file)
        return 0
    if not args.state_dir:
        parser.error("--state-dir is required")
    return (background_server.start(__file__, args.state_dir, "http_test_server") if args.command == "start"
            else background_server.stop(args.state_dir))


if __name__ == "__main__":
    sys.exit(main())
