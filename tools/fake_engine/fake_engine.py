#!/usr/bin/env python3
"""Scripted stand-in for the download engine's JSON-RPC interface, for the engine tests.

Loopback only, standard library only. It answers aria2.getVersion, aria2.changeGlobalOption,
aria2.addUri, aria2.tellStatus and aria2.shutdown from a script, and system.multicall of them
(each inner call recorded and answered as if it came alone, after the multicall's own record;
an inner answer that is not JSON stands in the result list as a string), and records every
request. A request comes as a POST body or, as the engine also takes it, in a GET's "params"
(the request's UTF-8 in base64).

usage:
  fake_engine.py serve --port-file FILE [--port N]   run in the foreground
  fake_engine.py start --state-dir DIR               run in the background; DIR/port holds the port
  fake_engine.py stop  --state-dir DIR

Control routes (JSON bodies, JSON answers):
  POST /__script    replaces the script and forgets every task and recorded request:
      {"version": "1.36.0" | null,          null: getVersion answers an error
       "token": "token:<secret>",           other tokens get an error (default: any "token:...")
       "refuse": ["aria2.addUri", ...],     these methods answer a JSON-RPC error
       "close": ["aria2.tellStatus", ...],  these methods close the connection unanswered
       "raw": {"aria2.tellStatus": "text"}, these methods answer this body as it is
       "delay_ms": {"aria2.addUri": 300},   wait before answering
       "gids": ["0123456789abcdef", ...],   ids handed out by addUri, in order (then generated)
       "steps": [step, ...],                what tellStatus answers for a task (default)
       "steps_by_out": {"a.rar": [step, ...]},  the same, chosen by the add's "out" option
       "extra_tasks": {"gid": [step, ...]},  tasks that exist without an add
       "ip": "203.0.113.9"}                 what GET /ipecho shows
    A step: {"status": "active", "totalLength": "100", "completedLength": "5",
             "downloadSpeed": "10", "errorCode": "0", "followedBy": "gid" | [...],
             "verifiedLength": "N", "verifyIntegrityPending": "true" (while the engine hashes),
             "path": "C:/x/a.rar" (default: the add's dir and out joined by "/"),
             "omit": ["files", ...], "raw": "text" (answered as it is instead),
             "times": N (answers this step gives, default 1)}.
    Each tellStatus of a task takes the next answer; the last step answers for ever.
  POST /__task      {"gid" or "out": ..., "steps": [...]}: the task's answers from now on
  POST /__listen    {"port": N}: answer JSON-RPC on that loopback port too (0: a free one; the
                    answer names it); /__unlisten {"port": N} closes it again
  POST /__set       merges keys into the script, keeping tasks and recorded requests
  GET  /__requests  every recorded JSON-RPC request: {"seq", "port", "method", "gid", "out",
                    "params", "body", "time", "answer"} (body as received or decoded, params parsed,
                    answer: the gid an add got or the status a query got)
  GET  /__log       the same as text, one request a line: seq TAB port TAB method TAB gid
                    TAB out TAB answer
  GET  /__body?seq=N  the body of request N as received or decoded
  GET  /ipecho      a page holding <span data-ip="...">
"""

import argparse
import base64
import http.server
import json
import os
import signal
import socket
import socketserver
import sys
import threading
import time
import urllib.parse
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "test_support"))
import background_server  # noqa: E402
from background_server import write_atomically  # noqa: E402

IDLE_EXIT_SECONDS = 1800  # a forgotten server ends by itself
ERROR_CODES = {"parse": -32700, "refused": 1}


