"""The release manifest of a served share, as the publisher's scripts/sign-release.sh makes it:
brinemarch-manifest.json (every file below the root with its size and SHA-256) and
brinemarch-manifest.sig (openssl's DER ECDSA signature over SHA-256 of the JSON's bytes), put
into the share's root folder as two more files.

A signing is {"key": "publisher" | "stranger", "leave_out": [path, ...], "missing": bool}:
the publisher's key is the one the emulator was started with (--sign-key), the stranger's one
it makes itself; leave_out names listed files the manifest does not name; missing serves the
share without the two files."""

import json
import os
import subprocess
import tempfile
import threading

import content

MANIFEST = "brinemarch-manifest.json"
SIGNATURE = "brinemarch-manifest.sig"
# Their tokens, fixed so that tests can tell the parts' streams from the manifest's.
TOKENS = {MANIFEST: "BrinemarchReleaseManifest", SIGNATURE: "BrinemarchReleaseSignature"}

_digests = {}
_digests_lock = threading.Lock()
_stranger = None


def _sha256(data):
    """SHA-256 of a file's contents; generated contents are hashed once per process."""
    if not isinstance(data, content.GeneratedContent):
        return data.sha256()
    key = (data.key, data.size)
    with _digests_lock:
        if key in _digests:
            return _digests[key]
    digest = data.sha256()
    with _digests_lock:
        _digests[key] = digest
    return digest


def stranger_key():
    """A key nobody's build knows, made once per process."""
    global _stranger
    if _stranger is None:
        folder = tempfile.mkdtemp(prefix="stranger-key-")
        path = os.path.join(folder, "stranger.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", path],
                       check=True, capture_output=True)
        _stranger = path
    return _stranger


def manifest_bytes(tree, release="emulator", leave_out=()):
    files = []
    for trail, node in tree.walk_files():
        path = "/".join(trail + [node.name])
        if path in leave_out or path in (MANIFEST, SIGNATURE):
            continue
        files.append({"path": path, "size": node.content.size, "sha256": _sha256(node.content)})
    return (json.dumps({"format": 1, "release": release, "files": files}, ensure_ascii=False, indent=1) +
            "\n").encode("utf-8")


def sign_bytes(data, key_path):
    return subprocess.run(["openssl", "dgst", "-sha256", "-sign", key_path], input=data, check=True,
                          capture_output=True).stdout


def sign_tree(tree, signing, publisher_key, make_file):
    """Adds the two files to the tree's root (make_file(name, bytes, token) makes a file node), or
    signs them anew when the root has them."""
    if tree.root is None:
        return
    for node in [n for n in tree.root.children if n.kind == "file" and n.name in (MANIFEST, SIGNATURE)]:
        tree.root.children.remove(node)
        del tree.files[node.token]
        del tree.nodes[node.token]
    if not signing or signing.get("missing"):
        return
    key = stranger_key() if signing.get("key") == "stranger" else publisher_key
    if not key:
        raise ValueError("signing needs the emulator's --sign-key")
    data = manifest_bytes(tree, str(signing.get("release", "emulator")), tuple(signing.get("leave_out") or ()))
    for name, body in ((MANIFEST, data), (SIGNATURE, sign_bytes(data, key))):
        make_file(name, body, TOKENS[name])
