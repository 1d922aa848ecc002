#!/usr/bin/env python3
"""The real loader under Wine: the pinned test build runs only an installer
signed by the test publisher, holds the file from the check until the
installer has started, and neither build takes DLLs from its own folder.

KovraLoaderPinned.exe is the shipping code pinned to the committed test
publisher key; KovraLoader.exe is the default build (no pin)."""

import os
import shutil
import subprocess
import unittest

import test_signing as signing
from kovra_harness import (LoaderCase, harness, installer_bytes, is_installer, is_stats, poll, read_record, remove,
                           stats_type)

H = harness()
PINNED = H.program("KovraLoaderPinned.exe")
LOADER = H.program("KovraLoader.exe")
SWAPPER = H.program("file_swapper.exe")
PLANT = H.program("plant.dll")
CONTROL = H.program("plant_control.exe")

# DLLs a Windows program may load that are not known DLLs (so Windows looks
# for them in the program's folder first). Left out, as Wine artefacts:
# version.dll, which Wine's own advapi32 links and loads before the program's
# entry; windowscodecs.dll and its import propsys.dll, which Wine's gdiplus
# delay-loads through a search that ignores the process's DLL directories
# (Windows applies them to delay loads as well).
PLANTED = ["wininet", "comctl32", "gdiplus", "crypt32", "wintrust", "uxtheme", "dwmapi", "userenv",
           "iertutil", "secur32", "winhttp", "mpr", "bcrypt", "ncrypt", "netapi32", "urlmon", "cryptbase",
           "profapi", "msimg32", "cryptsp", "rsaenh", "wtsapi32"]


class TrustedLaunchTest(LoaderCase):
    def events(self):
        return [stats_type(e) if is_stats(e) else e.method
                for e in self.nginx.wait_for(5, match=lambda e: is_stats(e) or is_installer(e))]

    # --- the pinned build -------------------------------------------------------
    def test_installer_signed_by_the_publisher_runs(self):
        data = signing.sign(installer_bytes(300000))
        self.serve(data)
        self.assertEqual(self.run_loader(PINNED, exit_code=5), 1)
        self.assertEqual(self.events(), ["run", "HEAD", "GET", "downloaded", "finished:5"])
        run = self.assert_installed(data, name="KovraLoaderPinned.exe")[0]
        self.assertTrue(run["cmdline"].endswith("--no-gui --only-kovra-icon"), run["cmdline"])
        self.assertEqual(run["show"], "0")

    def test_installers_that_fail_the_check_are_deleted_unrun(self):
        unsigned = installer_bytes(300000)
        signed = signing.sign(unsigned)
        cases = [
            ("unsigned", unsigned, signing.TRUST_E_NOSIGNATURE),
            ("one byte changed", signing.with_byte_flipped(signed, signing.text_section_offset(signed)),
             signing.TRUST_E_BAD_DIGEST),
            ("another publisher", signing.sign(unsigned, "other-publisher"), signing.SIGNED_BY_ANOTHER_PUBLISHER),
        ]
        for what, data, expected in cases:
            with self.subTest(what):
                self.nginx.mark()
                remove(self.record)
                self.serve(data)
                self.assertEqual(self.run_loader(PINNED, exit_code=5), 1, "the dialog ends as after any launch")
                self.assertEqual(self.events(), ["run", "HEAD", "GET", "downloaded",
                                                 "finished:" + signing.signed_decimal(expected)])
                self.assertEqual(read_record(self.record), [], "never started")
                self.assertFalse(os.path.exists(self.final_path("KovraLoaderPinned.exe")), "deleted")
                self.assertFalse(os.path.exists(self.final_path("KovraLoaderPinned.exe") + ".dul!"))

    def test_a_writer_between_check_and_launch_is_refused(self):
        # A large installer makes the check take a while. The swapper opens
        # the file for writing over and over; once it has been refused it
        # overwrites the file (or moves another over it) whenever it can.
        # The installer that runs must still be the one that was checked.
        data = signing.sign(installer_bytes(8 * 1024 * 1024))
        self.serve(data)
        evil = os.path.join(self.work, "replacement.exe")
        with open(evil, "wb") as f:
            f.write(installer_bytes(1000, seed=b"not the publisher's"))
        ready, stop = (os.path.join(self.work, name) for name in ("swapper-ready", "swapper-stop"))
        remove(ready, stop)
        out_path = os.path.join(self.work, "swapper.out")
        with open(out_path, "w") as out:
            swapper = subprocess.Popen(["wine", SWAPPER, self.temp_windows("KovraLoaderPinned.exe"), H.windows_path(evil),
                                        H.windows_path(ready), H.windows_path(stop), "150000"],
                                       env=H.env(), stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        self.assertTrue(poll(lambda: os.path.exists(ready), 60), "the swapper started")

        loader = self.start_loader(PINNED, exit_code=7, **self.installer_until())
        # Once the installer has started the loader has let go of the file;
        # the swapper stops before the installer ends (it runs until then)
        # and the file goes.
        poll(lambda: read_record(self.record) or loader.poll() is not None, 150, 0.02)
        open(stop, "w").close()
        self.assertEqual(swapper.wait(timeout=60), 0)
        self.let_installer_end()
        self.assertEqual(loader.wait(timeout=120), 1)
        with open(out_path) as f:
            counts = dict(line.strip().split("=", 1) for line in f if "=" in line)

        # What ran is what was checked.
        self.assert_installed(data, name="KovraLoaderPinned.exe")
        self.assertEqual(counts.get("swapped"), "0", counts)
        self.assertGreater(int(counts.get("write_refused", 0)), 0, counts)
        self.assertGreater(int(counts.get("rename_refused", 0)), 0, counts)
        self.assertEqual(self.events()[-1], "finished:7")

    # --- DLL planting -----------------------------------------------------------
    def test_dlls_planted_beside_the_loader_are_not_loaded(self):
        folder = os.path.join(self.work, "downloads")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for name in PLANTED:
            shutil.copyfile(PLANT, os.path.join(folder, name + ".dll"))
        plant_record = os.path.join(self.work, "planted-loaded.txt")
        # Windows looks in the program's folder before the system folder for
        # all but the known DLLs; Wine prefers its own DLLs unless told. A
        # plant can crash its host: no debugger to wait on then.
        overrides = "mscoree,mshtml=;winedbg.exe=d;%s=n,b" % ",".join(PLANTED)
        env = H.env(WINEDLLOVERRIDES=overrides, KOVRA_PLANT_RECORD=H.windows_path(plant_record),
                    **self.loader_env(exit_code=3))

        def run_from_folder(program, timeout):
            copy = os.path.join(folder, os.path.basename(program))
            shutil.copyfile(program, copy)
            return subprocess.run(["wine", copy], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout).returncode

        # A program that links WinINet the ordinary way does get the plant.
        remove(plant_record)
        run_from_folder(CONTROL, 60)
        with open(plant_record) as f:
            self.assertIn("\\wininet.dll", f.read().lower(), "the plant works where it is not guarded against")

        os.remove(plant_record)
        data = installer_bytes(1000)
        self.serve(data)
        self.nginx.mark()
        code = run_from_folder(LOADER, 180)
        loaded = open(plant_record).read() if os.path.exists(plant_record) else ""
        self.assertEqual(loaded, "", "planted DLLs loaded")
        self.assertEqual(code, 1)
        self.assertEqual(self.events(), ["run", "HEAD", "GET", "downloaded", "finished:3"])
        self.assert_installed(data)


if __name__ == "__main__":
    unittest.main(verbosity=2)