class Task:
    def __init__(self, gid, options, steps):
        self.gid = gid
        self.options = options
        self.steps = steps
        self.index = 0
        self.used = 0

    def answer(self):
        if not self.steps:
            return {"status": "waiting"}
        step = self.steps[min(self.index, len(self.steps) - 1)]
        self.used += 1
        if self.index < len(self.steps) - 1 and self.used >= int(step.get("times", 1)):
            self.index += 1
            self.used = 0
        return step


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.listeners = {}
        self.last_use = time.monotonic()
        self.set_script({})

    def set_script(self, script):
        with self.lock:
            self.script = dict(script)
            self.tasks = {}
            self.order = []
            self.requests = []
            self.next_gid = 0
            for gid, steps in (script.get("extra_tasks") or {}).items():
                self.tasks[gid] = Task(gid, {}, steps)

    def new_gid(self):
        given = self.script.get("gids") or []
        if self.next_gid < len(given):
            gid = given[self.next_gid]
        else:
            gid = "%016x" % (0x2089B05ECCA3D800 + self.next_gid)
        self.next_gid += 1
        return gid

    def record(self, port, body, request):
        """The new entry; the answer is filled in when it is known."""
        params = request.get("params") if isinstance(request, dict) else None
        method = request.get("method") if isinstance(request, dict) else None
        gid = params[1] if method == "aria2.tellStatus" and isinstance(params, list) and len(params) > 1 else None
        out = params[2].get("out") if method == "aria2.addUri" and isinstance(params, list) and len(params) > 2 \
            and isinstance(params[2], dict) else None
        entry = {"seq": 0, "port": port, "method": method, "gid": gid, "out": out, "params": params, "body": body,
                 "time": time.time(), "answer": ""}
        with self.lock:
            entry["seq"] = len(self.requests) + 1
            self.requests.append(entry)
        return entry

    def find_task(self, key):
        with self.lock:
            if "gid" in key:
                return self.tasks.get(key["gid"])
            for gid in self.order:
                if self.tasks[gid].options.get("out") == key.get("out"):
                    return self.tasks[gid]
        return None


STATE = State()


def default_path(options):
    folder = str(options.get("dir", "")).replace("\\", "/").rstrip("/")
    out = str(options.get("out", "")).replace("\\", "/")
    return folder + "/" + out if folder else out


def status_result(task, step):
    result = {"gid": task.gid, "status": step.get("status", "active"), "errorCode": step.get("errorCode", "0"),
              "totalLength": step.get("totalLength", "0"), "completedLength": step.get("completedLength", "0"),
              "downloadSpeed": step.get("downloadSpeed", "0"), "uploadSpeed": "0", "connections": "1",
              "numSeeders": "0", "dir": str(task.options.get("dir", "")),
              "files": [{"index": "1", "path": step.get("path", default_path(task.options)),
                         "length": step.get("totalLength", "0"), "selected": "true", "uris": []}]}
    for key in ("followedBy", "verifiedLength", "verifyIntegrityPending"):
        if key in step:
            result[key] = step[key]
    for key in step.get("omit", []):
        result.pop(key, None)
    return result


