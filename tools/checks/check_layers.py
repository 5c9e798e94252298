#!/usr/bin/env python3
"""The layering of src/: which library's files may include which library's headers.

Every `#include "lib/..."` in src/<lib>/ must name <lib> itself or a library below it, and a
header that calls itself "Internal to the X library" may be included only from that library
(and its tests). Prints each violation as FILE:LINE: RULE and exits 1 when there is one.

usage: check_layers.py [REPO]
"""

import os
import re
import sys

# Each library and the libraries it may use (the arrows of docs/ARCHITECTURE.md).
ALLOWED = {
    "runtime": set(),
    "concurrency": {"runtime"},
    "net": {"runtime"},
    "json": {"runtime"},
    "regex": {"runtime"},
    "resolve": {"runtime", "concurrency", "net", "json", "regex"},
    "engine": {"runtime", "concurrency", "net", "json", "resolve"},
    "ui": {"runtime", "concurrency"},
    "app": {"runtime", "concurrency", "net", "json", "regex", "resolve", "engine", "ui"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/([^"]+)"')
INTERNAL = re.compile(r"Internal to the (\w+) library", re.IGNORECASE)


def sources(root):
    for folder, folders, files in os.walk(root):
        folders.sort()
        for name in sorted(files):
            if name.endswith((".h", ".cpp")):
                yield os.path.join(folder, name)


def internal_headers(src):
    """Header path below src -> the library it is internal to."""
    owners = {}
    for path in sources(src):
        if not path.endswith(".h"):
            continue
        with open(path, encoding="utf-8") as f:
            head = f.read(2000)
        match = INTERNAL.search(head)
        if match:
            owners[os.path.relpath(path, src).replace(os.sep, "/")] = match.group(1).lower()
    return owners


def check(repo):
    src = os.path.join(repo, "src")
    owners = internal_headers(src)
    problems = []
    for top in ("src", "tests"):
        for path in sources(os.path.join(repo, top)):
            rel = os.path.relpath(path, repo).replace(os.sep, "/")
            parts = rel.split("/")
            lib = parts[1] if len(parts) > 2 else None
            with open(path, encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    target = match.group(1)
                    header = "%s/%s" % (target, match.group(2))
                    if top == "src" and target in ALLOWED and lib in ALLOWED and target != lib and \
                            target not in ALLOWED[lib]:
                        problems.append("%s:%d: %s may not include %s (%s uses only %s)" % (
                            rel, number, lib, header, lib, ", ".join(sorted(ALLOWED[lib])) or "nothing"))
                    owner = owners.get(header)
                    if owner and lib != owner:
                        problems.append("%s:%d: %s is internal to the %s library" % (rel, number, header, owner))
    return problems


def main():
    repo = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    problems = check(os.path.abspath(repo))
    for problem in problems:
        print(problem)
    if problems:
        print("check_layers: %d include(s) outside the layers" % len(problems))
        return 1
    print("check_layers: every include keeps to the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
