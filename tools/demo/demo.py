#!/usr/bin/env python3
"""Runs the loader end to end against local servers, as a user would see it.

  demo.py --build build/i686 [--keep]      (tools/demo.sh picks the build and the route)
  (--keep: the servers and Wine run on until the demo is interrupted)

Starts the harness's servers for a demo folder of its own (nginx answering
for the download and the statistics hosts, slowed down so the download can be
watched), serves a demo installer (the stand-in installer, which runs a few
seconds and exits), and runs KovraLoader.exe under Wine:

- with a usable $DISPLAY, the window shows on it;
- without one, on a private Xvfb display, and screenshots of the downloading
  and the installing looks are saved and named.

Then it prints the statistics requests the server received and the loader's
exit code. It exits 0 only when the loader went its whole road: the window
was seen, the installer was downloaded and run, and the run, downloaded and
finished events arrived, and the loader ended with 1.
"""

import argparse
import hashlib
import os
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "harness"))

import harness  # noqa: E402
from kovra_harness import ServerLog  # noqa: E402

INSTALLER_SIZE = 24 * 1024 * 1024
DOWNLOAD_RATE = 3 * 1024 * 1024
INSTALLER_SECONDS = 5
ROUTES = {"native": "natively", "emulated": "under emulation (qemu-i386)", "x86_64": "under the 64-bit Wine"}
EVENTS = ("qloader_run", "qloader_downloaded", "qloader_finished")


