"""Answers of the Feishu drive's web interface: the children listing and pages."""

import base64
import html
import json

LIST_PATH = "/space/api/explorer/v3/children/list/"
STREAM_PREFIX = "/space/api/box/stream/download/all/"
# Everything the client sends before the folder token, in this order.
LIST_QUERY_PREFIX = ("thumbnail_width=1028&thumbnail_height=1028&thumbnail_policy=4&obj_type=0&obj_type=2"
                     "&obj_type=22&obj_type=44&obj_type=3&obj_type=30&obj_type=8&obj_type=11&obj_type=12"
                     "&length=50&asc=1&rank=5&token=")
PAGE_LENGTH = 50

EXPIRED = {"code": 10014, "msg": "login session expired, please sign in again", "data": {}}
NOT_FOUND = {"code": 1002, "msg": "node not found or no permission", "data": {}}
BAD_PARAMS = {"code": 2, "msg": "invalid params", "data": {}}
BAD_CURSOR = {"code": 4, "msg": "invalid last_label", "data": {}}
NO_PERMISSION = {"code": 10003, "msg": "no permission: the share is not public", "data": {}}
# A visitor's session of the share: the redirect sets the first trace, the page the session,
# the language and a new trace (which replaces the first).
VISITOR_REDIRECTS = (None, "loop", "foreign")
VISITOR_TRACE_FIRST = "bm_visitor_trace=tr1x"
VISITOR_SET_ON_PAGE = ("bm_visitor_session=VsN8qK2xPz", "bm_visitor_lang=zh-CN", "bm_visitor_trace=tr2y")
VISITOR_COOKIES = ("bm_visitor_trace=tr2y", "bm_visitor_session=VsN8qK2xPz", "bm_visitor_lang=zh-CN")
THROTTLED = {"code": 99991400, "msg": "request trigger frequency limit", "data": {}}
# Cursors open with these bytes, so every one holds "+" and "/" (and, padded, "=").
_CURSOR_MARK = b"\xfb\xff\xbf"


def folder_url(origin, token):
    return "%s/drive/folder/%s" % (origin, token)


def file_url(origin, token):
    return "%s/file/%s" % (origin, token)


def doc_url(origin, token):
    return "%s/docx/%s" % (origin, token)


def _entity(node, origin):
    base = {"token": node.token, "obj_token": node.token, "name": node.name,
            "owner_id": "7300000000000000001", "create_time": 1712000000, "edit_time": 1712003600}
    if node.kind == "doc":
        base["type"] = node.doc_type
        if node.points_to:
            base["obj_token"] = node.points_to
        base["url"] = doc_url(origin, base["obj_token"])
        base["extra"] = {}
    elif node.kind == "file":
        base["type"] = 12
        base["url"] = file_url(origin, node.token)
        # A null subtype still marks a file: only its absence means a folder.
        base["extra"] = {"size": str(node.content.size), "subtype": node.subtype}
        base["edit_time"] += 3600 * node.version
        for key in node.omit:
            base.pop(key, None)
    else:
        target = node.target if node.kind == "link" else node.token
        base["type"] = 0
        base["url"] = folder_url(origin, target)
        # Folders carry an extra object too, just never a subtype.
        base["extra"] = {"is_external": "false"}
    for key, value in node.entity.items():
        if value is None:
            base.pop(key, None)
        else:
            base[key] = value
    return base


def cursor(token, offset):
    """The drive's opaque paging cursor: where the next page of a folder starts."""
    payload = _CURSOR_MARK + ("%s|%d" % (token, offset)).encode("utf-8")
    payload += b" " * ((1 - len(payload)) % 3)
    return base64.b64encode(payload).decode("ascii")


def cursor_offset(label, token):
    """The offset a cursor of this folder stands for, or None for anything else."""
    try:
        payload = base64.b64decode(label, validate=True)
    except ValueError:
        return None
    if not payload.startswith(_CURSOR_MARK):
        return None
    owner, _, offset = payload[len(_CURSOR_MARK):].decode("utf-8", "replace").rstrip(" ").rpartition("|")
    return int(offset) if owner == token and offset.isdigit() else None


def listing(tree, token, length, origin, label=None):
    """The answer object for one page of a folder, NOT_FOUND or BAD_CURSOR."""
    folder = tree.folders.get(token) if tree.root is not None else None
    if folder is None:
        return NOT_FOUND
    start = 0
    if label is not None:
        start = cursor_offset(label, token)
        if start is None or start > len(folder.children):
            return BAD_CURSOR
    shown = folder.children[start:start + max(0, length)]
    more = start + len(shown) < len(folder.children)
    nodes = {node.token: _entity(node, origin) for node in shown}
    return {"code": 0, "msg": "Success", "data": {
        "entities": {"nodes": nodes, "users": {}},
        "has_more": more,
        "last_label": cursor(token, start + len(shown)) if more else "",
        "node_list": [node.token for node in shown],
        "total": len(folder.children),
    }}


def encode(answer):
    # The service writes UTF-8 text, not \u escapes.
    return json.dumps(answer, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


def page(title, body_text):
    return ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%s</title></head>"
            "<body><p>%s</p></body></html>" % (html.escape(title), html.escape(body_text))).encode("utf-8")
