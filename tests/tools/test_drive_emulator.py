#!/usr/bin/env python3
"""Tests of the cloud-drive emulator, run against a real server process on
ephemeral loopback ports. The Lanzou steps are walked the way the downloader's
resolver walks them (regular expressions over the pages), so a page the
resolver could not read fails here first."""

import base64
import gzip
import hashlib
import http.client
import json
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse

# Keep the source folders free of bytecode caches.
sys.dont_write_bytecode = True
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
EMULATOR_DIR = os.path.join(ROOT, "tools", "drive_emulator")
EMULATOR = os.path.join(EMULATOR_DIR, "drive_emulator.py")
sys.path.insert(0, EMULATOR_DIR)

import content  # noqa: E402
import defaults  # noqa: E402
import feishu  # noqa: E402
import tree as treemod  # noqa: E402

LIST_PATH = "/space/api/explorer/v3/children/list/"
LIST_QUERY = ("?thumbnail_width=1028&thumbnail_height=1028&thumbnail_policy=4&obj_type=0&obj_type=2&obj_type=22"
              "&obj_type=44&obj_type=3&obj_type=30&obj_type=8&obj_type=11&obj_type=12&length=50&asc=1&rank=5"
              "&token=jxfswjj")
STREAM_PATH = "/space/api/box/stream/download/all/"
LIST_COOKIE = defaults.COOKIE_LINES["list"]
DOWNLOAD_COOKIE = defaults.COOKIE_LINES["download"]
AGENT = ("Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/94.0.4606.71 "
         "Safari/537.36 Core/1.94.209.400 QQBrowser/12.0.5442.400")
PART_MIB = 2.0


def header_line(line):
    name, _, value = line.partition(":")
    return {name.strip(): value.strip()}