def usable_display():
    display = os.environ.get("DISPLAY")
    if not display:
        return None
    probe = subprocess.run(["xdpyinfo", "-display", display], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    return display if probe.returncode == 0 else None


def demo_installer(standin, path):
    """The stand-in installer with padding after it, so there is something to download."""
    with open(standin, "rb") as f:
        data = bytearray(f.read())
    block = hashlib.sha256(b"kovra demo").digest()
    while len(data) < INSTALLER_SIZE:
        block = hashlib.sha256(block).digest()
        data += block * 64
    with open(path, "wb") as f:
        f.write(data[:INSTALLER_SIZE])


class Demo:
    def __init__(self, build):
        self.build = os.path.abspath(build)
        self.bin = os.path.join(self.build, "bin")
        self.state = os.path.join(self.build, "demo", "harness")
        self.shots = os.path.join(self.build, "demo", "screenshots")

    def start_servers(self):
        # This process holds the harness's instance; what it started ends with stop_servers.
        try:
            self.instance = harness.own_instance(self.state, os.path.join(self.bin, "window_probe.exe"), DOWNLOAD_RATE)
        except (harness.HarnessError, OSError, subprocess.SubprocessError) as error:
            print("demo: stopped: the servers and Wine could not be started: %s" % error)
            sys.exit(1)
        self.values = self.instance.values
        demo_installer(os.path.join(self.bin, "kovra-standin-installer.exe"),
                       os.path.join(self.state, "www", "download", "KovraInstallerD1.exe"))

    def stop_servers(self):
        self.instance.end()

    def env(self, display):
        env = dict(os.environ)
        env.update(self.values)
        if display:
            env["DISPLAY"] = display
        env["KOVRA_STANDIN_SECONDS"] = str(INSTALLER_SECONDS)
        env["KOVRA_STANDIN_EXIT"] = "0"
        env["KOVRA_STANDIN_RECORD"] = "Z:" + os.path.join(self.build, "demo", "installer-run.txt").replace("/", "\\")
        return env

    def probe(self, env, *args):
        result = subprocess.run(["wine", os.path.join(self.bin, "window_probe.exe")] + list(args), env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
        values = {}
        for line in result.stdout.decode("utf-8", "replace").splitlines():
            key, _, value = line.partition("=")
            values[key] = value.strip()
        return result.returncode, values

    def screenshot(self, env, hwnd, name):
        _, info = self.probe(env, "info", hwnd)
        if info.get("exists") != "1":
            return None
        left, top, right, bottom = (int(v) for v in info["rect"].split(","))
        path = os.path.join(self.shots, name)
        subprocess.run(["import", "-display", env["DISPLAY"], "-window", "root", "-crop",
                        "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage", path],
                       check=True, stderr=subprocess.DEVNULL)
        return path, info.get("text", "")

    def run(self):
        display = usable_display()
        env = self.env(display)
        record = env["KOVRA_STANDIN_RECORD"][2:].replace("\\", "/")
        if os.path.exists(record):
            os.remove(record)
        for name in os.listdir(self.values["KOVRA_TEMP_DIR"]):
            if name.startswith("KovraLoader"):
                os.remove(os.path.join(self.values["KOVRA_TEMP_DIR"], name))
        stats = ServerLog(os.path.join(self.state, "nginx", "access.log"))

        where = "on display %s" % display if display else "on a private Xvfb display %s" % env["DISPLAY"]
        build = os.path.basename(self.build)
        route = ROUTES.get(os.environ.get("KOVRA_ROUTE", "native"), "")
        print("demo: running the %s KovraLoader.exe %s, %s" % (build, route, where))
        print("demo: installer %d MB served at %d MB/s by nginx as http://%s/KovraInstallerD1.exe"
              % (INSTALLER_SIZE // 2**20, DOWNLOAD_RATE // 2**20, self.values["KOVRA_DOWNLOAD_HOST"]))
        loader = subprocess.Popen(["wine", os.path.join(self.bin, "KovraLoader.exe")], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.makedirs(self.shots, exist_ok=True)
        seen, saved = self.watch(env, loader, record, screenshots=not display)
        code = loader.wait(timeout=600)

        print("demo: statistics requests received by http://%s:" % self.values["KOVRA_STATS_HOST"])
        events = []
        for entry in stats.entries():
            if "/update/2/version.txt" in entry.target:
                print("  %s %s -> %d" % (entry.method, entry.path, entry.status))
                events += [event for event in EVENTS if "type=" + event in entry.path]
        print("demo: installer requests:")
        for entry in stats.entries():
            if entry.path == "/KovraInstallerD1.exe":
                print("  %s %s Range: %s -> %d, %d bytes" % (entry.method, entry.path, entry.header("Range") or "-",
                                                            entry.status, entry.sent))
        installed = os.path.exists(record)
        if installed:
            with open(record, encoding="utf-8") as f:
                lines = dict(line.rstrip("\n").partition("=")[::2] for line in f if "=" in line)
            print("demo: the installer ran as %s with %r in %s" % (lines.get("exe"), lines.get("cmdline"),
                                                                  lines.get("cwd")))
        for path, text in saved:
            print("demo: screenshot %s (window text: %s)" % (path, text or "(none)"))
        print("demo: KovraLoader.exe exit code: %d" % code)

        missing = [] if seen else ["the window was not seen"]
        if not installed:
            missing.append("the installer did not run")
        missing += ["no %s event" % event for event in EVENTS if event not in events]
        if code != 1:
            missing.append("the loader ended with %d, not 1" % code)
        if missing:
            print("demo: FAILED: %s" % "; ".join(missing))
            return False
        print("demo: the loader went its whole road")
        return True

    def watch(self, env, loader, record, screenshots):
        """Waits for the window; without a display of the user's, saves a
        screenshot of each look. Whether the window was seen, and the shots."""
        saved = []
        code, values = self.probe(env, "find", "60000")
        if code != 0 or "hwnd" not in values:
            print("demo: the window did not appear")
            return False, saved
        print("demo: the window appeared")
        if not screenshots:
            return True, saved
        hwnd = values["hwnd"]
        # Downloading: once a good part has come.
        deadline = time.time() + 120
        while time.time() < deadline and loader.poll() is None:
            _, info = self.probe(env, "info", hwnd)
            percent = info.get("text", "").rpartition(" - ")[2].rstrip("%")
            if percent.isdigit() and int(percent) >= 40:
                shot = self.screenshot(env, hwnd, "downloading.png")
                if shot:
                    saved.append(shot)
                break
            time.sleep(0.2)
        # Installing: while the demo installer runs.
        while time.time() < deadline and loader.poll() is None and not os.path.exists(record):
            time.sleep(0.2)
        time.sleep(1.5)
        shot = self.screenshot(env, hwnd, "installing.png")
        if shot:
            saved.append(shot)
        return True, saved


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "i686"))
    parser.add_argument("--keep", action="store_true", help="the servers run on until the demo is interrupted")
    args = parser.parse_args()
    demo = Demo(args.build)
    demo.start_servers()
    went = False
    try:
        went = demo.run()
        if args.keep:
            print("demo: the servers and Wine run on until this is interrupted (Ctrl-C)", flush=True)
            signal.pause()
    except KeyboardInterrupt:
        pass
    finally:
        demo.stop_servers()
    sys.exit(0 if went else 1)


if __name__ == "__main__":
    main()
