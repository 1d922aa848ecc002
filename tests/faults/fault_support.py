"""What the fault tests share beyond the loader cases of the harness module
(tests/harness/kovra_harness.py): seeded random choices, the long variants,
snapshots of the prefix's files, the scripted server's live state and checks
of what a loader left or ran.
"""

import os
import random

from kovra_harness import (INSTALLER, STATS, LoaderCase, harness, installer_bytes, is_installer,  # noqa: F401
                           is_stats, read_record, sha256, stats_type, wait_until)

H = harness()
LOADER = H.program("KovraLoader.exe")
STANDIN = H.program("kovra-standin-installer.exe")


def soak():
    """KOVRA_FAULTS_SOAK=1 runs the longer variants (more cuts, more kills)."""
    return os.environ.get("KOVRA_FAULTS_SOAK", "") not in ("", "0")


def seeded_random(test_name, default_seed):
    """A random source with a fixed seed, printed so a failure can be replayed
    (KOVRA_FAULTS_SEED overrides it)."""
    seed = int(os.environ.get("KOVRA_FAULTS_SEED", default_seed))
    print("\n%s: seed %d" % (test_name, seed), flush=True)
    return random.Random(seed)


def snapshot(root):
    """Every file under root with its size and modification time."""
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            try:
                status = os.lstat(path)
            except OSError:
                continue
            files[os.path.relpath(path, root)] = (status.st_size, status.st_mtime_ns)
    return files


def changed_files(before, after):
    """Paths created or changed between two snapshots (removed ones too)."""
    return sorted(p for p in set(before) | set(after) if before.get(p) != after.get(p))


class FaultCase(LoaderCase):
    """The loader against the scripted server unless told otherwise."""

    server = "scripted"

    def temp_path(self):
        return self.final_path() + ".dul!"

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def size(self, path):
        try:
            return os.path.getsize(path)
        except OSError:
            return -1

    def assert_prefix_of(self, path, data, what):
        """A temporary file holds a clean beginning of the server's file."""
        if not os.path.exists(path):
            return 0
        have = self.read(path)
        self.assertLessEqual(len(have), len(data), "%s: longer than the server's file" % what)
        self.assertTrue(have == data[:len(have)],
                        "%s: its %d bytes differ from the server's at %d" % (what, len(have), first_difference(have, data)))
        return len(have)

    def assert_installed(self, data, runs=1):
        """The installer ran (runs times) and was exactly the server's file."""
        record = read_record(self.record)
        self.assertEqual(len(record), runs, "installer starts: %r" % record)
        for run in record:
            self.assertEqual(run["sha256"], sha256(data), "the installer that ran is not the server's file")
        left = [n for n in os.listdir(H.temp_dir) if n.endswith(".dul!")]
        self.assertEqual(left, [], "a .dul! file is left after success")
        self.assertFalse(os.path.exists(self.final_path()), "the installer is deleted after it ran")

    def assert_running(self, loader, what):
        self.assertIsNone(loader.poll(), "the loader ended (code %r) %s" % (loader.poll(), what))

    # --- server logs ------------------------------------------------------------
    def installer_requests(self, log, method=None):
        return [e for e in log.entries() if is_installer(e) and (method is None or e.method == method)]

    def pending(self, match):
        return [line for line in H.scripted_state()["pending"] if match in line]

    # --- the shell ----------------------------------------------------------------
    def record_browser(self):
        """Points Wine's browser launcher at a script that records what it is given."""
        opened = os.path.join(self.work, "opened-%s.txt" % self._testMethodName)
        self.addCleanup(H.record_browser(opened))
        return opened

    def opened(self, path):
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return f.read().split()


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))
