"""HTTP(S) serving: routing, cookie checks, byte ranges, faults, request log, control."""

import base64
import collections
import copy
import email.utils
import gzip
import http.server
import json
import os
import select
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse

import content
import feishu
import lanzou
import scripted
import signing
import tree as treemod

LIST_FAULTS = ("500", "invalid_json", "expired", "hang", "refused", "no_label", "repeat_label", "slow")
STREAM_FAULT_KEYS = ("status", "drop_after", "throttle", "delay_ms", "corrupt")
FAULT_NUMBERS = ("times", "page", "per_file_times", "retry_after") + STREAM_FAULT_KEYS
_MODIFIED = 1712000000


def cookie_pairs(values):
    """Sorted name=value pairs of cookie header values (or of configured lines)."""
    pairs = []
    for value in values:
        for part in value.split(";"):
            part = part.strip()
            if part:
                name, _, val = part.partition("=")
                pairs.append((name.strip(), val.strip()))
    return sorted(pairs)


def line_pairs(line):
    """Pairs of a configured header line such as "Cookie: a=b; c=d" or "cookie:a=b"."""
    name, colon, rest = line.partition(":")
    return cookie_pairs([rest if colon and name.strip().lower() == "cookie" else line])


class RequestLog:
    """Every request as one JSON object: kept in memory for /__requests and
    written as one line to the log file, if any."""

    def __init__(self, path=None, keep=20000):
        self._lock = threading.Lock()
        self._entries = collections.deque(maxlen=keep)
        self._seq = 0
        # Streams still sending, by sequence number: their handlers count as they write.
        self._open = {}
        self._file = open(path, "a", encoding="utf-8", buffering=1) if path else None

    def add(self, entry, stream=None):
        with self._lock:
            self._seq += 1
            entry["seq"] = self._seq
            self._entries.append(entry)
            if stream is not None:
                self._open[self._seq] = stream
            if self._file:
                self._file.write(json.dumps(entry, ensure_ascii=False) + "\n")

    def finish(self, entry, **fields):
        """Adds what is known once the answer went out (shown by /__requests; the file
        keeps the line written when the request came in)."""
        with self._lock:
            entry.update(fields)
            self._open.pop(entry["seq"], None)

    def sent_since(self, seq):
        """Body bytes the streams after `seq` wrote, by file token; open streams count what
        they wrote so far."""
        with self._lock:
            sent, streams, still_open = {}, {}, 0
            for e in self._entries:
                if e["seq"] <= seq or "token" not in e:
                    continue
                if "sent" in e:
                    n = e["sent"]
                else:
                    stream = self._open.get(e["seq"])
                    n = stream.body_sent if stream is not None else 0
                    still_open += 1
                sent[e["token"]] = sent.get(e["token"], 0) + n
                streams[e["token"]] = streams.get(e["token"], 0) + 1
            return {"last": self._seq, "open": still_open, "total": sum(sent.values()), "sent": sent,
                    "streams": streams}

    def since(self, seq):
        with self._lock:
            return self._seq, [e for e in self._entries if e["seq"] > seq]

    def close(self):
        if self._file:
            self._file.close()


class Stall:
    """A drive that stops sending: once a file (the one token, or each file on its own) has
    sent `after` body bytes over all its streams, every stream of it holds without a byte
    more until the stall is lifted."""

    def __init__(self, token, after):
        self.token = token
        self.after = after
        self.sent = {}
        self.lifted = threading.Event()
        self._lock = threading.Lock()

    def grant(self, token, wanted):
        """How many of `wanted` bytes a stream of `token` may send now."""
        if self.lifted.is_set() or (self.token and token != self.token):
            return wanted
        with self._lock:
            done = self.sent.get(token, 0)
            granted = max(0, min(wanted, self.after - done))
            self.sent[token] = done + granted
            return granted

    def describe(self):
        with self._lock:
            return {"token": self.token, "after": self.after, "sent": dict(self.sent)}


