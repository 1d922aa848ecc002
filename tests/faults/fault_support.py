"""What the fault tests share: the real loader started under Wine against the
scripted server or nginx, the stand-in installer's record, the scripted
server's live state, snapshots of the prefix's files and a browser recorder.

The loader end-to-end tests (tests/app/loader_e2e.py) define the stand-in
installer's bytes and record; they are reused from there.
"""

import json
import os
import random
import signal
import subprocess
import sys
import time
import unittest
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "app"))

from loader_e2e import (H, INSTALLER, LOADER, STANDIN, STATS, installer_bytes, is_installer,  # noqa: E402
                        is_stats, read_record, sha256, stats_type)

__all__ = ["H", "INSTALLER", "LOADER", "STANDIN", "STATS", "installer_bytes", "is_installer", "is_stats",
           "read_record", "sha256", "stats_type", "FaultCase", "seeded_random", "soak"]

WORK = os.path.join(H.state, "faults")
TEMP_NAME = "KovraLoader.exe"


def soak():
    """KOVRA_FAULTS_SOAK=1 runs the longer variants (more cuts, more kills)."""
    return os.environ.get("KOVRA_FAULTS_SOAK", "") not in ("", "0")


def seeded_random(test_name, default_seed):
    """A random source with a fixed seed, printed so a failure can be replayed
    (KOVRA_FAULTS_SEED overrides it)."""
    seed = int(os.environ.get("KOVRA_FAULTS_SEED", default_seed))
    print("\n%s: seed %d" % (test_name, seed), flush=True)
    return random.Random(seed)


def wait_until(predicate, timeout, what, step=0.05):
    """Polls until predicate() gives a true value; fails the test after timeout."""
    deadline = time.time() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.time() > deadline:
            raise AssertionError("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(step)


def scripted_state():
    """The scripted server's answers in progress and its aborted answers."""
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    url = "http://127.0.0.1:%d/__control/state" % H.scripted_port
    with opener.open(urllib.request.Request(url, data=b"", method="POST"), timeout=10) as answer:
        return json.loads(answer.read().decode("utf-8"))


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


class FaultCase(unittest.TestCase):
    """One loader at a time, against a clean temporary folder and server state."""

    def setUp(self):
        os.makedirs(WORK, exist_ok=True)
        H.reset_scripts()
        self.loaders = []
        self.clean_temp()
        for root in (H.download_root, H.scripted_root):
            for name in os.listdir(root):
                if name.startswith("KovraInstaller"):
                    os.remove(os.path.join(root, name))
        self.record = os.path.join(WORK, "record-%s.txt" % self._testMethodName)
        if os.path.exists(self.record):
            os.remove(self.record)
        self.nginx = H.nginx_log()
        self.scripted = H.scripted_log()

    def tearDown(self):
        self.kill_loaders()
        H.reset_scripts()
        self.clean_temp()

    # --- files ----------------------------------------------------------------
    def final_path(self):
        return os.path.join(H.temp_dir, TEMP_NAME)

    def temp_path(self):
        return self.final_path() + ".dul!"

    def clean_temp(self):
        if not os.path.isdir(H.temp_dir):
            return
        for name in os.listdir(H.temp_dir):
            if name.startswith(TEMP_NAME):
                os.remove(os.path.join(H.temp_dir, name))

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def size(self, path):
        try:
            return os.path.getsize(path)
        except OSError:
            return -1

    def serve(self, data, where="scripted", name="KovraInstallerD1.exe", mtime=None):
        root = H.download_root if where == "nginx" else H.scripted_root
        path = os.path.join(root, name)
        with open(path + ".new", "wb") as f:
            f.write(data)
        if mtime is not None:
            os.utime(path + ".new", (mtime, mtime))
        # A server never sees half a file.
        os.replace(path + ".new", path)
        return path

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

    # --- the loader -----------------------------------------------------------
    def loader_env(self, scripted=True, **more):
        env = {"KOVRA_STANDIN_RECORD": H.windows_path(self.record), "KOVRA_STANDIN_EXIT": "0",
               "KOVRA_STANDIN_SECONDS": "0"}
        if scripted:
            env.update(H.proxy_to_scripted())
        env.update(more)
        return env

    def start_loader(self, scripted=True, **more):
        # The engine prints header lines nobody here reads.
        loader = subprocess.Popen(["wine", LOADER], env=H.env(**self.loader_env(scripted, **more)),
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.loaders.append(loader)
        return loader

    def run_loader(self, timeout=300, scripted=True, **more):
        loader = self.start_loader(scripted, **more)
        try:
            return loader.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill_strays()
            self.fail("the loader did not end within %d s" % timeout)

    def kill(self, loader):
        """Kills a loader at once (SIGKILL on the Windows process itself)."""
        if loader.poll() is None:
            try:
                os.kill(loader.pid, signal.SIGKILL)
            except OSError:
                pass
        loader.wait(timeout=60)

    def kill_loaders(self):
        strays = any(loader.poll() is None for loader in self.loaders)
        for loader in self.loaders:
            self.kill(loader)
        self.loaders = []
        if strays:
            self.kill_strays()

    def kill_strays(self):
        """Ends what a loader left running in this prefix: an installer (it
        runs under the loader's own name) or Wine's debugger after a crash."""
        for name in (TEMP_NAME, "winedbg.exe"):
            subprocess.run(["wine", "taskkill", "/F", "/IM", name], env=H.env(), timeout=60,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def assert_running(self, loader, what):
        self.assertIsNone(loader.poll(), "the loader ended (code %r) %s" % (loader.poll(), what))

    # --- server logs ------------------------------------------------------------
    def installer_requests(self, log, method=None):
        return [e for e in log.entries() if is_installer(e) and (method is None or e.method == method)]

    def wait_requests(self, log, count, method=None, timeout=120):
        return wait_until(lambda: len(self.installer_requests(log, method)) >= count and
                          self.installer_requests(log, method), timeout,
                          "%d %s request(s) for the installer" % (count, method or "any"))

    def stats_kinds(self, log):
        return [stats_type(e) for e in log.entries() if is_stats(e)]

    def pending(self, match):
        return [line for line in scripted_state()["pending"] if match in line]

    # --- the shell ----------------------------------------------------------------
    def record_browser(self):
        """Points Wine's browser launcher at a script that records what it is given."""
        opened = os.path.join(WORK, "opened-%s.txt" % self._testMethodName)
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
