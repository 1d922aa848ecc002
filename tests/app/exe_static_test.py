#!/usr/bin/env python3
"""The shipping exe as a file: its size and the resources it must carry,
read from the PE file without running it, so that these hold on every
machine, also where this build cannot run."""

import os
import struct
import unittest

from pe_file import RT_DIALOG, RT_GROUP_ICON, RT_MANIFEST, RT_VERSION, PeFile

LOADER = os.path.join(os.environ["KOVRA_BIN_DIR"], "KovraLoader.exe")
SIZE_LIMIT = 200 * 1024
RUSSIAN = 1049
# Skin pictures: id -> (width, height) at 96 DPI.
PICTURES = {114: (9, 9), 115: (9, 9), 124: (9, 9), 126: (10, 9), 127: (10, 9), 128: (10, 9),
            216: (513, 264), 217: (29, 9)}


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", data[16:24])


class ShippingExe(unittest.TestCase):
    def test_it_stays_within_200_kib(self):
        size = os.path.getsize(LOADER)
        print("KovraLoader.exe: %d bytes (limit %d)" % (size, SIZE_LIMIT))
        self.assertLessEqual(size, SIZE_LIMIT)

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
