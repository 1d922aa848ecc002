#!/usr/bin/env python3
"""What the build does about the publisher pin and the loader's DLLs:
configuring with a malformed pin fails, the output says whether a pin is
set, and the loader exes link at start only DLLs that Windows always takes
from the system folder. Reads files only: runs on every machine.

  build_trust_test.py <source folder> <toolchain file>
"""

import os
import shutil
import subprocess
import sys
import unittest

from pe_file import PeFile

BIN = os.environ["KOVRA_BIN_DIR"]
SOURCE, TOOLCHAIN = sys.argv[1], sys.argv[2]
del sys.argv[1:3]
WORK = os.path.join(os.path.dirname(BIN), "trust-build")
GOOD_PIN = "47B8A161BB60BFBBBCB4DAA5D948F1D0F12FD5843B8A78AD9ECD8BEDA0FA337D"

# Windows' known DLLs (HKLM\SYSTEM\CurrentControlSet\Control\Session
# Manager\KnownDLLs, Windows 7 to 11): never looked for in the program's
# folder. gdiplus is one on some versions only.
KNOWN_DLLS = {"advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "gdi32.dll",
              "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll",
              "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll",
              "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll",
              "ws2_32.dll"}


def configure(name, pin):
    folder = os.path.join(WORK, name)
    shutil.rmtree(folder, ignore_errors=True)
    args = ["cmake", "-S", SOURCE, "-B", folder, "-DCMAKE_TOOLCHAIN_FILE=" + TOOLCHAIN,
            "-DCMAKE_BUILD_TYPE=Release"]
    if pin is not None:
        args.append("-DKOVRA_PUBLISHER_KEY_SHA256=" + pin)
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=240)
    # CMake wraps its messages: compare with single spaces.
    return result.returncode, " ".join(result.stdout.decode("utf-8", "replace").split()), folder


def static_imports(path):
    return PeFile(path).static_imports()


def program_path(name):
    return os.path.join(BIN, name)


class BuildTrustTest(unittest.TestCase):
    def test_a_malformed_pin_stops_the_configure(self):
        for pin in ("12345", GOOD_PIN[:63], GOOD_PIN + "0", GOOD_PIN[:63] + "g", "sha256:" + GOOD_PIN[7:]):
            with self.subTest(pin):
                code, out, _ = configure("malformed", pin)
                self.assertNotEqual(code, 0, out)
                self.assertIn("is not 64 hex digits", out)

    def test_the_configure_says_whether_installers_are_checked(self):
        code, out, folder = configure("unpinned", None)
        self.assertEqual(code, 0, out)
        self.assertIn("Installer signature: NOT CHECKED, no publisher pin", out)
        with open(os.path.join(folder, "generated", "PinnedPublisher.h")) as f:
            self.assertIn('#define KOVRA_PUBLISHER_KEY_SHA256 ""', f.read())

        code, out, folder = configure("pinned", GOOD_PIN)
        self.assertEqual(code, 0, out)
        self.assertIn("Installer signature: required, publisher key SHA-256 " + GOOD_PIN, out)
        self.assertNotIn("NOT CHECKED", out)
        with open(os.path.join(folder, "generated", "PinnedPublisher.h")) as f:
            self.assertIn('#define KOVRA_PUBLISHER_KEY_SHA256 "%s"' % GOOD_PIN, f.read())

    def test_this_build_has_no_pin_and_its_test_build_the_test_publishers(self):
        build = os.path.dirname(BIN)
        with open(os.path.join(build, "generated", "PinnedPublisher.h")) as f:
            self.assertIn('#define KOVRA_PUBLISHER_KEY_SHA256 ""', f.read(), "the default build pins nothing")
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "keys", "test-publisher.pin")) as f:
            pin = f.read().strip()
        with open(program_path("KovraLoaderPinned.exe"), "rb") as f:
            self.assertIn(pin.encode("ascii"), f.read())
        with open(program_path("KovraLoader.exe"), "rb") as f:
            self.assertNotIn(pin.encode("ascii"), f.read())

    def test_the_loaders_link_only_known_dlls_at_start(self):
        for program in ("KovraLoader.exe", "KovraLoaderPinned.exe"):
            with self.subTest(program):
                names = static_imports(program_path(program))
                self.assertIn("kernel32.dll", names)
                self.assertEqual(sorted(set(names) - KNOWN_DLLS), [], names)
        # The parser sees the ordinary imports of a program that has them.
        self.assertIn("wininet.dll", static_imports(program_path("plant_control.exe")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
