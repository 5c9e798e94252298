"""Builds the players' ZIP with cpack and checks what it holds: the program and its engine
side by side in one top folder, the engine's settings, the players' README, and the engine's
licence with its complete source (the engine is GPL-2.0). usage: check_package.py BUILD_DIR"""
import glob
import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

BUILD = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else os.getcwd()


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.mkdtemp(prefix="bm-package-")
        subprocess.run(["cpack", "-B", cls.out], cwd=BUILD, check=True, stdout=subprocess.DEVNULL)
        zips = glob.glob(os.path.join(cls.out, "*.zip"))
        assert len(zips) == 1, zips
        cls.zip = zipfile.ZipFile(zips[0])
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


if __name__ == "__main__":
    unittest.main(verbosity=2)
