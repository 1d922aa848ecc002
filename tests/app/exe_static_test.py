#!/usr/bin/env python3
"""The shipping exe as a file: its size and the resources it must carry,
read from the PE file without running it, so that these hold on every
machine, also where this build cannot run."""

import os
import re
import struct
import subprocess
import sys
import unittest

from pe_file import (IMAGE_SCN_CNT_UNINITIALIZED_DATA, IMAGE_SCN_MEM_WRITE, RT_DIALOG, RT_GROUP_ICON, RT_MANIFEST,
                     RT_VERSION, PeFile)

LOADER = os.path.join(os.environ["KOVRA_BIN_DIR"], "KovraLoader.exe")
SIZE_REPORT = os.path.join(os.path.dirname(__file__), "..", "..", "bench", "loader", "size_report.py")
SIZE_LIMIT = 160 * 1024
RUSSIAN = 1049
# Skin pictures: id -> (width, height) at 96 DPI.
PICTURES = {114: (9, 9), 115: (9, 9), 124: (9, 9), 126: (10, 9), 127: (10, 9), 128: (10, 9),
            216: (513, 264), 217: (29, 9)}


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", data[16:24])


class ShippingExe(unittest.TestCase):
    def test_it_stays_within_160_kib(self):
        size = os.path.getsize(LOADER)
        print("KovraLoader.exe: %d bytes (limit %d)" % (size, SIZE_LIMIT))
        self.assertLessEqual(size, SIZE_LIMIT)

    def test_its_size_report_reads_its_sections_and_symbols_of_the_same_bytes(self):
        report = subprocess.run([sys.executable, SIZE_REPORT, "--build", os.path.dirname(os.environ["KOVRA_BIN_DIR"])],
                                capture_output=True, text=True)
        print(report.stdout + report.stderr)
        self.assertEqual(report.returncode, 0, "the unstripped twin holds other bytes, or the report failed")
        sections = [section.name for section in PeFile(LOADER).sections]
        self.assertEqual(re.findall(r"^  (\S+) +\d+ +\d+$", report.stdout, re.M), sections)
        symbols = re.findall(r"^ +(\d+)  (\S+) +\S", report.stdout, re.M)
        self.assertEqual(len(symbols), 20)
        for size, section in symbols:
            self.assertGreater(int(size), 0)
            self.assertIn(section, sections)

    def test_what_it_writes_at_run_time_lies_in_writable_sections(self):
        # A write into a read-only page faults on Windows as under Wine: the
        # program's data, and the tables a delay-load helper fills (linkers
        # have placed those among the import tables, which binutils 2.44
        # makes read-only).
        pe = PeFile(LOADER)
        written = [(section.name, section.start) for section in pe.sections
                   if section.name in (".data", ".bss") or section.flags & IMAGE_SCN_CNT_UNINITIALIZED_DATA]
        self.assertIn(".data", [name for name, _ in written])
        written += pe.delay_import_tables()
        for what, rva in written:
            with self.subTest(what):
                section = pe.section(rva)
                print("%s: in %s, flags %#010x" % (what, section.name, section.flags))
                self.assertTrue(section.flags & IMAGE_SCN_MEM_WRITE,
                                "%s lies in %s, which is not writable" % (what, section.name))

    def test_it_carries_its_window_pictures_icon_manifest_and_version(self):
        resources = PeFile(LOADER).resources()
        self.assertIn((RT_DIALOG, 130, RUSSIAN), resources)
        for picture, size in PICTURES.items():
            with self.subTest(picture=picture):
                data = resources.get(("PNG", picture, RUSSIAN))
                self.assertIsNotNone(data, "PNG %d missing" % picture)
                self.assertEqual(png_size(data), size)
        self.assertTrue(any(k[:2] == (RT_GROUP_ICON, 128) for k in resources), "icon group 128 missing")
        manifests = [v for k, v in resources.items() if k[:2] == (RT_MANIFEST, 1)]
        self.assertEqual(len(manifests), 1)
        self.assertIn(b'level="asInvoker"', manifests[0])
        self.assertIn(b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"', manifests[0])
        self.assertTrue(any(k[:2] == (RT_VERSION, 1) for k in resources), "version resource missing")


if __name__ == "__main__":
    unittest.main(verbosity=2)