def rpc_answer(request, entry):
    """(body text or None to close the connection, delay in seconds)."""
    script = STATE.script
    method = request.get("method")
    params = request.get("params") or []
    rid = request.get("id")
    delay = float((script.get("delay_ms") or {}).get(method, 0)) / 1000.0
    if method in (script.get("close") or []):
        return None, delay
    if method in (script.get("raw") or {}):
        return script["raw"][method], delay

    def error(code, message):
        return json.dumps({"jsonrpc": "2.0", "id": rid, "error": {"code": code, "message": message}}), delay

    def result(value):
        return json.dumps({"jsonrpc": "2.0", "id": rid, "result": value}), delay

    if method == "system.multicall":
        return result(multicall_results(params, entry["port"], rid))

    wanted = script.get("token")
    signed = bool(params) and isinstance(params[0], str) and params[0].startswith("token:") and len(params[0]) > 6
    if not signed or (wanted is not None and params[0] != wanted):
        return error(1, "Unauthorized")
    if method in (script.get("refuse") or []):
        return error(ERROR_CODES["refused"], "refused by the script")
    if method == "aria2.getVersion":
        version = script.get("version", "1.36.0")
        return error(1, "not ready") if version is None else result({"version": version, "enabledFeatures": []})
    if method in ("aria2.changeGlobalOption", "aria2.shutdown"):
        return result("OK")
    if method == "aria2.addUri":
        options = params[2] if len(params) > 2 and isinstance(params[2], dict) else {}
        with STATE.lock:
            gid = STATE.new_gid()
            steps = (script.get("steps_by_out") or {}).get(options.get("out"), script.get("steps", []))
            STATE.tasks[gid] = Task(gid, options, steps)
            STATE.order.append(gid)
            entry["answer"] = gid
        return result(gid)
    if method == "aria2.tellStatus":
        gid = params[1] if len(params) > 1 else None
        with STATE.lock:
            task = STATE.tasks.get(gid)
            step = task.answer() if task else None
            entry["answer"] = step.get("status", "active") if step else "unknown"
        if task is None:
            return error(1, "GID %s is not found" % gid)
        if "raw" in step:
            return step["raw"], delay
        return result(status_result(task, step))
    return error(1, "No such method: %s" % method)


