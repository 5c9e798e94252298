#!/usr/bin/env python3
"""A release cannot ship plain addresses: the share, listing and download constants are
https://, or http:// on the loopback only; a configure with another value fails and names it.
Nor the build's test key: a build reaching beyond the loopback names its manifest key."""

import os
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.abspath(os.path.join(HERE, "..", ".."))
CHECK = os.path.join(REPO, "cmake", "ReleaseAddresses.cmake")
CONSTANTS = ("SHARE_URL", "LIST_ORIGIN", "DOWNLOAD_ORIGIN")
KEY = "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAENyO2OBI3lf9pjeQOM1NjCdplEwxSxPdnx/oSURMefxQumQlg5wBNUh7hJN5wkyQmsQclFMfOHgNSpjfgGTze9Q=="


def check(**values):
    """Runs the check on its own with BRINEMARCH_<name>=value (the manifest key none unless
    given); (exit code, output)."""
    values.setdefault("MANIFEST_KEY", "none")
    args = ["cmake"] + ["-DBRINEMARCH_%s=%s" % item for item in values.items()] + ["-P", CHECK]
    done = subprocess.run(args, capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout + done.stderr


class ReleaseAddressTest(unittest.TestCase):
    def test_https_and_the_loopback_pass(self):
        for value in ("https://drive.example", "HTTPS://Drive.Example:8443/x", "http://127.0.0.1:18430",
                      "http://127.9.8.7/drive/folder/T", "http://localhost", "http://LOCALHOST:80/",
                      "http://[::1]:18430/x"):
            for name in CONSTANTS:
                code, out = check(**{name: value})
                self.assertEqual(code, 0, "%s=%s: %s" % (name, value, out))

    def test_any_other_address_fails_and_names_its_constant(self):
        for value in ("http://drive.example", "HTTP://drive.example/x", "http://10.0.0.1:18430",
                      "http://127.0.0.1.drive.example/", "http://127.0.0.1@drive.example/",
                      "http://localhost.drive.example", "http://[::2]/", "drive.example/x", "ftp://drive.example",
                      ""):
            for name in CONSTANTS:
                code, out = check(**{name: value})
                self.assertNotEqual(code, 0, "%s=%s passed" % (name, value))
                self.assertIn("BRINEMARCH_%s = \"%s\"" % (name, value), out)

    def test_every_bad_constant_is_named_and_a_good_one_is_not(self):
        code, out = check(SHARE_URL="http://drive.example/drive/folder/T", LIST_ORIGIN="https://drive.example",
                          DOWNLOAD_ORIGIN="http://stream.example")
        self.assertNotEqual(code, 0)
        self.assertIn("BRINEMARCH_SHARE_URL", out)
        self.assertIn("BRINEMARCH_DOWNLOAD_ORIGIN", out)
        self.assertNotIn("BRINEMARCH_LIST_ORIGIN", out)

    def test_an_address_beyond_the_loopback_needs_a_named_key(self):
        for name in CONSTANTS:
            code, out = check(**{name: "https://drive.example", "MANIFEST_KEY": ""})
            self.assertNotEqual(code, 0, "%s passed without a key" % name)
            self.assertIn("BRINEMARCH_MANIFEST_KEY", out)
            for key in ("none", KEY):
                code, out = check(**{name: "https://drive.example", "MANIFEST_KEY": key})
                self.assertEqual(code, 0, "%s with key %s: %s" % (name, key, out))
            code, out = check(**{name: "http://127.0.0.1:18430", "MANIFEST_KEY": ""})
            self.assertEqual(code, 0, out)

    def test_a_named_key_must_be_a_p256_public_key(self):
        for key in (KEY[:-4], KEY[:-3] + "B==", KEY + "AAAA", "MFYw" + KEY[4:], "None", "-----BEGIN PUBLIC KEY-----"):
            code, out = check(LIST_ORIGIN="https://drive.example", MANIFEST_KEY=key)
            self.assertNotEqual(code, 0, "key %s passed" % key)
            self.assertIn("BRINEMARCH_MANIFEST_KEY = \"%s\"" % key, " ".join(out.split()))

    def test_configuring_the_project_runs_the_check(self):
        toolchain = os.path.join(REPO, "cmake", "mingw-w64-x86_64.cmake")
        with tempfile.TemporaryDirectory() as build:
            done = subprocess.run(["cmake", "-S", REPO, "-B", build, "-DCMAKE_TOOLCHAIN_FILE=" + toolchain,
                                   "-DBRINEMARCH_DOWNLOAD_ORIGIN=http://stream.example",
                                   "-DBRINEMARCH_MANIFEST_KEY=none"],
                                  capture_output=True, text=True, timeout=120)
            self.assertNotEqual(done.returncode, 0, done.stdout)
            self.assertIn("BRINEMARCH_DOWNLOAD_ORIGIN = \"http://stream.example\"", done.stderr)
            self.assertFalse(os.path.exists(os.path.join(build, "generated", "build_config.h")))


if __name__ == "__main__":
    unittest.main(verbosity=1)