class State:
    """What every connection shares: the tree, accepted cookies, faults, ports."""

    def __init__(self, layout, seed, base_dir, cookies, compress, log, verbose=False, startup_faults=None,
                 sign_key=None):
        self.lock = threading.Lock()
        self.stop = threading.Event()
        self.seed = seed
        self.base_dir = base_dir
        self.log = log
        self.verbose = verbose
        self.ports = {"http": None, "tls": None}
        # Further certificates the TLS port can present instead of its own, by name.
        self.tls_alternates = {}
        self.tls_cert = None
        self.tls_refuse = False
        self.tls_connections = set()  # open TLS connections, ended when the certificate changes
        self.pages = scripted.Pages()
        self.stall = None
        self.outage_until = None  # time.monotonic() until which the drive answers nothing
        self.outage_cut = 0
        # The publisher's key the shares are signed with (None: shares carry no manifest).
        self.sign_key = sign_key
        self.signing = None
        self.repack = None
        self._initial = (layout, dict(cookies), compress, dict(startup_faults or {}))
        self.reset()

    def reset(self):
        """Back to the state the server started with, command-line faults included."""
        layout, cookies, compress, faults = self._initial
        self.signing = {"key": "publisher"} if self.sign_key else None
        self.repack = None
        self.set_tree(layout)
        self.cookies = dict(cookies)
        self.compress = compress
        self.faults = {"list": None, "stream": None, "lanzou": None}
        self.pace = None
        self.set_stall(None)
        self.set_outage(None)
        self.visitor = None
        self.set_tls_cert(None)
        self.set_tls_refuse(False)
        self.tls_refused = 0
        self.pages.clear()
        self.apply_faults(faults)

    def apply_faults(self, command):
        for kind in ("list", "stream", "lanzou"):
            if kind in command:
                self.set_fault(kind, command[kind])
        if "pace" in command:
            pace = command["pace"]
            if pace is not None and (not isinstance(pace, int) or pace < 0):
                raise ValueError("pace must be a number of bytes per second or null")
            with self.lock:
                self.pace = pace or None
        if "stall" in command:
            self.set_stall(command["stall"])
        if "outage" in command:
            self.set_outage(command["outage"])

    def set_stall(self, stall):
        """A new stall, or none; streams held by the one before are let go."""
        if stall is not None:
            if not isinstance(stall, dict) or not isinstance(stall.get("after"), int) or stall["after"] < 0:
                raise ValueError("stall must be null or an object with after: BYTES")
            stall = Stall(stall.get("token"), stall["after"])
        with self.lock:
            before, self.stall = self.stall, stall
        if before is not None:
            before.lifted.set()

    def set_outage(self, outage):
        """A drive gone for a while: from now on, for `seconds`, every connection that asks
        for something (control addresses aside) is reset unanswered and every stream being
        sent is cut; afterwards all is served again. None ends it at once."""
        until = None
        if outage is not None:
            seconds = outage.get("seconds") if isinstance(outage, dict) else None
            if not isinstance(seconds, (int, float)) or seconds < 0:
                raise ValueError("outage must be null or an object with seconds: S")
            until = time.monotonic() + seconds
        with self.lock:
            self.outage_until = until
            self.outage_cut = 0

    def in_outage(self):
        """True (and counted) while the drive is gone."""
        with self.lock:
            if self.outage_until is None or time.monotonic() >= self.outage_until:
                return False
            self.outage_cut += 1
            return True

    def replace_file(self, replace):
        """Other bytes and size under a file's token, as when a publisher uploads it again."""
        if not isinstance(replace, dict) or not isinstance(replace.get("size"), int) or replace["size"] < 0:
            raise ValueError("replace must be an object with token and size")
        token, seed = replace.get("token"), replace.get("seed", 1)
        data = content.GeneratedContent(("%s|%s|replaced %s" % (self.seed, token, seed)).encode(), replace["size"])
        digest = data.sha256() if data.size <= 1 << 32 else None
        with self.lock:
            node = self.tree.files.get(token)
            if node is None:
                raise ValueError("replace: no file with token %r" % token)
            node.content = data
            node.version += 1
            self.replaced[token] = {"size": data.size, "seed": seed, "sha256": digest}
            # The publisher signs the new upload too, unless the file changed behind its back.
            if replace.get("signed", True):
                signing.sign_tree(self.tree, self.signing, self.sign_key, self.tree.add_root_file)

    def set_tls_cert(self, name):
        """From now on TLS connections get certificate name (None: the port's own)."""
        with self.lock:
            changed, self.tls_cert = self.tls_cert != name, name
        if changed:
            self.end_tls_connections()

    def set_tls_refuse(self, refuse):
        """From now on every TLS handshake fails (or none does)."""
        with self.lock:
            changed, self.tls_refuse = self.tls_refuse != refuse, refuse
        if changed:
            self.end_tls_connections()

    def end_tls_connections(self):
        """Ends the open TLS connections: a client's pooled connection must not outlive the
        handshake it made."""
        with self.lock:
            connections = list(self.tls_connections)
        for connection in connections:
            try:
                # Below the TLS layer: the connection's own thread is reading through it.
                socket.socket.shutdown(connection, socket.SHUT_RDWR)
            except OSError:
                pass

    def tls_context(self, own):
        """The context new TLS connections are handshaken with: own unless told otherwise."""
        with self.lock:
            return self.tls_alternates[self.tls_cert] if self.tls_cert else own

    def tls_refused_once(self):
        with self.lock:
            self.tls_refused += 1

    def set_tree(self, layout):
        tree = treemod.Tree(layout, self.seed, self.base_dir)
        if self.repack is not None:
            # A new build of every file, each of its old size, as a publisher re-packs.
            for token, node in tree.files.items():
                node.content = content.GeneratedContent(("%s|%s|repack %s" % (self.seed, token, self.repack)).encode(),
                                                        node.content.size)
                node.version += 1
        signing.sign_tree(tree, self.signing, self.sign_key, tree.add_root_file)
        site = lanzou.Site(tree)
        with self.lock:
            self.tree, self.site, self.layout = tree, site, layout
            self.replaced = {}

    def set_fault(self, kind, fault):
        if fault is not None:
            if not isinstance(fault, dict):
                raise ValueError("%s fault must be an object or null" % kind)
            fault = dict(fault)
            if kind == "list" and fault.get("mode") not in LIST_FAULTS:
                raise ValueError("list fault mode must be one of %s" % ", ".join(LIST_FAULTS))
            if kind == "lanzou" and fault.get("mode") not in lanzou.FAULT_MODES:
                raise ValueError("lanzou fault mode must be one of %s" % ", ".join(lanzou.FAULT_MODES))
            if kind == "stream" and not any(fault.get(k) for k in STREAM_FAULT_KEYS):
                raise ValueError("stream fault needs one of %s" % ", ".join(STREAM_FAULT_KEYS))
            for key in FAULT_NUMBERS:
                if key in fault and fault[key] is not None:
                    fault[key] = int(fault[key])
        with self.lock:
            self.faults[kind] = fault

    def take_fault(self, kind, token=None, mode=None, page=None):
        """The fault to apply to this request, counting down its "times"."""
        with self.lock:
            fault = self.faults[kind]
            if fault is None:
                return None
            if fault.get("token") and fault["token"] != token:
                return None
            if mode is not None and fault.get("mode") != mode:
                return None
            if fault.get("page") is not None and fault["page"] != page:
                return None
            if fault.get("per_file_times") is not None:
                taken = fault.setdefault("taken", {})
                if taken.get(token, 0) >= fault["per_file_times"]:
                    return None
                taken[token] = taken.get(token, 0) + 1
            if fault.get("times") is not None:
                fault["times"] -= 1
                if fault["times"] <= 0:
                    self.faults[kind] = None
            return dict(fault)

    def apply_control(self, command):
        """Applies a control object (the body of POST /__control)."""
        if not isinstance(command, dict):
            raise ValueError("control body must be a JSON object")
        if command.get("reset"):
            self.reset()
        if "signing" in command or "repack" in command:
            if command.get("signing") is not None and not isinstance(command["signing"], dict):
                raise ValueError("signing must be an object or null")
            with self.lock:
                self.signing = command.get("signing", self.signing)
                self.repack = command.get("repack", self.repack)
            if not ("preset" in command or "tree" in command):
                self.set_tree(self.layout)
        if "preset" in command or "tree" in command:
            self.set_tree(control_tree(command))
        if command.get("documents"):
            self.set_tree(treemod.with_documents(self.layout))
        self.apply_faults(command)
        if "replace" in command:
            self.replace_file(command["replace"])
        if "cookies" in command:
            cookies = command["cookies"]
            with self.lock:
                for kind in ("list", "download"):
                    if kind in cookies:
                        self.cookies[kind] = str(cookies[kind])
        if "visitor" in command:
            visitor = command["visitor"]
            if visitor is not None and (not isinstance(visitor, dict) or
                                        visitor.get("redirect") not in feishu.VISITOR_REDIRECTS):
                raise ValueError("visitor must be null or an object with redirect one of %s" %
                                 ", ".join(str(r) for r in feishu.VISITOR_REDIRECTS))
            with self.lock:
                self.visitor = None if visitor is None else {"public": bool(visitor.get("public", True)),
                                                             "redirect": visitor.get("redirect")}
        if "tls_cert" in command:
            name = command["tls_cert"]
            if name is not None and name not in self.tls_alternates:
                raise ValueError("tls_cert must be null or one of %s" % ", ".join(sorted(self.tls_alternates)))
            self.set_tls_cert(name)
        if "tls_refuse" in command:
            self.set_tls_refuse(bool(command["tls_refuse"]))
        if "gzip" in command:
            self.compress = bool(command["gzip"])
        if "pages" in command:
            self.pages.update(command["pages"])

    def describe(self):
        with self.lock:
            return {"ports": self.ports, "faults": copy.deepcopy(self.faults), "gzip": self.compress,
                    "visitor": self.visitor, "pace": self.pace,
                    "stall": self.stall.describe() if self.stall else None, "replaced": copy.deepcopy(self.replaced),
                    "outage": {"left": round(max(0.0, self.outage_until - time.monotonic()), 3),
                               "cut": self.outage_cut} if self.outage_until is not None else None,
                    "tls_cert": self.tls_cert, "tls_refuse": self.tls_refuse, "tls_refused": self.tls_refused,
                    "signing": copy.deepcopy(self.signing), "repack": self.repack,
                    "root": self.tree.root.token if self.tree.root else None,
                    "files": len(self.tree.files), "lanzou_files": len(self.tree.lanzou_files)}