def multicall_results(params, port, rid):
    """The result list of a system.multicall: [answer] for a result, the error object for an error."""
    calls = params[0] if params and isinstance(params[0], list) else []
    results = []
    for call in calls:
        call = call if isinstance(call, dict) else {}
        inner = {"jsonrpc": "2.0", "id": rid, "method": call.get("methodName"), "params": call.get("params") or []}
        text, _ = rpc_answer(inner, STATE.record(port, json.dumps(inner), inner))
        try:
            answer = json.loads(text or "")
        except ValueError:
            results.append(text or "")
            continue
        results.append([answer["result"]] if "result" in answer else answer.get("error"))
    return results


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "FakeEngine/1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.dispatch()

    def do_POST(self):
        self.dispatch()

    def answer(self, status, body, content_type="application/json"):
        data = body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def dispatch(self):
        STATE.last_use = time.monotonic()
        length = int(self.headers.get("Content-Length") or 0)
        raw = self.rfile.read(length) if length else b""
        path = self.path.partition("?")[0]
        if path.startswith("/__"):
            return self.control(path, raw)
        if path == "/ipecho":
            ip = STATE.script.get("ip", "203.0.113.9")
            return self.answer(200, '<html><body>Your address: <span data-ip="%s">%s</span></body></html>' % (ip, ip),
                               "text/html; charset=utf-8")
        if path != "/jsonrpc":
            return self.answer(404, '{"error":"not found"}')
        if self.command == "GET":
            # As the engine reads a GET: "params" holds the whole request in base64 when the
            # query names no method.
            query = urllib.parse.parse_qs(self.path.partition("?")[2])
            try:
                raw = base64.b64decode(query.get("params", [""])[0], validate=True)
            except ValueError:
                raw = b""
        body = raw.decode("utf-8", "replace")
        try:
            request = json.loads(body)
        except ValueError:
            STATE.record(self.server.server_address[1], body, None)
            return self.answer(200, json.dumps({"jsonrpc": "2.0", "id": None,
                                                "error": {"code": ERROR_CODES["parse"], "message": "Parse error."}}))
        entry = STATE.record(self.server.server_address[1], body, request)
        text, delay = rpc_answer(request if isinstance(request, dict) else {}, entry)
        if delay:
            time.sleep(delay)
        if text is None:
            self.close_connection = True
            return
        self.answer(200, text)

    def control(self, path, raw):
        try:
            command = json.loads(raw.decode("utf-8") or "{}")
        except ValueError as e:
            return self.answer(400, json.dumps({"error": str(e)}))
        if path == "/__script":
            STATE.set_script(command)
            return self.answer(200, '{"ok":true}')
        if path == "/__task":
            task = STATE.find_task(command)
            if task is None:
                return self.answer(404, '{"error":"no such task"}')
            with STATE.lock:
                task.steps, task.index, task.used = list(command.get("steps", [])), 0, 0
            return self.answer(200, json.dumps({"gid": task.gid}))
        if path == "/__set":
            with STATE.lock:
                STATE.script.update(command)
            return self.answer(200, '{"ok":true}')
        if path == "/__requests":
            with STATE.lock:
                return self.answer(200, json.dumps(STATE.requests))
        if path == "/__log":
            with STATE.lock:
                lines = ["%d\t%d\t%s\t%s\t%s\t%s\n" % (e["seq"], e["port"], e["method"] or "", e["gid"] or "",
                                                        e["out"] or "", e["answer"]) for e in STATE.requests]
            return self.answer(200, "".join(lines), "text/plain; charset=utf-8")
        if path == "/__body":
            query = urllib.parse.parse_qs(self.path.partition("?")[2])
            seq = int((query.get("seq") or ["0"])[0])
            with STATE.lock:
                found = [e["body"] for e in STATE.requests if e["seq"] == seq]
            if not found:
                return self.answer(404, '{"error":"no such request"}')
            return self.answer(200, found[0], "text/plain; charset=utf-8")
        if path == "/__listen":
            return self.answer(*listen(int(command["port"])))
        if path == "/__unlisten":
            return self.answer(*unlisten(int(command["port"])))
        return self.answer(404, '{"error":"unknown control route"}')


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    # Tests listen on the engine's fixed ports again and again; a closed listener's connections
    # in TIME_WAIT must not keep the next one out (two listeners at once still cannot be).
    allow_reuse_address = True

    def __init__(self, address, handler):
        super().__init__(address, handler)
        self.open_connections = set()
        self.connections_lock = threading.Lock()

    def process_request(self, request, client_address):
        with self.connections_lock:
            self.open_connections.add(request)
        super().process_request(request, client_address)

    def shutdown_request(self, request):
        with self.connections_lock:
            self.open_connections.discard(request)
        super().shutdown_request(request)

    def close_everything(self):
        """Stops listening and drops the kept-alive connections too, as an ended process would."""
        self.shutdown()
        self.server_close()
        with self.connections_lock:
            connections = list(self.open_connections)
        for connection in connections:
            try:
                connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def listen(port):
    with STATE.lock:
        if port and port in STATE.listeners:
            return 200, json.dumps({"port": port})
    try:
        server = Server(("127.0.0.1", port), Handler)
    except OSError as e:
        return 409, json.dumps({"error": str(e)})
    port = server.server_address[1]
    threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True).start()
    with STATE.lock:
        STATE.listeners[port] = server
    return 200, json.dumps({"port": port})


def unlisten(port):
    with STATE.lock:
        server = STATE.listeners.pop(port, None)
    if server:
        server.close_everything()
    return 200, '{"ok":true}'


def serve(port_file, port):
    server = Server(("127.0.0.1", port), Handler)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True).start()
    write_atomically(port_file, "%d\n" % server.server_address[1])
    while not stop.wait(1):
        if time.monotonic() - STATE.last_use > IDLE_EXIT_SECONDS:
            break
    server.shutdown()
    server.server_close()


def main():
    parser = argparse.ArgumentParser(description="Scripted stand-in for the engine's JSON-RPC interface.")
    parser.add_argument("command", choices=["serve", "start", "stop"])
    parser.add_argument("--port-file")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--state-dir")
    args = parser.parse_args()
    if args.command == "serve":
        if not args.port_file:
            parser.error("--port-file is required")
        serve(args.port_file, args.port)
        return 0
    if not args.state_dir:
        parser.error("--state-dir is required")
    return (background_server.start(__file__, args.state_dir, "fake_engine") if args.command == "start"
            else background_server.stop(args.state_dir))


if __name__ == "__main__":
    sys.exit(main())
