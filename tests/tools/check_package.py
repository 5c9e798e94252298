"""Builds the players' ZIP with cpack and checks what it holds: the program and its engine
side by side in one top folder, the engine's settings, the players' README, and the engine's
licence with its complete source (the engine is GPL-2.0); and, given a code-signing
certificate, both programs signed with it. usage: check_package.py BUILD_DIR"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

BUILD = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else os.getcwd()


PROGRAMS = ("BrinemarchDownloader.exe", "aria2c.exe")


def make_package(out, env=None):
    """The ZIP cpack writes into out, opened."""
    subprocess.run(["cpack", "-B", out], cwd=BUILD, check=True, stdout=subprocess.DEVNULL,
                   env=dict(os.environ, **(env or {})))
    zips = glob.glob(os.path.join(out, "*.zip"))
    assert len(zips) == 1, zips
    return zipfile.ZipFile(zips[0])


def verify_signature(data, folder, authority):
    """osslsigncode's verdict on a program's Authenticode signature against authority."""
    path = os.path.join(folder, "program.exe")
    with open(path, "wb") as f:
        f.write(data)
    done = subprocess.run(["osslsigncode", "verify", "-CAfile", authority, "-in", path], capture_output=True,
                          text=True, timeout=60)
    return done.returncode == 0, done.stdout + done.stderr


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.mkdtemp(prefix="bm-package-")
        cls.zip = make_package(cls.out)
        cls.names = cls.zip.namelist()

    @classmethod
    def tearDownClass(cls):
        cls.zip.close()
        subprocess.run(["rm", "-rf", cls.out], check=False)

    def entry(self, tail):
        found = [n for n in self.names if n.split("/", 1)[-1] == tail]
        self.assertEqual(len(found), 1, "%s in %s" % (tail, self.names))
        return found[0]

    def test_one_top_folder(self):
        self.assertEqual(len({n.split("/", 1)[0] for n in self.names}), 1, self.names)

    def test_program_and_engine_are_side_by_side_pe_files(self):
        for name in ("BrinemarchDownloader.exe", "aria2c.exe"):
            self.assertEqual(self.zip.read(self.entry(name))[:2], b"MZ", name)
        self.assertIn(b"rpc", self.zip.read(self.entry("aria2.conf")))
        # The engine reads it at start; the program cannot make it in a read-only folder.
        self.assertEqual(self.zip.read(self.entry("aria2.session")), b"")

    def test_players_readme_names_every_licence_file(self):
        readme = self.zip.read(self.entry("README.txt")).decode("utf-8-sig")
        for name in ("COPYING", "SOURCE", "BUILD", "aria2_1.36.0.orig.tar.gz"):
            self.assertIn("licenses/aria2/" + name, readme)

    def test_engine_licence_source_and_build_note(self):
        self.assertIn(b"GNU GENERAL PUBLIC LICENSE", self.zip.read(self.entry("licenses/aria2/COPYING")))
        self.assertIn(b"aria2_1.36.0.orig.tar.gz", self.zip.read(self.entry("licenses/aria2/SOURCE")))
        self.assertIn(b"./configure", self.zip.read(self.entry("licenses/aria2/BUILD")))
        source = self.zip.read(self.entry("licenses/aria2/aria2_1.36.0.orig.tar.gz"))
        self.assertEqual(source[:2], b"\x1f\x8b")  # gzip
        self.assertGreater(len(source), 1 << 20)


    def test_programs_are_unsigned_without_a_certificate(self):
        for name in PROGRAMS:
            signed, output = verify_signature(self.zip.read(self.entry(name)), self.out, "/dev/null")
            self.assertFalse(signed, output)


@unittest.skipIf(shutil.which("osslsigncode") is None, "osslsigncode is not installed")
class SignedPackageTest(unittest.TestCase):
    """A code-signing certificate of the test's own, given as a publisher gives theirs."""

    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.mkdtemp(prefix="bm-signed-package-")
        cls.certificate = os.path.join(cls.out, "signer.pem")
        key, pkcs12 = os.path.join(cls.out, "signer-key.pem"), os.path.join(cls.out, "signer.p12")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                        "/O=Brinemarch tests/CN=Brinemarch test code signer", "-addext",
                        "extendedKeyUsage=codeSigning", "-keyout", key, "-out", cls.certificate],
                       check=True, capture_output=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cls.certificate, "-out", pkcs12,
                        "-passout", "pass:test password"], check=True, capture_output=True)
        cls.zip = make_package(os.path.join(cls.out, "zip"), {"BRINEMARCH_SIGN_PKCS12": pkcs12,
                                                               "BRINEMARCH_SIGN_PASSWORD": "test password"})

    @classmethod
    def tearDownClass(cls):
        cls.zip.close()
        shutil.rmtree(cls.out, ignore_errors=True)

    def test_both_programs_carry_a_signature_that_verifies(self):
        for name in PROGRAMS:
            found = [n for n in self.zip.namelist() if n.endswith("/" + name)]
            self.assertEqual(len(found), 1, found)
            signed, output = verify_signature(self.zip.read(found[0]), self.out, self.certificate)
            self.assertTrue(signed, output)
            self.assertIn("Brinemarch test code signer", output)
        self.assertFalse(os.path.exists(os.path.join(BUILD, ".sign-password")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
