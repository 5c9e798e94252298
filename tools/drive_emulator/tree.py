"""The shares the emulator serves: a Feishu folder tree and Lanzou folders.

A tree is described by a JSON-able dict (what `--tree FILE` reads and what the
control endpoint accepts); the presets below are built from the same format.

Feishu folder:  {"name": str, "token": str?, "children": [node, ...]}
Feishu file:    {"name": str, "token": str?, one of "size" / "size_mib" / "text" / "path",
                 "subtype": str|null (key absent: taken from the name's extension),
                 "throttle_bps": int?, "throttle_after": int?, "omit": ["url", ...]?}
Feishu link:    {"name": str, "link": token | "." (the folder holding it) | "/" (root),
                 "as_target": bool?}  a folder node whose address names another folder
                (cycles); with as_target its token and obj_token are the target's too, as
                the real drive lists a folder's own node among its children.
Feishu online document: {"name": str, "doc": type (2 doc, 3 sheet, 8 mind note, 22 docx ...),
                 "points_to": token?}  neither folder nor file; a shortcut carries the type
                of what it points to and that node's token as obj_token.
Any Feishu node: "entity": {member: value}? replaces members of the listed node as the
                drive would send them (a null removes the member).
Lanzou:         {"folders": [{"id": str, "fid": int?, "password": str?,
                  "files": [{"name", "id"?, "password"?, size keys as above}]}]}
Whole file:     {"feishu": folder, "lanzou": {...}} or just a Feishu folder.
"""

import hashlib
import os

import content
import defaults

_TOKEN_ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz123456789"


def derive_token(seed, path, length=27):
    number = int.from_bytes(hashlib.sha256(("%s|%s" % (seed, path)).encode()).digest(), "big")
    out = []
    for _ in range(length):
        number, digit = divmod(number, len(_TOKEN_ALPHABET))
        out.append(_TOKEN_ALPHABET[digit])
    return "".join(out)


class FileNode:
    kind = "file"

    def __init__(self, name, token, data, subtype, omit, throttle_bps, throttle_after):
        self.name = name
        self.token = token
        self.content = data
        self.subtype = subtype  # a str, or None (sent as JSON null)
        self.omit = tuple(omit)
        self.throttle_bps = throttle_bps
        self.throttle_after = throttle_after
        # Raised each time the file is replaced in place.
        self.version = 0


class FolderNode:
    kind = "folder"

    def __init__(self, name, token):
        self.name = name
        self.token = token
        self.children = []


class LinkNode:
    kind = "link"

    def __init__(self, name, token, target, as_target):
        self.name = name
        self.token = token
        self.target = target
        self.as_target = as_target


class DocNode:
    kind = "doc"

    def __init__(self, name, token, doc_type, points_to):
        self.name = name
        self.token = token
        self.doc_type = doc_type
        self.points_to = points_to


class LanzouFile:
    def __init__(self, name, file_id, password, data):
        self.name = name
        self.id = file_id
        self.password = password
        self.content = data


class LanzouFolder:
    def __init__(self, folder_id, fid, password, seed):
        self.id = folder_id
        self.fid = fid
        self.password = password
        salt = hashlib.sha256(("%s|lanzou|%s" % (seed, folder_id)).encode()).hexdigest()
        # The page keeps its list-request parameters in script variables with
        # per-folder names, as the real pages do.
        self.t_var = "ib" + salt[:4]
        self.k_var = "kk" + salt[4:8]
        self.t_value = str(1712000000 + int(salt[8:14], 16) % 1000000)
        self.k_value = salt[14:46]
        self.files = []


class TreeError(ValueError):
    pass


def _content_of(layout, seed, key, base_dir):
    if "path" in layout:
        path = layout["path"]
        if base_dir and not os.path.isabs(path):
            path = os.path.join(base_dir, path)
        try:
            with open(path, "rb") as f:
                return content.BytesContent(f.read())
        except OSError as e:
            raise TreeError("cannot read %s: %s" % (path, e))
    if "text" in layout:
        return content.BytesContent(str(layout["text"]).encode("utf-8"))
    if "size_mib" in layout:
        size = int(float(layout["size_mib"]) * content.BLOCK)
    else:
        size = int(layout.get("size", 0))
    if size < 0:
        raise TreeError("negative size for %r" % layout.get("name"))
    return content.GeneratedContent(("%s|%s" % (seed, key)).encode(), size)


def _extension(name):
    dot = name.rfind(".")
    return name[dot + 1:].lower() if dot > 0 else ""


