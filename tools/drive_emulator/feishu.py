"""Answers of the Feishu drive's web interface: the children listing and pages."""

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


def folder_url(origin, token):
    return "%s/drive/folder/%s" % (origin, token)


def file_url(origin, token):
    return "%s/file/%s" % (origin, token)


def _entity(node, origin):
    base = {"token": node.token, "obj_token": node.token, "name": node.name,
            "owner_id": "7300000000000000001", "create_time": 1712000000, "edit_time": 1712003600}
    if node.kind == "file":
        base["type"] = 12
        base["url"] = file_url(origin, node.token)
        # A null subtype still marks a file: only its absence means a folder.
        base["extra"] = {"size": str(node.content.size), "subtype": node.subtype}
        for key in node.omit:
            base.pop(key, None)
    else:
        target = node.target if node.kind == "link" else node.token
        base["type"] = 0
        base["url"] = folder_url(origin, target)
        # Folders carry an extra object too, just never a subtype.
        base["extra"] = {"is_external": "false"}
    return base


def listing(tree, token, length, origin):
    """The answer object for a folder token, or NOT_FOUND."""
    folder = tree.folders.get(token) if tree.root is not None else None
    if folder is None:
        return NOT_FOUND
    shown = folder.children[:max(0, length)]
    nodes = {node.token: _entity(node, origin) for node in shown}
    return {"code": 0, "msg": "Success", "data": {
        "entities": {"nodes": nodes, "users": {}},
        "has_more": len(folder.children) > len(shown),
        "last_label": shown[-1].token if shown and len(folder.children) > len(shown) else "",
        "node_list": [node.token for node in shown],
        "total": len(folder.children),
    }}


def encode(answer):
    # The service writes UTF-8 text, not \u escapes.
    return json.dumps(answer, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


def page(title, body_text):
    return ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%s</title></head>"
            "<body><p>%s</p></body></html>" % (html.escape(title), html.escape(body_text))).encode("utf-8")
