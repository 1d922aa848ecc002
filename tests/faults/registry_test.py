#!/usr/bin/env python3
"""The real loader with a hostile registry: its key impossible to write, or
its "GUID" value of every wrong type and of 64 KiB. Every statistics request
must carry an identifier, the same one throughout a run, and the job must
run to its end.

The states are made by registry_fault.exe in the real registry of the Wine
prefix. What Wine 8 enforces, as measured here: a lasting key cannot be
created under a volatile one (1021), a key whose list denies writing cannot
be opened for writing (5), a link to a place that cannot exist cannot be
opened (2). A list denying the creation of subkeys on the parent is not
enforced by Wine, so it is not among the cases. Wine 10 answers the link's
opening with 2 too, but its RegCreateKeyExW through such a link overflows
the calling process's stack (measured with a probe, i686 and x86_64), where
Windows answers 2: there every program that opens the key so crashes, and
the link state is left out, which the test says.
"""

import re
import subprocess
import unittest
import urllib.parse

from kovra_harness import STATS, FaultCase, harness, installer_bytes, program_constant, remove

H = harness()

FRESH_ID = re.compile(r"^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$")
REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7
# One piece of the statistics query ("GUID=" and the identifier) is cut at
# the program's longest piece.
ID_PIECE = program_constant("stats/StatsUrl.h", "kMaxStatsPiece") - len("GUID=")


class RegistryFaults(FaultCase):
    def setUp(self):
        super().setUp()
        self.data = installer_bytes(20000)
        self.serve(self.data, where="nginx")
        self.addCleanup(self.registry, "reset")

    def registry(self, *args):
        result = subprocess.run(["wine", H.program("registry_fault.exe")] + list(args), env=H.env(),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        text = result.stdout.decode("utf-8", "replace").strip()
        self.assertEqual(result.returncode, 0, "registry_fault %s: %s" % (" ".join(args), text))
        return text

    def run_and_read_ids(self):
        """Runs the loader to its end; the identifier of each event."""
        log = H.nginx_log()
        remove(self.record)
        self.assertEqual(self.run_loader(timeout=120, scripted=False), 1, "the job runs to its end")
        self.assert_installed(self.data)
        events = log.wait_for(3, match=lambda e: e.path.startswith(STATS), timeout=30)
        ids = []
        for entry in events:
            query = urllib.parse.parse_qs(entry.path.split("?", 1)[1], keep_blank_values=True)
            self.assertIn("GUID", query, "an event without an identifier: %s" % entry.path)
            ids.append(query["GUID"][0])
        self.assertEqual(len(ids), 3, "run, downloaded, finished")
        self.assertEqual(len(set(ids)), 1, "one identifier throughout a run: %r" % ids)
        self.assertNotEqual(ids[0], "", "an empty identifier")
        return ids[0]

    def test_key_not_writable(self):
        """A fresh identifier is sent each run; nothing can be stored."""
        for state in ("volatile-parent", "deny-key", "link"):
            with self.subTest(state=state):
                self.registry("reset")
                self.registry(state)
                # The opening may crash its process: no debugger to wait on then.
                # The crash is a stack overflow, which takes minutes under
                # emulation beside other tests; the time-out bounds a hang.
                opened = subprocess.run(["wine", H.program("registry_fault.exe"), "open"],
                                        env=H.env(WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"),
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
                said = opened.stdout.decode("utf-8", "replace").strip()
                if state == "link" and opened.returncode != 0 and not said.startswith("open "):
                    print("link: opening the key as the loader does crashed the process (%d): this Wine "
                          "cannot follow such a link, so the state is left out" % opened.returncode, flush=True)
                    continue
                self.assertEqual(opened.returncode, 0, said)
                self.assertNotEqual(said, "open 0", "the key can still be written")
                first = self.run_and_read_ids()
                second = self.run_and_read_ids()
                self.assertRegex(first, FRESH_ID)
                self.assertRegex(second, FRESH_ID)
                self.assertNotEqual(first, second, "nothing was stored, so each run makes its own")
                print("%s: sent %s, then %s" % (state, first, second), flush=True)
                self.assertTrue(self.registry("show").startswith("missing"))

    def test_value_of_every_wrong_type_and_size(self):
        """Values that cannot be an identifier are replaced by a fresh one;
        text values are sent as they are (cut to the query's piece)."""
        cases = [
            (0, "zero", 0, None),                       # REG_NONE, empty
            (REG_SZ, "text", 0, None),                  # no bytes at all
            (REG_SZ, "text", 2, None),                  # only the NUL
            (REG_SZ, "letters", 7, None),               # odd size
            (REG_SZ, "letters", 200, None),             # no NUL at the end
            (REG_SZ, "letters", 65536, None),           # 64 KiB, no NUL
            (REG_SZ, "text", 65535, None),              # 64 KiB less one: odd
            (REG_SZ, "zero", 65536, None),              # 64 KiB of NULs: empty text
            (REG_SZ, "text", 65536, "A" * 32767),       # 64 KiB of text
            (REG_EXPAND_SZ, "text", 40, "A" * 19),      # taken literally
            (REG_BINARY, "text", 64, None),
            (REG_BINARY, "zero", 65536, None),
            (REG_DWORD, "zero", 4, None),
            (5, "zero", 4, None),                       # REG_DWORD_BIG_ENDIAN
            (6, "text", 20, None),                      # REG_LINK
            (REG_MULTI_SZ, "text", 65536, None),
            (8, "zero", 16, None),                      # REG_RESOURCE_LIST
            (11, "zero", 8, None),                      # REG_QWORD
            (0x7FFF, "text", 32, None),                 # no such type
        ]
        for value_type, kind, size, kept in cases:
            with self.subTest(type=value_type, kind=kind, bytes=size):
                self.registry("reset")
                self.registry("set", str(value_type), kind, str(size))
                before = self.registry("show")
                sent = self.run_and_read_ids()
                after = self.registry("show")
                print("type %#x, %s, %d bytes: sent %s%s" % (value_type, kind, size, sent[:40],
                                                          "..." if len(sent) > 40 else ""), flush=True)
                if kept is None:
                    self.assertRegex(sent, FRESH_ID)
                    self.assertEqual(after, "type=%d bytes=%d text=%s" % (REG_SZ, 2 * (len(sent) + 1), sent),
                                     "the fresh identifier is stored over the bad value")
                else:
                    self.assertEqual(sent, kept[:ID_PIECE])
                    self.assertEqual(after, before, "a usable value is never rewritten")


if __name__ == "__main__":
    unittest.main(verbosity=2)
