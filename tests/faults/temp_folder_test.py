#!/usr/bin/env python3
"""The real loader with its temporary folder full or read-only.

A small tmpfs is mounted over the Wine prefix's temporary folder for each
test (this needs root, which the machine and CI have; without it the tests
are skipped with a message). While the folder is full or read-only the
loader must never take a short file for a download, run it or leave it as
the final file; once space is back, the next attempt continues from what
was written and the installer that runs is exactly the server's file.
"""

import os
import subprocess
import unittest

from kovra_harness import FaultCase, harness, installer_bytes, read_record, wait_until

H = harness()


def mount(*args):
    return subprocess.run(["mount"] + list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)


class TempFolderFaults(FaultCase):
    def setUp(self):
        super().setUp()
        if os.geteuid() != 0:
            self.skipTest("mounting a small filesystem over the temporary folder needs root")
        result = mount("-t", "tmpfs", "-o", "size=1m,mode=0755", "kovra-faults-temp", H.temp_dir)
        if result.returncode != 0:
            self.skipTest("cannot mount a tmpfs here: %s" % result.stdout.decode(errors="replace").strip())
        self.addCleanup(self.unmount)

    def unmount(self):
        # The loaders are gone by now (tearDown runs first).
        if subprocess.run(["umount", H.temp_dir], stderr=subprocess.DEVNULL).returncode != 0:
            subprocess.run(["umount", "-l", H.temp_dir])

    def remount(self, options):
        result = mount("-o", "remount," + options, H.temp_dir)
        self.assertEqual(result.returncode, 0, result.stdout)

    def gets(self):
        return [e.header("Range") for e in self.installer_requests(self.scripted, "GET")]

    def assert_nothing_taken_for_done(self, loader, data):
        self.assert_running(loader, "while the folder cannot take the file")
        self.assertFalse(os.path.exists(self.final_path()), "a final file while the download cannot be stored")
        self.assertEqual(read_record(self.record), [], "nothing runs")
        self.assertEqual(self.stats_kinds(self.scripted), ["run"], "no downloaded event")
        return self.assert_prefix_of(self.temp_path(), data, "the .dul! file in a full folder")

    def test_full_then_space_back(self):
        """3 MB into a 1 MiB folder: every attempt stops at the full disk and
        keeps what was written; with 16 MiB the next attempt finishes."""
        data = installer_bytes(3000000)
        self.serve(data)
        loader = self.start_loader()
        # The first GET fills the folder, the second cannot add a byte.
        wait_until(lambda: len(self.gets()) >= 2, 60, "two attempts against the full folder")
        have = self.assert_nothing_taken_for_done(loader, data)
        self.assertGreater(have, 0)
        self.assertLessEqual(have, 1024 * 1024)
        self.assertEqual(self.gets()[:2], ["bytes=0-", "bytes=%d-" % have], "the part written is kept")

        self.remount("size=16m")
        self.assertEqual(loader.wait(timeout=120), 1)
        ranges = self.gets()
        self.assertEqual(ranges[-1], "bytes=%d-" % have, "the download continues from what was written")
        self.assert_installed(data)
        self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:0"])

    def test_read_only_then_writable(self):
        """A read-only folder holding a part of the file: no attempt can
        open it, nothing is lost; once writable the part is continued."""
        data = installer_bytes(2000000)
        path = self.serve(data)
        self.remount("size=16m")
        with open(self.temp_path(), "wb") as f:
            f.write(data[:700000])
        stamp = os.path.getmtime(path)
        os.utime(self.temp_path(), (stamp, stamp))
        self.remount("ro")
        loader = self.start_loader()
        wait_until(lambda: len(self.installer_requests(self.scripted, "HEAD")) >= 3, 60,
                   "three attempts against the read-only folder")
        self.assertEqual(self.gets(), [], "no GET without a file to write it into")
        self.assertEqual(self.assert_nothing_taken_for_done(loader, data), 700000)

        self.remount("rw")
        self.assertEqual(loader.wait(timeout=120), 1)
        self.assertEqual(self.gets(), ["bytes=700000-"])
        self.assert_installed(data)


if __name__ == "__main__":
    unittest.main(verbosity=2)
