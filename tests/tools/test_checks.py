#!/usr/bin/env python3
"""The tree checks: the layering check on the tree and on planted faults."""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.abspath(os.path.join(HERE, "..", ".."))
CHECK = os.path.join(REPO, "tools", "checks", "check_layers.py")


def write(root, path, text):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w", encoding="utf-8") as f:
        f.write(text)


def run(repo):
    done = subprocess.run([sys.executable, CHECK, repo], capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout


class LayerCheckTest(unittest.TestCase):
    def test_the_tree_keeps_to_its_layers(self):
        code, out = run(REPO)
        self.assertEqual(code, 0, out)

    def test_planted_faults_are_named_with_file_line_and_rule(self):
        with tempfile.TemporaryDirectory() as repo:
            write(repo, "src/json/yy_path.h", "// Paths. Internal to the JSON library.\n#pragma once\n")
            write(repo, "src/json/reader.cpp", '#include "json/yy_path.h"\n#include "runtime/text.h"\n')
            write(repo, "src/ui/list.cpp", '#include "ui/ui.h"\n\n#include "engine/engine.h"\n')
            write(repo, "src/net/http.cpp", '#include "json/yy_path.h"\n')
            write(repo, "tests/json/path_test.cpp", '#include "json/yy_path.h"\n')
            code, out = run(repo)
        self.assertEqual(code, 1, out)
        problems = [line for line in out.splitlines() if line.startswith(("src/", "tests/"))]
        self.assertEqual(problems, [
            "src/net/http.cpp:1: net may not include json/yy_path.h (net uses only runtime)",
            "src/net/http.cpp:1: json/yy_path.h is internal to the json library",
            "src/ui/list.cpp:3: ui may not include engine/engine.h (ui uses only concurrency, runtime)",
        ])


if __name__ == "__main__":
    unittest.main(verbosity=1)