class Tree:
    def __init__(self, layout, seed=1, base_dir=None):
        if "feishu" not in layout and "lanzou" not in layout:
            layout = {"feishu": layout}
        self.seed = seed
        self.folders = {}
        self.files = {}
        self.nodes = {}
        self.root = None
        if layout.get("feishu") is not None:
            self.root = self._build_folder(layout["feishu"], "", None, base_dir)
            self._resolve_links(self.root)
        self.lanzou_folders = {}
        self.lanzou_files = {}
        self.lanzou_by_fid = {}
        self._build_lanzou(layout.get("lanzou") or {"folders": []}, base_dir)

    def _build_folder(self, layout, path, parent, base_dir):
        if not isinstance(layout, dict) or not isinstance(layout.get("children", []), list):
            raise TreeError("folder must be an object with a children list: %r" % (layout,))
        name = str(layout.get("name", ""))
        token = layout.get("token") or (defaults.SHARE_TOKEN if parent is None else derive_token(self.seed, "folder:" + path))
        if token in self.nodes:
            raise TreeError("token used twice: %s" % token)
        folder = FolderNode(name, token)
        self.folders[token] = folder
        self.nodes[token] = folder
        for index, child in enumerate(layout.get("children", [])):
            if not isinstance(child, dict) or "name" not in child:
                raise TreeError("node without a name in %r" % name)
            child_path = "%s/%d:%s" % (path, index, child["name"])
            if "children" in child:
                node = self._build_folder(child, child_path, folder, base_dir)
            elif "link" in child:
                node = LinkNode(str(child["name"]), child.get("token") or derive_token(self.seed, "link:" + child_path),
                                child["link"], bool(child.get("as_target")))
                node.holder = token
            elif "doc" in child:
                node = DocNode(str(child["name"]), child.get("token") or derive_token(self.seed, "doc:" + child_path),
                               int(child["doc"]), child.get("points_to"))
            else:
                file_token = child.get("token") or derive_token(self.seed, "file:" + child_path)
                data = _content_of(child, self.seed, file_token, base_dir)
                subtype = child["subtype"] if "subtype" in child else _extension(str(child["name"]))
                node = FileNode(str(child["name"]), file_token, data, subtype, child.get("omit", ()),
                                int(child.get("throttle_bps", 0)), int(child.get("throttle_after", 0)))
                self.files[file_token] = node
            node.entity = dict(child.get("entity") or {})
            if node.kind != "folder" and not (node.kind == "link" and node.as_target):
                if node.token in self.nodes:
                    raise TreeError("token used twice: %s" % node.token)
                self.nodes[node.token] = node
            folder.children.append(node)
        return folder

    def _resolve_links(self, folder):
        for node in folder.children:
            if node.kind == "link":
                if node.target == ".":
                    node.target = node.holder
                elif node.target == "/":
                    node.target = self.root.token
                if node.as_target:
                    node.token = node.target
            elif node.kind == "folder":
                self._resolve_links(node)

    def _build_lanzou(self, layout, base_dir):
        for number, flayout in enumerate(layout.get("folders", [])):
            folder_id = str(flayout["id"])
            fid = int(flayout.get("fid", 8841201 + number))
            folder = LanzouFolder(folder_id, fid, str(flayout.get("password", "")), self.seed)
            if folder_id in self.lanzou_folders or fid in self.lanzou_by_fid:
                raise TreeError("lanzou folder used twice: %s" % folder_id)
            self.lanzou_folders[folder_id] = folder
            self.lanzou_by_fid[fid] = folder
            for index, f in enumerate(flayout.get("files", [])):
                file_id = str(f.get("id") or "i" + derive_token(self.seed, "lanzou:%s/%d" % (folder_id, index), 10))
                if file_id in self.lanzou_files or file_id in self.lanzou_folders:
                    raise TreeError("lanzou id used twice: %s" % file_id)
                item = LanzouFile(str(f["name"]), file_id, str(f.get("password", "")),
                                  _content_of(f, self.seed, "lanzou:" + file_id, base_dir))
                folder.files.append(item)
                self.lanzou_files[file_id] = item

    def add_root_file(self, name, data, token):
        """A file of the given bytes at the end of the root folder (a manifest, a signature)."""
        node = FileNode(name, token, content.BytesContent(data), _extension(name), (), 0, 0)
        node.entity = {}
        self.files[token] = node
        self.nodes[token] = node
        self.root.children.append(node)
        return node

    def walk_files(self):
        """(folder names, file) depth first in listing order; each folder once."""
        seen = set()

        def walk(folder, trail):
            if folder is None or folder.token in seen:
                return
            seen.add(folder.token)
            for node in folder.children:
                if node.kind == "file":
                    yield trail, node
                elif node.kind == "folder":
                    yield from walk(node, trail + [node.name])

        yield from walk(self.root, [])