def start_emulator(args, directory, wait=True):
    port_file = os.path.join(directory, "ports-%d.json" % time.monotonic_ns())
    proc = subprocess.Popen([sys.executable, EMULATOR, "--port-file", port_file] + args,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if not wait:
        return proc, None
    deadline = time.monotonic() + 15
    while not os.path.exists(port_file):
        if proc.poll() is not None or time.monotonic() > deadline:
            proc.kill()
            raise RuntimeError("emulator did not start: %s" % proc.communicate()[1].decode(errors="replace"))
        time.sleep(0.02)
    with open(port_file) as f:
        return proc, json.load(f)


def stop_emulator(proc, sig=signal.SIGTERM):
    proc.send_signal(sig)
    try:
        proc.communicate(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
    return proc.returncode


def receive(sock, quiet, limit=15):
    """What a raw connection brings until it is `quiet` seconds without a byte or closes:
    (bytes, closed)."""
    sock.settimeout(quiet)
    data = b""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        try:
            chunk = sock.recv(1 << 16)
        except socket.timeout:
            return data, False
        if not chunk:
            return data, True
        data += chunk
    raise AssertionError("still receiving after %d s" % limit)


def between(text, start, end):
    i = text.find(start)
    if i < 0:
        return ""
    i += len(start)
    j = text.find(end, i)
    return text[i:j] if j >= 0 else ""


TOKEN = re.compile(r"[\d\w\_]{70,}", re.ASCII)


class Client:
    """Plain and TLS requests to the emulator, one fresh connection each."""

    def __init__(self, ports):
        self.ports = ports
        self.tls = ssl.create_default_context()
        self.tls.check_hostname = False
        self.tls.verify_mode = ssl.CERT_NONE

    def connection(self, secure=False, timeout=10):
        if secure:
            return http.client.HTTPSConnection("127.0.0.1", self.ports["tls"], timeout=timeout, context=self.tls)
        return http.client.HTTPConnection("127.0.0.1", self.ports["http"], timeout=timeout)

    def request(self, method, target, headers=None, body=None, secure=False, timeout=10):
        conn = self.connection(secure, timeout)
        try:
            conn.request(method, target, body=body, headers=headers or {})
            resp = conn.getresponse()
            data = resp.read()
            return resp.status, resp.getheaders(), data
        finally:
            conn.close()

    def url(self, url, method="GET", headers=None, body=None):
        scheme, _, rest = url.partition("://")
        hostport, slash, path = rest.partition("/")
        port = int(hostport.rpartition(":")[2])
        secure = scheme == "https"
        self.assertPort(port, secure)
        return self.request(method, "/" + path, headers, body, secure)

    def assertPort(self, port, secure):
        if port != self.ports["tls" if secure else "http"]:
            raise AssertionError("address names port %d" % port)

    def control(self, command):
        status, _, data = self.request("POST", "/__control", {"Content-Type": "application/json"},
                                       json.dumps(command).encode())
        return status, json.loads(data)

    def listing(self, token, cookie=LIST_COOKIE, extra=None):
        headers = {"user-agent": AGENT}
        if cookie:
            headers.update(header_line(cookie))
        headers.update(extra or {})
        status, hdrs, data = self.request("GET", LIST_PATH + LIST_QUERY.replace("jxfswjj", token), headers)
        return status, json.loads(data) if status == 200 else data


class LanzouWalker:
    """The resolver's steps over the emulator's Lanzou pages."""

    def __init__(self, client):
        self.client = client

    def text(self, url, method="GET", headers=None, body=None):
        status, hdrs, data = self.client.url(url, method, headers, body)
        return data.decode("utf-8"), hdrs

    @staticmethod
    def page_variable(page, name):
        match = re.search(r"(var )?" + name + r"\s?=\s?.*;?", page, re.ASCII)
        return between(match.group(0), "=", ";").replace("'", "") if match else ""

    def list_body(self, page, password):
        body = ""
        match = re.search(r"data : { [\s\S]*?}", page)
        if match:
            block = between(match.group(0), "{", "}")
            for entry in [p.strip() for p in block.split(",") if p.strip()]:
                parts = entry.split(":")
                if len(parts) < 2:
                    continue
                key = between(entry, "'", "':")
                if key == "pg":
                    body += "pg=" + self.page_variable(page, "pgs") + "&"
                elif key in ("t", "k"):
                    body += key + "=" + self.page_variable(page, parts[1]) + "&"
                elif key != "pwd":
                    body += key + "=" + (between(entry, ":'", "'") or entry.rpartition(":")[2]) + "&"
        return body + "pwd=" + password

    def list_folder(self, share, password, domain):
        page, _ = self.text(share, headers={"User-Agent": AGENT})
        body = self.list_body(page, password)
        sub = between(share, "//", ".")
        answer, _ = self.text("https://%s.%s/filemoreajax.php" % (sub, domain), "POST",
                              {"User-Agent": AGENT, "Content-Type": "application/x-www-form-urlencoded"}, body)
        data = json.loads(answer)
        items = data["text"] if isinstance(data.get("text"), list) else []
        return body, [(i["name_all"], "https://%s.%s/%s" % (sub, domain, i["id"])) for i in items]

    def resolve(self, page_url, password):
        base = page_url[:page_url.find("/", 8)] + "/"
        page, _ = self.text(page_url)
        if len(page) < 50:
            return "取网页数据失败1"
        tokens = TOKEN.findall(page)
        if len(tokens) != 1:
            return "匹配参数失败1"
        form = {"Content-Type": "application/x-www-form-urlencoded"}
        if not password:
            frame_url = base + "fn?" + tokens[0]
            frame, _ = self.text(frame_url)
            if len(frame) < 50:
                return "取网页数据失败2"
            signs = TOKEN.findall(frame)
            if len(signs) != 1:
                return "匹配参数失败2"
            answer, _ = self.text(base + "ajaxm.php", "POST", dict(form, referer=frame_url),
                                  "action=downprocess&sign=" + signs[0] + "_c_c&ves=1")
            if len(answer) < 50:
                return "取网页数据失败3"
        else:
            answer, _ = self.text(base + "ajaxm.php", "POST", dict(form, referer=page_url, **{"User-Agent": AGENT}),
                                  "action=downprocess&sign=" + tokens[0] + "&p=" + password)
            if len(answer) < 50:
                return "取网页数据失败2"
        data = json.loads(answer)
        link = data.get("dom", "") + "/file/" + data.get("url", "")
        _, headers = self.text(link)
        locations = [v.strip() for k, v in headers if k == "Location"]
        if not password:
            return locations[-1] if locations and len(locations[-1]) > 30 else link
        return locations[0] if locations else "获取地址失败"


class DriveEmulatorTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="drive-emulator-test-")
        cls.log_path = os.path.join(cls.dir, "requests.jsonl")
        subprocess.run([os.path.join(EMULATOR_DIR, "make-cert.sh"), os.path.join(cls.dir, "tls")],
                       check=True, stdout=subprocess.DEVNULL)
        cls.proc, cls.ports = start_emulator(
            ["--port", "0", "--tls-port", "0", "--part-size-mib", str(PART_MIB), "--log", cls.log_path,
             "--tls-cert", os.path.join(cls.dir, "tls", "emulator-cert.pem"),
             "--tls-key", os.path.join(cls.dir, "tls", "emulator-key.pem"),
             "--tls-alt-cert", "untrusted=" + os.path.join(cls.dir, "tls", "untrusted-cert.pem"),
             "--tls-alt-cert", "other_host=" + os.path.join(cls.dir, "tls", "other-host-cert.pem")], cls.dir)
        cls.client = Client(cls.ports)
        cls.tree = treemod.Tree(treemod.demo(PART_MIB), 1)
        cls.faults_tree = treemod.Tree(treemod.faults(), 1)
        cls.domain = "0.0.1:%d" % cls.ports["tls"]

    @classmethod
    def tearDownClass(cls):
        code = stop_emulator(cls.proc)
        shutil.rmtree(cls.dir, ignore_errors=True)
        if code != 0:
            raise AssertionError("emulator ended with %d" % code)

    def setUp(self):
        status, _ = self.client.control({"reset": True})
        self.assertEqual(status, 200)

    def file_token(self, name, tree=None):
        for _, node in (tree or self.tree).walk_files():
            if node.name == name:
                return node.token
        raise KeyError(name)

    def stream(self, token, headers=None, method="GET", cookie=DOWNLOAD_COOKIE):
        all_headers = header_line(cookie) if cookie else {}
        all_headers.update(headers or {})
        return self.client.request(method, STREAM_PATH + token, all_headers)

    def open_stream(self, token, first, last):
        """A raw stream request whose answer the test reads as it comes."""
        sock = socket.create_connection(("127.0.0.1", self.ports["http"]), timeout=10)
        sock.sendall(("GET %s%s HTTP/1.1\r\nHost: 127.0.0.1\r\n%s\r\nRange: bytes=%d-%d\r\n\r\n"
                      % (STREAM_PATH, token, DOWNLOAD_COOKIE, first, last)).encode())
        return sock

    def sent_since(self, seq):
        return json.loads(self.client.request("GET", "/__sent?since=%d" % seq)[2])

    def settled(self, seq):
        """The sums once every stream after `seq` has ended."""
        deadline = time.monotonic() + 10
        while True:
            sums = self.sent_since(seq)
            if sums["open"] == 0:
                return sums
            if time.monotonic() > deadline:
                raise AssertionError("streams still open after 10 s: %r" % sums)
            time.sleep(0.05)

    def walk(self, token):
        """Lists like the downloader: depth first, sub-folders at their place."""
        status, answer = self.client.listing(token)
        self.assertEqual(status, 200)
        out = []
        nodes = answer["data"]["entities"]["nodes"]
        for node_id in answer["data"]["node_list"]:
            node = nodes[node_id]
            if "subtype" in node.get("extra", {}):
                out.append((node["name"], node["url"]))
            else:
                out.extend(self.walk(node["url"].rpartition("/")[2]))
        return out

    # -- defaults ---------------------------------------------------------

    def test_defaults_json_matches_module(self):
        with open(os.path.join(EMULATOR_DIR, "defaults.json"), encoding="utf-8") as f:
            self.assertEqual(json.load(f), defaults.DEFAULTS)
        self.assertEqual(len(LIST_COOKIE), 417)
        self.assertTrue(LIST_COOKIE.startswith("Cookie: "))
        self.assertEqual(len(DOWNLOAD_COOKIE), 2612)
        self.assertTrue(DOWNLOAD_COOKIE.startswith("cookie:"))
        share = defaults.DEFAULTS["lanzou_share_url"]
        # The client composes the list host from the share's first label and the domain.
        self.assertEqual("https://" + between(share, "//", ".") + "." + defaults.LANZOU_DOMAIN,
                         share.rpartition("/")[0])

    # -- Feishu listing ---------------------------------------------------

    def test_listing_shape_and_descent(self):
        status, answer = self.client.listing(defaults.SHARE_TOKEN)
        self.assertEqual(answer["code"], 0)
        data = answer["data"]
        self.assertFalse(data["has_more"])
        origin = "http://127.0.0.1:%d" % self.ports["http"]
        nodes = data["entities"]["nodes"]
        self.assertEqual(len(data["node_list"]), 9)
        for token in data["node_list"]:
            node = nodes[token]
            if node["name"] == "extras":
                self.assertNotIn("subtype", node["extra"])
                self.assertEqual(node["url"], origin + "/drive/folder/" + token)
            else:
                self.assertEqual(node["extra"]["subtype"], node["name"].rpartition(".")[2])
                self.assertEqual(node["url"], origin + "/file/" + token)
        names = [name for name, _ in self.walk(defaults.SHARE_TOKEN)]
        self.assertEqual(names, ["Brinemarch-manual.pdf", "Brinemarch-redist.zip", "Brinemarch.part1.exe"]
                         + ["Brinemarch.part%d.rar" % n for n in range(2, 9)])

    def test_documents_switch_lists_nodes_as_the_real_drive(self):
        self.assertEqual(self.client.control({"documents": True})[0], 200)
        data = self.client.listing(defaults.SHARE_TOKEN)[1]["data"]
        nodes = [data["entities"]["nodes"][token] for token in data["node_list"]]
        self.assertTrue(all("type" in n and "obj_token" in n for n in nodes))
        kinds = {}
        for node in nodes:
            kinds.setdefault(node["type"], []).append(node)
        self.assertEqual(sorted(kinds), [0, 3, 12, 22])
        self.assertEqual(len(kinds[22]), 2)  # the document and its shortcut
        shortcut = [n for n in kinds[22] if n["token"] != n["obj_token"]]
        self.assertEqual(len(shortcut), 1)
        self.assertTrue(all(isinstance(n["extra"]["size"], str) for n in kinds[12]))
        self.assertIn(defaults.SHARE_TOKEN, [n["token"] for n in kinds[0]])
        for node in kinds[22] + kinds[3]:
            answer = self.client.listing(node["obj_token"])[1]
            self.assertNotEqual(answer["code"], 0)
            self.assertNotIn("node_list", answer["data"])

    def test_listing_cookie_check(self):
        self.assertNotIn("node_list", self.client.listing(defaults.SHARE_TOKEN, cookie=None)[1].get("data", {}))
        wrong = LIST_COOKIE.replace("bm_session=M", "bm_session=N")
        self.assertNotIn("node_list", self.client.listing(defaults.SHARE_TOKEN, cookie=wrong)[1].get("data", {}))
        # The download session is a different cookie set.
        self.assertNotIn("node_list",
                         self.client.listing(defaults.SHARE_TOKEN, cookie=DOWNLOAD_COOKIE)[1].get("data", {}))
        # Formatting differs between WinHTTP and the engine: pairs are what count.
        pairs = LIST_COOKIE[len("Cookie: "):].split("; ")
        reordered = "Cookie:" + ";".join(reversed(pairs))
        self.assertIn("node_list", self.client.listing(defaults.SHARE_TOKEN, cookie=reordered)[1]["data"])

    def test_listing_unknown_tokens(self):
        for token in ("", defaults.SHARE_TOKEN + "?from=share", "NoSuchFolderToken"):
            status, answer = self.client.listing(token)
            self.assertEqual(status, 200)
            self.assertNotEqual(answer["code"], 0, token)
            self.assertNotIn("node_list", answer["data"], token)

    def test_listing_query_must_follow_template(self):
        target = LIST_PATH + LIST_QUERY.replace("length=50", "length=500").replace("jxfswjj", defaults.SHARE_TOKEN)
        status, _, data = self.client.request("GET", target, header_line(LIST_COOKIE))
        self.assertNotIn("node_list", json.loads(data)["data"])

    def test_listing_is_gzipped_only_when_switched_on(self):
        target = LIST_PATH + LIST_QUERY.replace("jxfswjj", defaults.SHARE_TOKEN)
        headers = dict(header_line(LIST_COOKIE), **{"Accept-Encoding": "gzip, deflate"})
        status, hdrs, data = self.client.request("GET", target, headers)
        self.assertNotIn("Content-Encoding", dict(hdrs))
        self.assertIn("node_list", json.loads(data)["data"])
        self.client.control({"gzip": True})
        status, hdrs, data = self.client.request("GET", target, headers)
        self.assertEqual(dict(hdrs).get("Content-Encoding"), "gzip")
        self.assertIn("node_list", json.loads(gzip.decompress(data))["data"])

    def test_listing_pages_through_opaque_cursors(self):
        self.client.control({"preset": "faults"})
        many = [n for n in self.faults_tree.root.children if n.name == "many"][0]
        names, label, pages = [], None, 0
        for _ in range(10):  # bounded: a cursor that never ends fails the page count below
            extra = "" if label is None else "&last_label=" + urllib.parse.quote(label, safe="")
            status, answer = self.client.listing(many.token + extra)
            data = answer["data"]
            self.assertEqual(data["total"], 60)
            names += [data["entities"]["nodes"][t]["name"] for t in data["node_list"]]
            pages += 1
            if not data["has_more"]:
                self.assertEqual(data["last_label"], "")
                break
            label = data["last_label"]
            for needs_encoding in "+/=":
                self.assertIn(needs_encoding, label)
        self.assertEqual(pages, 2)
        self.assertEqual(names, ["many-%03d.bin" % n for n in range(1, 61)])
        # A cursor the drive did not hand out, or one of another folder, is refused.
        for bad in ("bm90LWEtY3Vyc29y", urllib.parse.quote(label.replace("+", "-"), safe="")):
            self.assertNotEqual(self.client.listing(many.token + "&last_label=" + bad)[1]["code"], 0)
        other = "&last_label=" + urllib.parse.quote(feishu.cursor(defaults.SHARE_TOKEN, 50), safe="")
        self.assertNotEqual(self.client.listing(many.token + other)[1]["code"], 0)

    def test_fault_tree_nodes(self):
        self.client.control({"preset": "faults"})
        status, answer = self.client.listing(defaults.SHARE_TOKEN)
        nodes = {n["name"]: n for n in answer["data"]["entities"]["nodes"].values()}
        for name in ("..\\..\\x.exe", "C:\\x", "CON", "a/b.txt", "c:d.txt", "客户端 补丁 第1部分.rar", "empty.bin"):
            self.assertIn("subtype", nodes[name]["extra"], name)
        self.assertIsNone(nodes["subtype-null.dat"]["extra"]["subtype"])
        self.assertNotIn("url", nodes["no-url.bin"])
        loop = nodes["loop"]
        status, inner = self.client.listing(loop["url"].rpartition("/")[2])
        inner_urls = [n["url"] for n in inner["data"]["entities"]["nodes"].values()]
        self.assertIn(loop["url"], inner_urls)
        huge = self.file_token("huge.bin", self.faults_tree)
        status, hdrs, body = self.stream(huge, method="HEAD")
        self.assertEqual(int(dict(hdrs)["Content-Length"]), treemod.HUGE_SIZE)
        self.assertGreater(treemod.HUGE_SIZE, 1 << 32)
        status, hdrs, body = self.stream(huge, {"Range": "bytes=%d-%d" % ((1 << 32) + 5, (1 << 32) + 9)})
        self.assertEqual(status, 206)
        self.assertEqual(body, self.faults_tree.files[huge].content.read((1 << 32) + 5, 5))
        empty = self.file_token("empty.bin", self.faults_tree)
        status, hdrs, body = self.stream(empty, {"Range": "bytes=0-"})
        self.assertEqual((status, body, dict(hdrs)["Content-Length"]), (200, b"", "0"))

    # -- streams ----------------------------------------------------------

    def test_stream_needs_download_cookie(self):
        token = self.file_token("Brinemarch.part2.rar")
        self.assertEqual(self.stream(token, cookie=None, method="HEAD")[0], 403)
        self.assertEqual(self.stream(token, cookie=LIST_COOKIE, method="HEAD")[0], 403)
        self.assertEqual(self.stream(token, cookie="cookie: " + DOWNLOAD_COOKIE[7:], method="HEAD")[0], 200)
        self.assertEqual(self.stream("NoSuchFile", method="HEAD")[0], 404)

    def test_stream_whole_file_matches_manifest(self):
        out = subprocess.run([sys.executable, EMULATOR, "--part-size-mib", str(PART_MIB), "--manifest"],
                             check=True, capture_output=True).stdout
        files = {f["name"]: f for f in json.loads(out)["files"]}
        self.assertEqual(len(files), 10)
        entry = files["Brinemarch.part8.rar"]
        status, hdrs, body = self.stream(entry["token"])
        self.assertEqual(status, 200)
        self.assertEqual(len(body), entry["size"])
        self.assertEqual(hashlib.sha256(body).hexdigest(), entry["sha256"])
        self.assertEqual(self.tree.files[entry["token"]].content.sha256(), entry["sha256"])
        lines = subprocess.run([sys.executable, EMULATOR, "--part-size-mib", str(PART_MIB), "--manifest", "sha256sum"],
                               check=True, capture_output=True).stdout.decode().splitlines()
        self.assertIn("%s  Brinemarch.part8.rar" % entry["sha256"], lines)

    def test_stream_ranges_are_byte_exact(self):
        token = self.file_token("Brinemarch.part3.rar")
        data = self.tree.files[token].content
        size = data.size
        mib = content.BLOCK
        cases = [("bytes=0-0", 0, 1), ("bytes=%d-%d" % (mib - 10, mib + 9), mib - 10, 20),
                 ("bytes=%d-" % (size - 777), size - 777, 777), ("bytes=-1000", size - 1000, 1000),
                 ("bytes=%d-%d" % (size - 5, size + 100), size - 5, 5)]
        for header, start, length in cases:
            status, hdrs, body = self.stream(token, {"Range": header})
            self.assertEqual(status, 206, header)
            self.assertEqual(dict(hdrs)["Content-Range"], "bytes %d-%d/%d" % (start, start + length - 1, size))
            self.assertEqual(body, data.read(start, length), header)
        status, hdrs, _ = self.stream(token, {"Range": "bytes=%d-" % size})
        self.assertEqual((status, dict(hdrs)["Content-Range"]), (416, "bytes */%d" % size))

    def test_head_then_get_on_one_connection(self):
        token = self.file_token("Brinemarch.part1.exe")
        conn = self.client.connection()
        try:
            headers = header_line(DOWNLOAD_COOKIE)
            conn.request("HEAD", STREAM_PATH + token, headers=headers)
            head = conn.getresponse()
            self.assertEqual(head.read(), b"")
            self.assertEqual(int(head.getheader("Content-Length")), 262144)
            self.assertEqual(head.getheader("Accept-Ranges"), "bytes")
            conn.request("GET", STREAM_PATH + token, headers=dict(headers, Range="bytes=10-19"))
            got = conn.getresponse()
            self.assertEqual(got.read(), self.tree.files[token].content.read(10, 10))
        finally:
            conn.close()

    def test_concurrent_range_connections(self):
        token = self.file_token("Brinemarch.part4.rar")
        data = self.tree.files[token].content
        pieces = 8
        step = data.size // pieces
        results = {}

        def fetch(index):
            conn = self.client.connection()
            try:
                # Two requests per connection, as the engine reuses its connections.
                half = step // 2
                got = b""
                for start, end in ((index * step, index * step + half), (index * step + half, (index + 1) * step)):
                    conn.request("GET", STREAM_PATH + token,
                                 headers=dict(header_line(DOWNLOAD_COOKIE), Range="bytes=%d-%d" % (start, end - 1)))
                    got += conn.getresponse().read()
                results[index] = got
            finally:
                conn.close()

        threads = [threading.Thread(target=fetch, args=(i,)) for i in range(pieces)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(30)
        joined = b"".join(results[i] for i in range(pieces))
        self.assertEqual(hashlib.sha256(joined).hexdigest(), data.sha256())

    def test_generated_blocks_differ(self):
        a = content.GeneratedContent(b"a", 4 * content.BLOCK)
        blocks = [a.read(i * content.BLOCK, 4096) for i in range(4)]
        self.assertEqual(len(set(blocks)), 4)
        self.assertNotEqual(content.GeneratedContent(b"b", 4096).read(0, 4096), blocks[0])
        self.assertEqual(content.GeneratedContent(b"a", 100).read(0, 100), blocks[0][:100])

    # -- IP echo ------------------------------------------------------------

    def test_ipecho(self):
        status, _, body = self.client.request("GET", "/ipecho")
        self.assertEqual(between(body.decode(), '<span data-ip="', '">'), "127.0.0.1")

    # -- Lanzou -------------------------------------------------------------

    def lanzou_share(self, folder_id):
        return "https://127.0.0.1:%d/%s" % (self.ports["tls"], folder_id)

    def test_lanzou_open_folder_and_links(self):
        walker = LanzouWalker(self.client)
        body, files = walker.list_folder(self.lanzou_share(defaults.LANZOU_SHARE_ID), "", self.domain)
        folder = self.tree.lanzou_folders[defaults.LANZOU_SHARE_ID]
        self.assertEqual(body, "lx=2&fid=%d&uid=1274639&pg=1&rep=0&t=%s&k=%s&up=1&ls=1&pwd="
                         % (folder.fid, folder.t_value, folder.k_value))
        self.assertEqual([name for name, _ in files], ["Brinemarch-tools.zip", "Brinemarch-patch.rar"])
        passwords = {"Brinemarch-patch.rar": "4fj8"}
        for name, page_url in files:
            link = walker.resolve(page_url, passwords.get(name, ""))
            self.assertTrue(link.startswith("http://127.0.0.1:%d/" % self.ports["http"]), link)
            item = self.tree.lanzou_files[page_url.rpartition("/")[2]]
            status, _, data = self.client.url(link)
            self.assertEqual(hashlib.sha256(data).hexdigest(), item.content.sha256())

    def test_lanzou_locked_folder(self):
        walker = LanzouWalker(self.client)
        share = self.lanzou_share(defaults.LANZOU_LOCKED_SHARE_ID)
        self.assertEqual(walker.list_folder(share, "wrong", self.domain)[1], [])
        _, files = walker.list_folder(share, defaults.LANZOU_LOCKED_SHARE_PASSWORD, self.domain)
        self.assertEqual([n for n, _ in files], ["Brinemarch-bonus.zip", "Brinemarch 资料.rar"])
        self.assertTrue(walker.resolve(files[1][1], "x9k2").endswith("/lanzou/dl/iBm9Rd4sTv"))
        # A refused password gets a short answer, which the resolver reports as such.
        self.assertEqual(walker.resolve(files[1][1], "nope"), "取网页数据失败2")

    def test_lanzou_faults_give_each_error(self):
        walker = LanzouWalker(self.client)
        page = "https://127.0.0.1:%d/iBm7Qa1xYz" % self.ports["tls"]
        expected = {"page_short": "取网页数据失败1", "page_two_tokens": "匹配参数失败1",
                    "frame_short": "取网页数据失败2", "frame_two_tokens": "匹配参数失败2",
                    "ajax_short": "取网页数据失败3"}
        for mode, error in expected.items():
            self.client.control({"lanzou": {"mode": mode, "times": 1}})
            self.assertEqual(walker.resolve(page, ""), error, mode)
        self.client.control({"lanzou": {"mode": "no_location"}})
        self.assertIn("/file/?", walker.resolve(page, ""))
        self.client.control({"lanzou": {"mode": "short_location"}})
        self.assertIn("/file/?", walker.resolve(page, ""))
        self.assertEqual(walker.resolve(page.replace("iBm7Qa1xYz", "iBm7Qb2kLm"), "4fj8"), "http://127.0.0.1/x")

    # -- fault switches ---------------------------------------------------

    def test_visitor_session_of_a_public_share(self):
        self.client.control({"visitor": {"public": True}})
        share = "/drive/folder/" + defaults.SHARE_TOKEN
        status, headers, _ = self.client.request("GET", share)
        self.assertEqual((status, dict(headers)["Location"]), (302, share + "?visitor=1"))
        status, headers, _ = self.client.request("GET", share + "?visitor=1", {"Cookie": "bm_visitor_trace=tr1x"})
        self.assertEqual(status, 200)
        self.assertEqual(len([v for k, v in headers if k == "Set-Cookie"]), 3)
        visitor = {"Cookie": "; ".join(feishu.VISITOR_COOKIES),
                   "Referer": "http://127.0.0.1:%d%s" % (self.client.ports["http"], share)}
        self.assertIn("node_list", self.client.listing(defaults.SHARE_TOKEN, cookie=None, extra=visitor)[1]["data"])
        # The build's session is refused in this mode; a share that is not public refuses visitors.
        self.assertEqual(self.client.listing(defaults.SHARE_TOKEN)[1]["code"], feishu.EXPIRED["code"])
        self.client.control({"visitor": {"public": False}})
        self.assertEqual(self.client.listing(defaults.SHARE_TOKEN, cookie=None, extra=visitor)[1]["code"],
                         feishu.NO_PERMISSION["code"])
        self.assertEqual(self.client.control({"visitor": {"redirect": "sideways"}})[0], 400)

    def test_list_faults(self):
        self.client.control({"list": {"mode": "500", "times": 1}})
        status, _ = self.client.listing(defaults.SHARE_TOKEN)
        self.assertEqual(status, 500)
        self.assertIn("node_list", self.client.listing(defaults.SHARE_TOKEN)[1]["data"])
        self.client.control({"list": {"mode": "invalid_json"}})
        target = LIST_PATH + LIST_QUERY.replace("jxfswjj", defaults.SHARE_TOKEN)
        status, _, data = self.client.request("GET", target, header_line(LIST_COOKIE))
        self.assertRaises(ValueError, json.loads, data)
        self.client.control({"list": {"mode": "expired", "token": "OtherToken"}})
        self.assertIn("node_list", self.client.listing(defaults.SHARE_TOKEN)[1]["data"])
        self.client.control({"list": {"mode": "expired"}})
        self.assertNotIn("node_list", self.client.listing(defaults.SHARE_TOKEN)[1]["data"])
        self.client.control({"list": {"mode": "hang"}})
        conn = self.client.connection(timeout=0.5)
        conn.request("GET", target, headers=header_line(LIST_COOKIE))
        self.assertRaises(OSError, conn.getresponse)
        conn.close()
        self.assertEqual(self.client.control({"list": {"mode": "sometimes"}})[0], 400)
        # A refusal of one page of one folder only, twice.
        self.client.control({"list": {"mode": "refused", "page": 2, "times": 2}})
        self.assertEqual(self.client.listing(defaults.SHARE_TOKEN)[1]["code"], 0)
        second = "&last_label=" + urllib.parse.quote(feishu.cursor(defaults.SHARE_TOKEN, 50), safe="")
        codes = [self.client.listing(defaults.SHARE_TOKEN + second)[1]["code"] for _ in range(3)]
        self.assertEqual(codes[:2], [99991400, 99991400])
        self.assertNotEqual(codes[2], 99991400)
        for mode, label in (("no_label", ""), ("repeat_label", feishu.cursor(defaults.SHARE_TOKEN, 0))):
            self.client.control({"list": {"mode": mode}})
            data = self.client.listing(defaults.SHARE_TOKEN)[1]["data"]
            self.assertEqual((data["has_more"], data["last_label"]), (True, label))

    def test_stream_faults(self):
        token = self.file_token("Brinemarch.part5.rar")
        data = self.tree.files[token].content
        self.client.control({"stream": {"status": 404, "times": 1}})
        self.assertEqual(self.stream(token, method="HEAD")[0], 404)
        self.assertEqual(self.stream(token, method="HEAD")[0], 200)
        self.client.control({"stream": {"drop_after": 1000}})
        conn = self.client.connection()
        conn.request("GET", STREAM_PATH + token, headers=header_line(DOWNLOAD_COOKIE))
        resp = conn.getresponse()
        with self.assertRaises(http.client.IncompleteRead) as caught:
            resp.read()
        self.assertEqual(caught.exception.partial, data.read(0, 1000))
        conn.close()
        self.client.control({"stream": {"throttle": 64 * 1024, "delay_ms": 300}})
        began = time.monotonic()
        status, _, body = self.stream(token, {"Range": "bytes=0-%d" % (96 * 1024 - 1)})
        # A lower bound only: a throttled answer cannot come sooner than this.
        self.assertGreaterEqual(time.monotonic() - began, 1.0)
        self.assertEqual(body, data.read(0, 96 * 1024))

    def test_pace_holds_every_stream(self):
        token = self.file_token("Brinemarch.part6.rar")
        self.assertEqual(self.client.control({"pace": 65536})[1]["pace"], 65536)
        began = time.monotonic()
        status, _, body = self.stream(token, {"Range": "bytes=0-%d" % (96 * 1024 - 1)})
        # A lower bound only: a paced answer cannot come sooner than this.
        self.assertGreaterEqual(time.monotonic() - began, 1.0)
        self.assertEqual(body, self.tree.files[token].content.read(0, 96 * 1024))
        self.assertEqual(self.client.control({"pace": "fast"})[0], 400)

    def test_stall_holds_a_files_streams_until_lifted(self):
        token = self.file_token("Brinemarch.part2.rar")
        data = self.tree.files[token].content
        mib, after = content.BLOCK, 300000
        self.assertEqual(self.client.control({"stall": {"token": token, "after": after}})[0], 200)
        last = self.sent_since(9000000000)["last"]
        socks = [self.open_stream(token, 0, mib - 1), self.open_stream(token, mib, 2 * mib - 1)]
        try:
            got = [receive(sock, 1.0) for sock in socks]
            bodies = [answer.partition(b"\r\n\r\n")[2] for answer, _ in got]
            # Both held open, with the file's allowance between them.
            self.assertEqual([closed for _, closed in got], [False, False])
            self.assertEqual(sum(len(b) for b in bodies), after)
            self.assertEqual(bodies[0], data.read(0, len(bodies[0])))
            self.assertEqual(bodies[1], data.read(mib, len(bodies[1])))
            other = self.file_token("Brinemarch.part3.rar")
            self.assertEqual(len(self.stream(other, {"Range": "bytes=0-99999"})[2]), 100000)
            sums = self.sent_since(last)
            self.assertEqual((sums["sent"][token], sums["streams"][token]), (after, 2))
            self.assertEqual(self.client.control({"stall": None})[0], 200)
            self.assertEqual([receive(sock, 5) for sock in socks], [(b"", True)] * 2)
        finally:
            for sock in socks:
                sock.close()
        self.assertEqual(self.stream(token, {"Range": "bytes=0-99999"})[2], data.read(0, 100000))
        self.assertEqual(self.settled(last)["sent"][token], after + 100000)
        entries = json.loads(self.client.request("GET", "/__requests?since=%d" % last)[2])["requests"]
        self.assertEqual([e.get("cut", False) for e in entries if e["token"] == token], [True, True, False])

    def test_outage_cuts_streams_and_refuses_everything_until_it_is_over(self):
        token = self.file_token("Brinemarch.part2.rar")
        data = self.tree.files[token].content
        self.client.control({"pace": 65536})
        sock = self.open_stream(token, 0, content.BLOCK - 1)
        try:
            sock.settimeout(5)
            got = len(sock.recv(1 << 16))
            self.assertGreater(got, 0)
            state = self.client.control({"outage": {"seconds": 1.5}})[1]
            self.assertEqual(state["outage"]["cut"], 0)
            # The open stream ends short, and a new request gets no answer at all.
            try:
                got += len(receive(sock, 5)[0])
            except ConnectionResetError:
                pass
            self.assertLess(got, content.BLOCK)
        finally:
            sock.close()
        with self.assertRaises((http.client.RemoteDisconnected, ConnectionError)):
            self.client.listing(defaults.SHARE_TOKEN)
        self.assertGreaterEqual(self.client.control({})[1]["outage"]["cut"], 2)
        self.client.control({"pace": None})
        deadline = time.monotonic() + 10
        while self.client.control({})[1]["outage"]["left"] > 0:
            self.assertLess(time.monotonic(), deadline, "the outage did not end")
            time.sleep(0.1)
        self.assertEqual(self.stream(token, {"Range": "bytes=0-99999"})[2], data.read(0, 100000))
        self.assertEqual(self.client.control({"outage": "long"})[0], 400)
        self.assertIsNone(self.client.control({"reset": True})[1]["outage"])

    def test_first_streams_of_every_file_are_refused(self):
        self.client.control({"stream": {"status": 429, "retry_after": 2, "per_file_times": 2}})
        first, second = self.file_token("Brinemarch.part2.rar"), self.file_token("Brinemarch.part3.rar")
        for token in (first, second):
            answers = [self.stream(token, method="HEAD") for _ in range(3)]
            self.assertEqual([status for status, _, _ in answers], [429, 429, 200])
            self.assertEqual(dict(answers[0][1])["Retry-After"], "2")
        self.assertEqual(self.stream(first, method="HEAD")[0], 200)

    def test_file_replaced_in_place(self):
        token = self.file_token("Brinemarch.part3.rar")
        old = self.tree.files[token].content
        size = 3 * content.BLOCK // 2 + 7
        tag = dict(self.stream(token, method="HEAD")[1])["ETag"]
        status, answer = self.client.control({"replace": {"token": token, "size": size, "seed": 5}})
        self.assertEqual((status, answer["replaced"][token]["size"]), (200, size))
        data = self.client.listing(defaults.SHARE_TOKEN)[1]["data"]
        self.assertEqual(data["entities"]["nodes"][token]["extra"]["size"], str(size))
        status, headers, body = self.stream(token)
        self.assertEqual(len(body), size)
        self.assertEqual(hashlib.sha256(body).hexdigest(), answer["replaced"][token]["sha256"])
        self.assertNotEqual(body[:4096], old.read(0, 4096))
        self.assertNotEqual(dict(headers)["ETag"], tag)
        again = self.client.control({"replace": {"token": token, "size": size, "seed": 6}})[1]
        self.assertNotEqual(again["replaced"][token]["sha256"], answer["replaced"][token]["sha256"])
        self.assertEqual(self.client.control({"replace": {"token": "NoSuchFile", "size": 1}})[0], 400)

    def test_reset_ends_every_new_fault(self):
        token = self.file_token("Brinemarch.part4.rar")
        self.client.control({"pace": 1000, "stall": {"after": 0}, "replace": {"token": token, "size": 10}})
        sock = self.open_stream(token, 0, 99)
        try:
            answer, closed = receive(sock, 1.0)
            self.assertEqual((answer.partition(b"\r\n\r\n")[2], closed), (b"", False))
            self.client.control({"stream": {"status": 429, "per_file_times": 1}})
            state = self.client.control({"reset": True})[1]
            self.assertEqual(receive(sock, 5), (b"", True))
        finally:
            sock.close()
        self.assertEqual([state[k] for k in ("pace", "stall", "replaced")], [None, None, {}])
        self.assertIsNone(state["faults"]["stream"])
        status, _, body = self.stream(token)
        self.assertEqual((status, len(body)), (200, self.tree.files[token].content.size))

    def test_custom_tree_through_control(self):
        tree = {"name": "t", "token": "CustomRoot", "children": [
            {"name": "x.txt", "token": "XFile", "text": "hello"},
            {"name": "s", "token": "SubFolder", "children": [{"name": "y.bin", "size": 3}]}]}
        self.assertEqual(self.client.control({"tree": tree})[0], 200)
        self.assertEqual([n for n, _ in self.walk("CustomRoot")], ["x.txt", "y.bin"])
        self.assertEqual(self.stream("XFile")[2], b"hello")
        self.assertEqual(self.client.control({"tree": {"children": "nope"}})[0], 400)

    def test_tls_port_presents_the_test_authoritys_certificates_as_told(self):
        trusting = ssl.create_default_context(cafile=os.path.join(self.dir, "tls", "authority.pem"))

        def handshake(host):
            """None when a client trusting only the test authority took the certificate (and
            made a request), else why not."""
            conn = http.client.HTTPSConnection(host, self.ports["tls"], timeout=10, context=trusting)
            try:
                conn.request("GET", "/ipecho")
                conn.getresponse().read()
                return None
            except ssl.SSLCertVerificationError as e:
                return e.verify_message
            finally:
                conn.close()

        def refused():
            return json.loads(self.client.request("GET", "/__control")[2])["tls_refused"]

        self.assertIsNone(handshake("127.0.0.1"))
        self.assertIsNone(handshake("localhost"))
        self.assertEqual(refused(), 0)
        # An open connection does not outlive the certificate it took.
        kept = http.client.HTTPSConnection("127.0.0.1", self.ports["tls"], timeout=10, context=trusting)
        try:
            kept.request("GET", "/ipecho")
            kept.getresponse().read()
            self.assertEqual(self.client.control({"tls_cert": "untrusted"})[0], 200)
            with self.assertRaises((ConnectionError, ssl.SSLError)):
                kept.request("GET", "/ipecho")
                kept.getresponse().read()
        finally:
            kept.close()
        for name, host, reason in (("untrusted", "127.0.0.1", "unable to get local issuer certificate"),
                                   ("other_host", "127.0.0.1", "IP address mismatch"),
                                   ("other_host", "localhost", "Hostname mismatch")):
            with self.subTest(name, host=host):
                self.assertEqual(self.client.control({"tls_cert": name})[0], 200)
                before = refused()
                self.assertIn(reason, handshake(host) or "")
                # The server's side of the connection ends a moment after the client's.
                deadline = time.monotonic() + 10
                while refused() == before and time.monotonic() < deadline:
                    time.sleep(0.02)
                self.assertEqual(refused(), before + 1)
        self.assertEqual(self.client.control({"tls_cert": "nobody"})[0], 400)
        # Refused handshakes: not even a client that trusts the certificate gets through.
        self.assertEqual(self.client.control({"tls_cert": None, "tls_refuse": True})[0], 200)
        before = refused()
        with self.assertRaises(ssl.SSLError) as refusal:
            handshake("127.0.0.1")
        self.assertIn("HANDSHAKE_FAILURE", str(refusal.exception).upper())
        self.assertEqual(refused(), before + 1)
        self.assertEqual(self.client.control({"reset": True})[0], 200)
        self.assertIsNone(handshake("127.0.0.1"))

    # -- log ----------------------------------------------------------------

    def test_log_records_requests(self):
        marker = "marker-%d" % time.monotonic_ns()
        self.client.request("POST", "/ajaxm.php?" + marker, {"referer": "https://x/" + marker},
                            ("action=downprocess&sign=" + marker).encode())
        self.client.request("POST", "/filemoreajax.php?" + marker, {}, b"\xff\x00binary")
        with open(self.log_path, encoding="utf-8") as f:
            entries = [json.loads(line) for line in f]
        ours = [e for e in entries if e["query"] == marker]
        self.assertEqual([e["path"] for e in ours], ["/ajaxm.php", "/filemoreajax.php"])
        self.assertEqual(ours[0]["method"], "POST")
        self.assertIn(["referer", "https://x/" + marker], ours[0]["headers"])
        self.assertEqual(ours[0]["body"], "action=downprocess&sign=" + marker)
        self.assertEqual(base64.b64decode(ours[1]["body_b64"]), b"\xff\x00binary")
        self.assertFalse([e for e in entries if e["path"].startswith("/__")])
        status, _, data = self.client.request("GET", "/__requests?since=%d" % (ours[0]["seq"] - 1))
        self.assertEqual(json.loads(data)["requests"][0]["query"], marker)

    def test_log_records_when_a_stream_was_sent(self):
        token = self.file_token("Brinemarch.part2.rar")
        size = self.tree.files[token].content.size
        last = json.loads(self.client.request("GET", "/__requests?since=9000000000")[2])["last"]
        self.stream(token, method="HEAD")
        self.stream(token, {"Range": "bytes=100-1099"})
        self.stream(token)
        # Paced at 64 KiB/s: the last byte goes out about a quarter of a second after the first.
        self.assertEqual(self.client.control({"stream": {"throttle": 65536}})[0], 200)
        self.stream(token, {"Range": "bytes=0-16383"})
        # The client can hold the last byte before the server's write has returned and been
        # noted: wait for the note.
        deadline = time.time() + 5
        while True:
            entries = json.loads(self.client.request("GET", "/__requests?since=%d" % last)[2])["requests"]
            if (len(entries) == 4 and all("sent" in e for e in entries[1:])) or time.time() > deadline:
                break
            time.sleep(0.02)
        self.assertEqual([e["method"] for e in entries], ["HEAD", "GET", "GET", "GET"])
        self.assertNotIn("end", entries[0])
        self.assertEqual([e.get("sent") for e in entries[1:]], [1000, size, 16384])
        for e in entries[1:]:
            self.assertGreaterEqual(e["end"], e["time"] - 0.001)
        self.assertGreaterEqual(entries[3]["end"] - entries[3]["time"], 0.2)
        self.assertLess(entries[2]["end"], entries[3]["time"] + 0.001)

    def test_log_counts_what_a_cut_stream_wrote(self):
        token = self.file_token("Brinemarch.part7.rar")
        self.client.control({"pace": 65536})
        last = self.sent_since(9000000000)["last"]
        sock = self.open_stream(token, 0, self.tree.files[token].content.size - 1)
        try:
            received = b""
            deadline = time.monotonic() + 10
            while len(received.partition(b"\r\n\r\n")[2]) < 40000:
                self.assertLess(time.monotonic(), deadline, "the paced stream did not bring 40000 bytes")
                received += sock.recv(1 << 16)
        finally:
            sock.close()
        received = len(received.partition(b"\r\n\r\n")[2])
        sums = self.settled(last)
        entry = json.loads(self.client.request("GET", "/__requests?since=%d" % last)[2])["requests"][0]
        self.assertEqual((entry["token"], entry.get("cut"), "end" in entry), (token, True, False))
        # At most a second of the pace can have been on the way when the client left.
        self.assertGreaterEqual(entry["sent"], received)
        self.assertLessEqual(entry["sent"], received + 65536)
        self.assertEqual((sums["sent"], sums["streams"], sums["total"]), ({token: entry["sent"]}, {token: 1},
                                                                         entry["sent"]))

    def test_log_has_no_end_for_a_dropped_stream(self):
        token = self.file_token("Brinemarch.part3.rar")
        self.assertEqual(self.client.control({"stream": {"throttle": 65536}})[0], 200)
        last = json.loads(self.client.request("GET", "/__requests?since=9000000000")[2])["last"]
        conn = self.client.connection()
        try:
            conn.request("GET", STREAM_PATH + token, headers=header_line(DOWNLOAD_COOKIE))
            resp = conn.getresponse()
            resp.read(1024)
        finally:
            conn.close()
        time.sleep(0.5)
        entries = json.loads(self.client.request("GET", "/__requests?since=%d" % last)[2])["requests"]
        self.assertEqual(len(entries), 1)
        self.assertNotIn("end", entries[0])


class SigningTest(unittest.TestCase):
    """Shares signed as the publisher's scripts sign them, and what the switches change."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="drive-emulator-signing-")
        cls.key = os.path.join(cls.dir, "publisher.pem")
        subprocess.run([os.path.join(ROOT, "scripts", "manifest-key.sh"), cls.key], check=True,
                       stdout=subprocess.DEVNULL)
        cls.public = os.path.join(cls.dir, "public.pem")
        subprocess.run(["openssl", "pkey", "-in", cls.key, "-pubout", "-out", cls.public], check=True)
        cls.proc, cls.ports = start_emulator(["--port", "0", "--preset", "bench", "--files", "3", "--file-size-mib",
                                              "0.5", "--sign-key", cls.key], cls.dir)
        cls.client = Client(cls.ports)

    @classmethod
    def tearDownClass(cls):
        stop_emulator(cls.proc)
        shutil.rmtree(cls.dir, ignore_errors=True)

    def setUp(self):
        self.assertEqual(self.client.control({"reset": True})[0], 200)

    def files(self):
        """{name: token} of the share's root, as listed."""
        status, answer = self.client.listing(defaults.SHARE_TOKEN)
        self.assertEqual(status, 200)
        nodes = answer["data"]["entities"]["nodes"]
        return {nodes[n]["name"]: n for n in answer["data"]["node_list"]}

    def fetch(self, token):
        status, _, body = self.client.request("GET", STREAM_PATH + token, header_line(DOWNLOAD_COOKIE))
        self.assertEqual(status, 200)
        return body

    def signed(self):
        """The served manifest (parsed), and whether the publisher's key verifies its signature."""
        files = self.files()
        data, signature = self.fetch(files["brinemarch-manifest.json"]), self.fetch(files["brinemarch-manifest.sig"])
        paths = [os.path.join(self.dir, name) for name in ("m.json", "m.sig")]
        for path, body in zip(paths, (data, signature)):
            with open(path, "wb") as f:
                f.write(body)
        check = subprocess.run(["openssl", "dgst", "-sha256", "-verify", self.public, "-signature", paths[1], paths[0]],
                               capture_output=True)
        return json.loads(data), check.returncode == 0

    def test_every_file_is_signed_with_the_bytes_it_serves(self):
        manifest, verified = self.signed()
        self.assertTrue(verified)
        self.assertEqual(manifest["format"], 1)
        files = self.files()
        self.assertEqual(sorted(f["path"] for f in manifest["files"]),
                         sorted(n for n in files if not n.startswith("brinemarch-manifest")))
        for entry in manifest["files"]:
            body = self.fetch(files[entry["path"]])
            self.assertEqual((len(body), hashlib.sha256(body).hexdigest()), (entry["size"], entry["sha256"]))

    def test_switches_sign_with_a_stranger_leave_out_or_serve_none(self):
        self.client.control({"signing": {"key": "stranger", "leave_out": ["bench-02.bin"]}})
        manifest, verified = self.signed()
        self.assertFalse(verified)
        self.assertNotIn("bench-02.bin", [f["path"] for f in manifest["files"]])
        self.assertIn("bench-02.bin", self.files())
        for off in ({"signing": None}, {"signing": {"missing": True}}):
            self.client.control(off)
            self.assertFalse([n for n in self.files() if n.startswith("brinemarch-manifest")])

    def test_a_repack_is_signed_anew_and_a_change_behind_the_publisher_is_not(self):
        before, _ = self.signed()
        self.client.control({"repack": 2})
        after, verified = self.signed()
        self.assertTrue(verified)
        self.assertEqual([f["size"] for f in after["files"]], [f["size"] for f in before["files"]])
        self.assertTrue(all(a["sha256"] != b["sha256"] for a, b in zip(after["files"], before["files"])))
        token = self.files()["bench-01.bin"]
        self.client.control({"replace": {"token": token, "size": after["files"][0]["size"], "signed": False}})
        kept, _ = self.signed()
        self.assertEqual(kept, after)
        self.assertNotEqual(hashlib.sha256(self.fetch(token)).hexdigest(), kept["files"][0]["sha256"])

    def test_a_corrupt_stream_changes_one_byte_once(self):
        token = self.files()["bench-03.bin"]
        whole = self.fetch(token)
        self.client.control({"stream": {"corrupt": 1, "token": token, "times": 1}})
        damaged = self.fetch(token)
        self.assertEqual(len(damaged), len(whole))
        self.assertEqual(sum(a != b for a, b in zip(damaged, whole)), 1)
        self.assertEqual(self.fetch(token), whole)


class CommandLineTest(unittest.TestCase):
    def test_start_stop_and_loopback_only(self):
        directory = tempfile.mkdtemp(prefix="drive-emulator-cli-")
        try:
            proc, ports = start_emulator(["--port", "0", "--files", "3", "--file-size-mib", "1"], directory)
            self.assertIsNone(ports["tls"])
            client = Client(ports)
            status, answer = client.listing(defaults.SHARE_TOKEN)
            self.assertEqual(len(answer["data"]["node_list"]), 3)
            self.assertEqual(stop_emulator(proc, signal.SIGINT), 0)
            proc, _ = start_emulator(["--host", "0.0.0.0", "--port", "0"], directory, wait=False)
            self.assertEqual(proc.wait(10), 2)
            proc.communicate()
        finally:
            shutil.rmtree(directory, ignore_errors=True)

    def test_flags_set_the_start_up_faults(self):
        directory = tempfile.mkdtemp(prefix="drive-emulator-flags-")
        try:
            proc, ports = start_emulator(["--port", "0", "--pace", "65536", "--stream-status", "429",
                                          "--stream-retry-after", "3", "--stream-per-file-times", "1",
                                          "--stall-after", "1000", "--stall-token", "T"], directory)
            try:
                client = Client(ports)
                client.control({"pace": None, "stall": None, "stream": None})
                # Reset goes back to what the flags set.
                state = client.control({"reset": True})[1]
            finally:
                self.assertEqual(stop_emulator(proc), 0)
            fault = state["faults"]["stream"]
            self.assertEqual([fault["status"], fault["retry_after"], fault["per_file_times"]], [429, 3, 1])
            self.assertEqual((state["pace"], state["stall"]), (65536, {"token": "T", "after": 1000, "sent": {}}))
        finally:
            shutil.rmtree(directory, ignore_errors=True)

    def test_tree_file_and_manifest(self):
        directory = tempfile.mkdtemp(prefix="drive-emulator-tree-")
        try:
            with open(os.path.join(directory, "payload.bin"), "wb") as f:
                f.write(b"installer bytes")
            layout = {"feishu": {"name": "r", "children": [{"name": "setup.exe", "path": "payload.bin"},
                                                         {"name": "big.bin", "size_mib": 1.5}]},
                    "lanzou": {"folders": [{"id": "bX", "files": [{"name": "l.zip", "size": 10}]}]}}
            path = os.path.join(directory, "tree.json")
            with open(path, "w") as f:
                json.dump(layout, f)
            out = json.loads(subprocess.run([sys.executable, EMULATOR, "--tree", path, "--manifest"],
                                            check=True, capture_output=True).stdout)
            self.assertEqual([(f["name"], f["size"]) for f in out["files"]],
                             [("setup.exe", 15), ("big.bin", 3 * content.BLOCK // 2)])
            self.assertEqual(out["files"][0]["sha256"], hashlib.sha256(b"installer bytes").hexdigest())
            self.assertEqual(out["lanzou"][0]["size"], 10)
        finally:
            shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