def control_tree(command):
    if "tree" in command:
        return command["tree"]
    options = command.get("options", {})
    name = command["preset"]
    if name == "demo":
        return treemod.demo(float(options.get("part_size_mib", 4)), options.get("installer"))
    if name == "bench":
        return treemod.bench(int(options.get("files", 12)), float(options.get("file_size_mib", 64)))
    if name == "faults":
        return treemod.faults()
    if name == "clash":
        return treemod.clash()
    if name == "documents":
        return treemod.with_documents(treemod.demo(float(options.get("part_size_mib", 4)), options.get("installer")))
    raise ValueError("unknown preset %r" % name)


def stream_token(path):
    """The file token of a download stream's path, else None."""
    for prefix in (feishu.STREAM_PREFIX, lanzou.DOWNLOAD_PREFIX):
        if path.startswith(prefix):
            return path[len(prefix):]
    return None


def parse_range(header, size):
    """(start, end_exclusive) for a single byte range, None to send everything,
    or "unsatisfiable"."""
    if not header or size == 0:
        return None
    unit, _, ranges = header.partition("=")
    if unit.strip().lower() != "bytes" or "," in ranges:
        return None
    first, dash, last = ranges.strip().partition("-")
    if not dash:
        return None
    try:
        if first == "":
            length = int(last)
            if length <= 0:
                return "unsatisfiable"
            return max(0, size - length), size
        start = int(first)
        end = int(last) + 1 if last else size
    except ValueError:
        return None
    if start < 0 or (last and end <= start):
        return None
    if start >= size:
        return "unsatisfiable"
    return start, min(end, size)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "BrinemarchDrive/1.0"
    sys_version = ""
    # Idle keep-alive connections are dropped after this long.
    timeout = 300
    # Requests read on this connection.
    requests_read = 0

    def setup(self):
        super().setup()
        try:
            self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        except OSError:
            pass

    def version_string(self):
        return self.server_version

    @property
    def state(self):
        return self.server.state

    def log_message(self, fmt, *args):
        if self.state.verbose:
            sys.stderr.write("[%s] %s\n" % (self.server.kind, fmt % args))

    def do_GET(self):
        self._dispatch()

    def do_HEAD(self):
        self._dispatch()

    def do_POST(self):
        self._dispatch()

    def do_PUT(self):
        self._dispatch()

    def do_DELETE(self):
        self._dispatch()

    # -- plumbing -------------------------------------------------------

    def _read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            parts = []
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline().strip():
                        pass
                    return b"".join(parts)
                parts.append(self.rfile.read(size))
                self.rfile.readline()
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def _origin(self):
        scheme = "https" if self.server.kind == "tls" else "http"
        host = self.headers.get("Host") or "%s:%d" % (self.server.server_address[0], self.server.server_address[1])
        return "%s://%s" % (scheme, host)

    def _send(self, status, body=b"", content_type="text/plain; charset=utf-8", headers=(), compress=False):
        if compress and body and self.state.compress and "gzip" in self.headers.get("Accept-Encoding", "").lower():
            body = gzip.compress(body, 6)
            headers = list(headers) + [("Content-Encoding", "gzip"), ("Vary", "Accept-Encoding")]
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        if self.close_connection:
            self.send_header("Connection", "close")
        self._headers_buffer.append(b"\r\n")
        if self.command != "HEAD":
            self._headers_buffer.append(body)
        # Head and a small body in one write: no Nagle stall on keep-alive.
        self.wfile.write(b"".join(self._headers_buffer))
        self._headers_buffer = []

    def _send_json(self, status, obj, compress=False):
        self._send(status, json.dumps(obj, ensure_ascii=False).encode("utf-8"), "application/json; charset=utf-8",
                   compress=compress)

    def _dispatch(self):
        self.requests_read += 1
        target = self.path
        # Asked as a proxy is asked ("GET http://host:port/path"): answered as the drive there.
        # The log keeps the target as sent, so a test sees which requests came through a proxy.
        path, _, query = (urllib.parse.urlsplit(target)._replace(scheme="", netloc="").geturl()
                          if target.startswith("http://") else target).partition("?")
        body = self._read_body() if self.command in ("POST", "PUT") else b""
        self._entry = None
        # Body bytes of a stream handed to the kernel, those it meant to send, and when the last went.
        self.body_sent, self._planned, self._end, self._write_began = 0, None, None, None
        # Paced streams: [file position after a piece, when its write began], piece by piece, so
        # a benchmark knows when any byte left even of a stream the client cut once it had
        # what it wanted (the first stream of a split download has no end of its own).
        self._trace = []
        token = stream_token(path)
        if not path.startswith("/__"):
            entry = {"time": round(time.time(), 3), "port": self.server.kind, "client": self.client_address[0],
                     "method": self.command, "target": target, "path": path, "query": query,
                     "version": self.request_version, "headers": [[k, v] for k, v in self.headers.items()]}
            if token is not None:
                entry["token"] = token
            try:
                entry["body"] = body.decode("utf-8")
            except UnicodeDecodeError:
                entry["body_b64"] = base64.b64encode(body).decode("ascii")
            self.state.log.add(entry, self if token is not None else None)
            self._entry = entry
        try:
            if not path.startswith("/__") and self.state.in_outage():
                return self._reset()
            self._route(path, query, body)
        except (ConnectionError, ssl.SSLError, socket.timeout):
            self.close_connection = True
        finally:
            if self._entry is not None and token is not None:
                # Also for a stream cut short: a test counts what a run really fetched.
                fields = {"sent": self.body_sent}
                if self._end is not None:
                    fields["end"] = self._end
                if self._planned is not None and self.body_sent < self._planned:
                    fields["cut"] = True
                if self._trace:
                    fields["trace"] = self._trace
                self.state.log.finish(self._entry, **fields)

    def _route(self, path, query, body):
        method = self.command
        tree, site = self.state.tree, self.state.site
        if path == "/__control":
            return self._control(body)
        if path == "/__requests":
            since = int(urllib.parse.parse_qs(query).get("since", ["0"])[0])
            last, entries = self.state.log.since(since)
            return self._send_json(200, {"last": last, "requests": entries})
        if path == "/__sent":
            since = int(urllib.parse.parse_qs(query).get("since", ["0"])[0])
            return self._send_json(200, self.state.log.sent_since(since))
        page = self.state.pages.find(path, query)
        if page is not None:
            return self._send(page.status, page.body, page.content_type, headers=page.headers)
        if method == "POST":
            form = dict(urllib.parse.parse_qsl(body.decode("utf-8", "replace"), keep_blank_values=True))
            if path == lanzou.LIST_PATH:
                return self._lanzou_list(tree, form)
            if path == lanzou.AJAX_PATH:
                return self._lanzou_ajax(site, form)
            return self._send(404, b"not found\n")
        if method not in ("GET", "HEAD"):
            return self._send(405, b"method not allowed\n", headers=[("Allow", "GET, HEAD, POST")])
        if path == "/ipecho":
            ip = self.client_address[0]
            page = ('<!DOCTYPE html><html><head><meta charset="utf-8"><title>IP</title></head><body>'
                    '<p>Your address: <span data-ip="%s">%s</span></p></body></html>' % (ip, ip))
            return self._send(200, page.encode(), "text/html; charset=utf-8")
        if path == feishu.LIST_PATH:
            return self._listing(tree, query)
        if path.startswith(feishu.STREAM_PREFIX):
            return self._feishu_stream(tree, path[len(feishu.STREAM_PREFIX):])
        if path.startswith(lanzou.DOWNLOAD_PREFIX):
            item = tree.lanzou_files.get(path[len(lanzou.DOWNLOAD_PREFIX):])
            if item is None:
                return self._send(404, b"not found\n")
            return self._stream(item.content, item.name, item.id)
        if path == lanzou.LINK_PREFIX and query:
            return self._lanzou_link(site, "?" + query)
        if path.startswith("/drive/folder/"):
            folder = tree.folders.get(path[len("/drive/folder/"):])
            if folder is not None and self.state.visitor is not None and folder is tree.root:
                return self._visitor_page(path, query)
            if folder is None:
                return self._send(404, feishu.page("Not found", "no such folder"), "text/html; charset=utf-8")
            return self._send(200, feishu.page(folder.name, "shared folder"), "text/html; charset=utf-8")
        if path.startswith("/file/"):
            node = tree.files.get(path[len("/file/"):])
            if node is None:
                return self._send(404, feishu.page("Not found", "no such file"), "text/html; charset=utf-8")
            return self._send(200, feishu.page(node.name, "shared file"), "text/html; charset=utf-8")
        if path == lanzou.FRAME_PATH:
            return self._lanzou_frame(site, query)
        name = path[1:]
        if name and "/" not in name:
            return self._lanzou_page(tree, site, name)
        return self._send(404, b"not found\n")

    def _control(self, body):
        if self.command == "POST":
            try:
                self.state.apply_control(json.loads(body.decode("utf-8") or "{}"))
            except (ValueError, KeyError, TypeError) as e:
                return self._send_json(400, {"error": str(e)})
        return self._send_json(200, self.state.describe())

    # -- Feishu ---------------------------------------------------------

    def _cookie_ok(self, kind):
        # In the visitor mode the drive no longer takes the build's signed-in session.
        if self.state.visitor is not None:
            return False
        return cookie_pairs(self.headers.get_all("Cookie") or []) == line_pairs(self.state.cookies[kind])

    def _visitor_session(self):
        """None without a visitor's session; else whether the share lets visitors in."""
        visitor = self.state.visitor
        if visitor is None or cookie_pairs(self.headers.get_all("Cookie") or []) != cookie_pairs(feishu.VISITOR_COOKIES):
            return None
        root = self.state.tree.root
        referer_ok = root is not None and self.headers.get("Referer") == feishu.folder_url(self._origin(), root.token)
        return visitor["public"] and referer_ok

    def _visitor_page(self, path, query):
        """The share's page as a browser without a session meets it: a redirect, then the page."""
        mode = self.state.visitor["redirect"]
        trace = [("Set-Cookie", feishu.VISITOR_TRACE_FIRST + "; Path=/; Max-Age=600")]
        if mode == "loop":
            return self._send(302, b"", headers=trace + [("Location", path)])
        if mode == "foreign":
            return self._send(302, b"", headers=trace + [("Location", "http://localhost:%d%s?visitor=1" %
                                                          (self.server.server_address[1], path))])
        if query != "visitor=1":
            return self._send(302, b"", headers=trace + [("Location", path + "?visitor=1")])
        if cookie_pairs([feishu.VISITOR_TRACE_FIRST])[0] not in cookie_pairs(self.headers.get_all("Cookie") or []):
            return self._send(400, feishu.page("Bad request", "cookies are off"), "text/html; charset=utf-8")
        cookies = [("Set-Cookie", c + "; Path=/; HttpOnly") for c in feishu.VISITOR_SET_ON_PAGE]
        return self._send(200, feishu.page(self.state.tree.root.name, "shared folder"), "text/html; charset=utf-8",
                          headers=cookies)

    def _listing(self, tree, query):
        if not query.startswith(feishu.LIST_QUERY_PREFIX):
            return self._send(200, feishu.encode(feishu.BAD_PARAMS), "application/json; charset=utf-8")
        token, marker, label = query[len(feishu.LIST_QUERY_PREFIX):].partition("&last_label=")
        label = urllib.parse.unquote(label) if marker else None
        if token not in tree.folders:
            token = urllib.parse.unquote(token)
        if not self._cookie_ok("list"):
            visitor = self._visitor_session()
            if visitor is None:
                return self._send(200, feishu.encode(feishu.EXPIRED), "application/json; charset=utf-8")
            if not visitor:
                return self._send(200, feishu.encode(feishu.NO_PERMISSION), "application/json; charset=utf-8")
        page = 1 if label is None else 1 + (feishu.cursor_offset(label, token) or 0) // feishu.PAGE_LENGTH
        fault = self.state.take_fault("list", token, page=page)
        mode = fault and fault["mode"]
        if mode == "hang":
            return self._hang()
        if mode == "slow" and self.state.stop.wait(fault.get("delay_ms", 2000) / 1000.0):
            return None
        if mode == "500":
            return self._send(500, b"<html><body><h1>500 Internal Server Error</h1></body></html>",
                              "text/html; charset=utf-8")
        if mode == "invalid_json":
            return self._send(200, b'{"code":0,"msg":"Success","data":{"node_list":["', "application/json; charset=utf-8")
        if mode == "expired":
            return self._send(200, feishu.encode(feishu.EXPIRED), "application/json; charset=utf-8")
        if mode == "refused":
            return self._send(200, feishu.encode(feishu.THROTTLED), "application/json; charset=utf-8")
        answer = feishu.listing(tree, token, feishu.PAGE_LENGTH, self._origin(), label)
        if mode in ("no_label", "repeat_label") and answer.get("code") == 0:
            # A drive that says "more" but gives no way on, or the same way again.
            answer["data"]["has_more"] = True
            answer["data"]["last_label"] = "" if mode == "no_label" else feishu.cursor(token, 0)
        self._send(200, feishu.encode(answer), "application/json; charset=utf-8", compress=True)

    def _reset(self):
        """Ends the connection unanswered (a reset where the platform sends one), as a drive
        that went away does."""
        self.close_connection = True
        try:
            socket.socket.setsockopt(self.connection, socket.SOL_SOCKET, socket.SO_LINGER,
                                     struct.pack("ii", 1, 0))
            socket.socket.shutdown(self.connection, socket.SHUT_RDWR)
        except OSError:
            pass

    def _hang(self, lifted=None):
        """Sends nothing more: holds the connection until the client leaves, the server stops
        or `lifted` is set."""
        self.close_connection = True
        plain = not isinstance(self.connection, ssl.SSLSocket)
        while not self.state.stop.is_set() and not (lifted is not None and lifted.is_set()):
            if plain:
                readable, _, _ = select.select([self.connection], [], [], 0.2)
                if readable:
                    try:
                        if not self.connection.recv(1, socket.MSG_PEEK):
                            return
                    except OSError:
                        return
                    self.state.stop.wait(0.2)
            else:
                self.state.stop.wait(0.2)

    def _feishu_stream(self, tree, token):
        if not self._cookie_ok("download") and not self._visitor_session():
            return self._send_json(403, {"code": 403, "msg": "forbidden: no valid session"})
        node = tree.files.get(token)
        if node is None:
            return self._send_json(404, {"code": 1002, "msg": "file not found"})
        self._stream(node.content, node.name, token, node.throttle_bps, node.throttle_after, node.version)

    # -- byte streams ---------------------------------------------------

    def _stream(self, data, name, token, throttle_bps=0, throttle_after=0, version=0):
        fault = self.state.take_fault("stream", token) or {}
        if fault.get("delay_ms"):
            if self.state.stop.wait(fault["delay_ms"] / 1000.0):
                return
        if fault.get("status"):
            retry = [("Retry-After", str(fault["retry_after"]))] if fault.get("retry_after") is not None else []
            return self._send(fault["status"], b"stream fault\n", headers=retry)
        if fault.get("corrupt"):
            data = content.Corrupted(data)
        size = data.size
        wanted = parse_range(self.headers.get("Range"), size)
        if wanted == "unsatisfiable":
            return self._send(416, b"", headers=[("Content-Range", "bytes */%d" % size)])
        start, end = wanted if wanted else (0, size)
        ascii_name = "".join(c if 32 < ord(c) < 127 and c not in '"\\;' else "_" for c in name)
        self.send_response(206 if wanted else 200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(end - start))
        self.send_header("Accept-Ranges", "bytes")
        if wanted:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end - 1, size))
        self.send_header("Content-Disposition", "attachment; filename=\"%s\"; filename*=UTF-8''%s"
                         % (ascii_name, urllib.parse.quote(name, safe="")))
        # A file uploaded again is newer and tagged anew, as at the real drive.
        self.send_header("Last-Modified", email.utils.formatdate(_MODIFIED + 3600 * version, usegmt=True))
        self.send_header("ETag", '"%s-%d"' % (token, size) if not version else '"%s-%d-%d"' % (token, size, version))
        if self.close_connection:
            self.send_header("Connection", "close")
        self.end_headers()
        if self.command == "HEAD":
            return
        drop_after = fault.get("drop_after")
        if fault.get("throttle"):
            bps, free = fault["throttle"], 0
        elif throttle_bps:
            bps, free = throttle_bps, throttle_after
        else:
            bps, free = self.state.pace or 0, 0
        limit = end - start if drop_after is None else min(end - start, drop_after)
        self._planned = limit
        if not self._body(data, token, start, start + limit, bps, free):
            return
        # When the last byte was handed to the kernel: benchmarks time what follows from it.
        # Noted as the last write began: a client holding the last byte then always finds
        # the end in the log, even when this thread waits for the CPU after the write.
        self._end = round(self._write_began or time.time(), 6)
        if limit < end - start:
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def _body(self, data, token, start, end, bps, free):
        """Sends bytes [start, end): the first `free` at full speed, the rest at `bps` (0: all
        at full speed), holding where a stall says so. False when the stream ended here first
        (a stall lifted, the server stopped, the client left while held)."""
        # Large plain streams go by sendfile: no copy through Python and the interpreter
        # lock is free while the kernel sends.
        by_sendfile = hasattr(data, "file_spans") and not isinstance(self.connection, ssl.SSLSocket)
        paced_from = min(end, start + free) if bps else end
        piece = max(512, min(65536, bps // 20))
        began, paced = None, 0
        pos = start
        while pos < end:
            take = min(paced_from - pos, content.BLOCK) if pos < paced_from else min(end - pos, piece)
            if self.state.in_outage():
                self._reset()
                return False
            stall = self.state.stall
            if stall is not None:
                take = stall.grant(token, take)
                if take == 0:
                    self._hang(stall.lifted)
                    return False
            if pos >= paced_from:
                began = time.monotonic() if began is None else began
                delay = began + paced / float(bps) - time.monotonic()
                if delay > 0 and self.state.stop.wait(delay):
                    return False
                paced += take
            piece_began = time.time()
            if by_sendfile:
                for f, offset, length in data.file_spans(pos, pos + take):
                    self._sendfile(f, offset, length)
            else:
                for chunk in data.chunks(pos, pos + take):
                    self._write_began = time.time()
                    self.wfile.write(chunk)
                    self.body_sent += len(chunk)
            pos += take
            if bps and pos > paced_from:
                self._trace.append([pos, round(piece_began, 6)])
        return True

    def _sendfile(self, f, offset, length):
        """os.sendfile, counting as it goes: a stream cut midway still knows what it wrote."""
        out, source = self.connection.fileno(), f.fileno()
        while length > 0:
            try:
                self._write_began = time.time()
                n = os.sendfile(out, source, offset, length)
            except BlockingIOError:
                # The socket has a time-out, so it is non-blocking underneath.
                if not select.select([], [out], [], self.connection.gettimeout())[1]:
                    raise socket.timeout("stream write timed out")
                continue
            if n == 0:
                raise ConnectionResetError("stream closed")
            offset += n
            length -= n
            self.body_sent += n

    # -- Lanzou ---------------------------------------------------------

    def _html(self, page):
        self._send(200, page, "text/html; charset=utf-8", compress=True)

    def _lanzou_page(self, tree, site, name):
        folder = tree.lanzou_folders.get(name)
        if folder is not None:
            return self._html(lanzou.folder_page(folder))
        item = tree.lanzou_files.get(name)
        if item is None:
            return self._send(404, feishu.page("文件取消分享了", "来晚啦...文件取消分享了"), "text/html; charset=utf-8")
        if self.state.take_fault("lanzou", mode="page_short"):
            return self._html(b"<html>gone</html>")
        two = bool(self.state.take_fault("lanzou", mode="page_two_tokens"))
        self._html(lanzou.file_page(site, item, extra_token=two))

    def _lanzou_frame(self, site, query):
        item = site.by_page_token.get(query)
        if item is None:
            return self._send(404, feishu.page("文件取消分享了", "来晚啦...文件取消分享了"), "text/html; charset=utf-8")
        if self.state.take_fault("lanzou", mode="frame_short"):
            return self._html(b"<html></html>")
        two = bool(self.state.take_fault("lanzou", mode="frame_two_tokens"))
        self._html(lanzou.frame_page(site, item, extra_token=two))

    def _lanzou_list(self, tree, form):
        if self.state.take_fault("lanzou", mode="list_invalid_json"):
            return self._send(200, b"<html><body>502 Bad Gateway</body></html>", "text/html; charset=utf-8")
        self._send(200, lanzou.encode(lanzou.list_answer(tree, form)), "application/json", compress=True)

    def _lanzou_ajax(self, site, form):
        if self.state.take_fault("lanzou", mode="ajax_short"):
            return self._send(200, b'{"zt":0}', "application/json")
        self._send(200, lanzou.encode(lanzou.ajax_answer(site, form, self._origin())), "application/json")

    def _lanzou_link(self, site, link):
        item = site.by_link.get(link)
        if item is None:
            return self._send(404, b"not found\n")
        if self.state.take_fault("lanzou", mode="no_location"):
            return self._html(b"<html><body>ok</body></html>")
        if self.state.take_fault("lanzou", mode="short_location"):
            location = "http://127.0.0.1/x"
        else:
            host = self.server.server_address[0]
            location = "http://%s:%d%s%s" % (host, self.state.ports["http"], lanzou.DOWNLOAD_PREFIX, item.id)
        self._send(302, b"", "text/html; charset=utf-8", headers=[("Location", location)])


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 128
    allow_reuse_address = True

    def __init__(self, address, state, kind, ssl_context=None):
        if ":" in address[0]:
            self.address_family = socket.AF_INET6
        self.state = state
        self.kind = kind
        self.ssl_context = ssl_context
        super().__init__(address, Handler)

    def finish_request(self, request, client_address):
        if self.ssl_context is None:
            return super().finish_request(request, client_address)
        if self.state.tls_refuse:
            return self._refuse_handshake(request)
        # The handshake runs here, on the connection's own thread, so a slow
        # client cannot hold up accepting others.
        try:
            request.settimeout(30)
            secure = self.state.tls_context(self.ssl_context).wrap_socket(request, server_side=True)
        except (OSError, ssl.SSLError):
            self.state.tls_refused_once()
            return
        with self.state.lock:
            self.state.tls_connections.add(secure)
        try:
            secure.settimeout(None)
            # A client that does not trust the certificate hangs up during the handshake or,
            # checking it afterwards (WinHTTP does), right after it: before any request.
            if self.RequestHandlerClass(secure, client_address, self).requests_read == 0:
                self.state.tls_refused_once()
        finally:
            with self.state.lock:
                self.state.tls_connections.discard(secure)
            try:
                secure.close()
            except OSError:
                pass

    def _refuse_handshake(self, request):
        """Reads the client's hello and answers with a fatal handshake_failure alert: no
        client gets a secure channel, whatever it trusts."""
        try:
            request.settimeout(10)
            request.recv(16384)
        except OSError:
            pass
        # Counted before the alert goes out, so a client that has seen the refusal
        # also sees it counted.
        self.state.tls_refused_once()
        try:
            request.sendall(b"\x15\x03\x03\x00\x02\x02\x28")
        except OSError:
            pass

    def handle_error(self, request, client_address):
        kind = sys.exc_info()[0]
        if kind is not None and issubclass(kind, (ConnectionError, ssl.SSLError, socket.timeout)):
            return
        super().handle_error(request, client_address)