def lanzou_demo():
    return {"folders": [
        {"id": defaults.LANZOU_SHARE_ID, "fid": 8841201, "files": [
            {"name": "Brinemarch-tools.zip", "id": "iBm7Qa1xYz", "size": 300007},
            {"name": "Brinemarch-patch.rar", "id": "iBm7Qb2kLm", "password": "4fj8", "size": 700001},
        ]},
        {"id": defaults.LANZOU_LOCKED_SHARE_ID, "fid": 8841202, "password": defaults.LANZOU_LOCKED_SHARE_PASSWORD, "files": [
            {"name": "Brinemarch-bonus.zip", "id": "iBm9Rc3nPq", "size": 120003},
            {"name": "Brinemarch 资料.rar", "id": "iBm9Rd4sTv", "password": "x9k2", "size": 90001},
        ]},
    ]}


def demo(part_size_mib=4.0, installer=None):
    part = int(part_size_mib * content.BLOCK)
    first = {"name": "Brinemarch.part1.exe", "size": 262144}
    if installer:
        first = {"name": "Brinemarch.part1.exe", "path": os.path.abspath(installer)}
    children = [
        {"name": "extras", "children": [
            {"name": "Brinemarch-manual.pdf", "size": 307201},
            {"name": "Brinemarch-redist.zip", "size": 1572869},
        ]},
        first,
    ]
    for n in range(2, 8):
        children.append({"name": "Brinemarch.part%d.rar" % n, "size": part})
    # The last part is shorter and not block aligned, like a real split archive.
    children.append({"name": "Brinemarch.part8.rar", "size": part // 2 + 12345})
    return {"feishu": {"name": "Brinemarch", "token": defaults.SHARE_TOKEN, "children": children},
            "lanzou": lanzou_demo()}


def with_documents(layout):
    """The share as publishers fill it: beside the files, the folder's own node, an online
    document, a sheet and a shortcut to the document, as the real drive lists them."""
    layout = dict(layout)
    root = dict(layout.get("feishu", layout))
    children = list(root.get("children", []))
    token = root.get("token") or defaults.SHARE_TOKEN
    doc_token = "Dx" + derive_token(token, "doc", 20)
    children.insert(0, {"name": root.get("name", ""), "link": ".", "as_target": True})
    children.insert(min(2, len(children)), {"name": "安装说明", "doc": 22, "token": doc_token})
    children.insert(min(4, len(children)), {"name": "更新日志", "doc": 3})
    children.append({"name": "安装说明 - 快捷方式", "doc": 22, "points_to": doc_token})
    root["children"] = children
    if "feishu" in layout:
        layout["feishu"] = root
        return layout
    return root


def bench(files, size_mib):
    children = [{"name": "bench-%02d.bin" % (n + 1), "size_mib": size_mib} for n in range(files)]
    return {"feishu": {"name": "bench", "token": defaults.SHARE_TOKEN, "children": children},
            "lanzou": lanzou_demo()}


HUGE_SIZE = 5 * (1 << 30) + 123


def faults():
    children = [
        {"name": "..\\..\\x.exe", "size": 1024},
        {"name": "C:\\x", "size": 1025},
        {"name": "CON", "size": 1026},
        {"name": "a/b.txt", "text": "slash in the name\n"},
        {"name": "c:d.txt", "text": "colon in the name\n"},
        {"name": "客户端 补丁 第1部分.rar", "size": 65536},
        {"name": "子目录 资料", "children": [{"name": "说明 文档.txt", "text": "中文内容\n"}]},
        {"name": "empty.bin", "size": 0},
        {"name": "subtype-null.dat", "size": 2048, "subtype": None},
        {"name": "no-url.bin", "size": 2049, "omit": ["url"]},
        {"name": "many", "children": [{"name": "many-%03d.bin" % n, "size": 4096 + n} for n in range(1, 61)]},
        {"name": "loop", "children": [{"name": "loop", "link": "."}, {"name": "loop-file.txt", "text": "inside the loop\n"}]},
        {"name": "huge.bin", "size": HUGE_SIZE, "throttle_after": content.BLOCK, "throttle_bps": 256 * 1024},
    ]
    return {"feishu": {"name": "faults", "token": defaults.SHARE_TOKEN, "children": children},
            "lanzou": lanzou_demo()}


def clash():
    """The demo share with a sub-folder whose file lands on a root file's path."""
    share = demo(part_size_mib=0.25)
    share["feishu"]["children"].insert(1, {"name": "extra", "children": [
        {"name": "brinemarch.PART2.rar", "text": "same path as Brinemarch.part2.rar on Windows\n"}]})
    return share


PRESETS = ("demo", "faults", "bench", "clash", "documents")
