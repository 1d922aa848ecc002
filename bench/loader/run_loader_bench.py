#!/usr/bin/env python3
"""The whole loader against its peers, each measured in the same run.

  bench/loader/run_loader_bench.py [--build build/i686] [--size-mib 256] [--rounds 3]

Starts a harness of its own (<build>/bench-loader) and prints:

  throughput  KovraLoader.exe downloading a SIZE MiB installer from nginx
              against kovra-fetch.exe (the engine alone) fetching the same
              file. Each program is also run on a small installer, and the
              rate is the size difference over the time difference, so what
              both pay once (Wine's start, the loader's window, its
              statistics requests and the installer's run) drops out.
  cpu         the share of one core the loader uses while its stripe bar
              animates (the installer running), against
              kovra-bench-bare-window.exe pushing a 513 x 264 layered frame
              every 32 ms; the X server's share beside each.
  start-up    the time from starting the program to its layered window being
              shown (seen by window_probe polling every millisecond), the
              loader against the bare window program.
  size        the shipping exe's size, its sections and its 20 largest
              symbols (size_report.py).

Nothing is asserted: the ratios are printed for people to read.
"""

import argparse
import hashlib
import os
import statistics
import subprocess
import sys
import time

import size_report

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "harness"))
import harness  # noqa: E402
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def padded_installer(standin, size, path):
    with open(standin, "rb") as f:
        data = f.read()
    with open(path, "wb") as f:
        f.write(data)
        left = size - len(data)
        block = hashlib.sha256(b"bench").digest() * 32768  # 1 MiB
        while left > 0:
            f.write(block[:left])
            left -= len(block)


def linux_pid(program, prefix, timeout=30):
    """The Linux process that runs the Windows program at path program in the
    Wine prefix prefix (other builds on the machine may run one of the same
    name)."""
    wanted = os.path.realpath(program)
    deadline = time.time() + timeout
    while time.time() < deadline:
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    command = f.read().split(b"\0")[0].decode("utf-8", "replace")
                with open("/proc/%s/environ" % pid, "rb") as f:
                    environment = f.read().split(b"\0")
            except OSError:
                continue
            # The program's own process (not the "wine" that started it), by
            # its Unix path or its Z: drive path.
            command = command.replace("\\", "/")
            if command[:2].lower() == "z:":
                command = command[2:]
            if command != wanted:
                continue
            if ("WINEPREFIX=" + prefix).encode() in environment:
                return int(pid)
        time.sleep(0.05)
    return None


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def core_share(pid, xvfb, seconds):
    began, x_began, t0 = cpu_seconds(pid), cpu_seconds(xvfb), time.monotonic()
    time.sleep(seconds)
    elapsed = time.monotonic() - t0
    return (cpu_seconds(pid) - began) / elapsed, (cpu_seconds(xvfb) - x_began) / elapsed


class Bench:
    def __init__(self, build):
        self.bin = os.path.join(build, "bin")
        self.state = os.path.join(build, "bench-loader")
        self.instance = harness.own_instance(self.state)
        self.values = self.instance.values
        self.xvfb = int(self.values["KOVRA_XVFB_PID"])
        self.env = dict(os.environ)
        self.env.update(self.values)
        self.installer = os.path.join(self.state, "www", "download", "KovraInstallerD1.exe")
        self.url = "http://%s/KovraInstallerD1.exe" % self.values["KOVRA_DOWNLOAD_HOST"]
        self.work = os.path.join(self.state, "work")
        os.makedirs(self.work, exist_ok=True)

    def stop(self):
        self.instance.end()

    def program(self, name):
        return os.path.join(self.bin, name)

    def clean_temp(self):
        for name in os.listdir(self.values["KOVRA_TEMP_DIR"]):
            if name.startswith("KovraLoader"):
                os.remove(os.path.join(self.values["KOVRA_TEMP_DIR"], name))
        for name in os.listdir(self.work):
            os.remove(os.path.join(self.work, name))

    def timed(self, command, env=None):
        self.clean_temp()
        began = time.monotonic()
        with open(os.path.join(self.state, "bench.out"), "wb") as out:
            code = subprocess.run(command, env=env or self.env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.STDOUT).returncode
        return time.monotonic() - began, code

    def throughput(self, size, rounds):
        standin = self.program("kovra-standin-installer.exe")
        small = os.path.getsize(standin)
        target = "Z:" + os.path.join(self.work, "fetched.exe").replace("/", "\\")
        times = {("loader", "big"): [], ("loader", "small"): [], ("engine", "big"): [], ("engine", "small"): []}
        commands = {"loader": ["wine", self.program("KovraLoader.exe")],
                    "engine": ["wine", self.program("kovra-fetch.exe"), self.url, target]}
        for round_number in range(rounds):
            for which, bytes_ in (("big", size), ("small", small)):
                padded_installer(standin, bytes_, self.installer)
                for name in (("loader", "engine") if round_number % 2 == 0 else ("engine", "loader")):
                    elapsed, code = self.timed(commands[name])
                    expected = 1 if name == "loader" else 0
                    print("bench: round %d %-6s %-5s %6.2f s%s" % (round_number + 1, name, which, elapsed,
                                                                    "" if code == expected else " (exit %d!)" % code),
                          flush=True)
                    times[(name, which)].append(elapsed)

        def rate(name):
            span = statistics.median(times[(name, "big")]) - statistics.median(times[(name, "small")])
            return (size - small) / span / 1e6

        return rate("loader"), rate("engine")

    def animation_cpu(self, seconds):
        padded_installer(self.program("kovra-standin-installer.exe"), 0, self.installer)
        self.clean_temp()
        record = os.path.join(self.work, "installer-run.txt")
        env = dict(self.env, KOVRA_STANDIN_SECONDS=str(seconds + 6),
                   KOVRA_STANDIN_RECORD="Z:" + record.replace("/", "\\"))
        loader = subprocess.Popen(["wine", self.program("KovraLoader.exe")], env=env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 60
        while not os.path.exists(record) and time.time() < deadline:
            time.sleep(0.1)
        time.sleep(1.5)
        loader_share = core_share(linux_pid(self.program("KovraLoader.exe"), self.values["WINEPREFIX"]), self.xvfb,
                                  seconds)
        loader.wait(timeout=120)

        bare = subprocess.Popen(["wine", self.program("kovra-bench-bare-window.exe"), "animate", str(seconds + 4)],
                                env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        pid = linux_pid(self.program("kovra-bench-bare-window.exe"), self.values["WINEPREFIX"])
        time.sleep(1.5)
        bare_share = core_share(pid, self.xvfb, seconds)
        bare.wait(timeout=60)
        return loader_share, bare_share

    def start_up(self, rounds):
        padded_installer(self.program("kovra-standin-installer.exe"), 0, self.installer)
        results = {"loader": [], "bare": []}
        commands = {"loader": ["wine", self.program("KovraLoader.exe")],
                    "bare": ["wine", self.program("kovra-bench-bare-window.exe"), "show", "2"]}
        for round_number in range(rounds):
            for name in ("loader", "bare") if round_number % 2 == 0 else ("bare", "loader"):
                self.clean_temp()
                probe = subprocess.Popen(["wine", self.program("window_probe.exe"), "first-visible", "60000"],
                                         env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                         stderr=subprocess.DEVNULL)
                probe.stdout.readline()  # ready: polling
                began = time.time()
                program = subprocess.Popen(commands[name], env=self.env, stdin=subprocess.DEVNULL,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                line = probe.stdout.readline().decode().strip()
                probe.wait(timeout=60)
                shown = int(line.partition("=")[2]) / 1000 if line.startswith("visible=") else float("nan")
                results[name].append(shown - began)
                program.wait(timeout=120)
                print("bench: start-up round %d %-6s %.3f s" % (round_number + 1, name, shown - began), flush=True)
        return statistics.median(results["loader"]), statistics.median(results["bare"])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "i686"))
    parser.add_argument("--size-mib", type=int, default=256)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--cpu-seconds", type=int, default=8)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    for name in ("KovraLoader.exe", "KovraLoader-symbols.exe", "kovra-fetch.exe", "kovra-bench-bare-window.exe",
                 "window_probe.exe", "kovra-standin-installer.exe"):
        if not os.path.exists(os.path.join(build, "bin", name)):
            sys.exit("bench: %s is missing; build the i686 preset first" % name)

    bench = Bench(build)
    try:
        # A first run starts Wine's services; no contender pays for that.
        bench.start_up(1)
        loader_rate, engine_rate = bench.throughput(args.size_mib << 20, args.rounds)
        (loader_cpu, loader_x), (bare_cpu, bare_x) = bench.animation_cpu(args.cpu_seconds)
        loader_start, bare_start = bench.start_up(max(args.rounds, 5))
    finally:
        bench.stop()

    print()
    print("throughput  loader %.1f MB/s, engine alone %.1f MB/s: loader / engine %.3f (goal 0.95 or more)"
          % (loader_rate, engine_rate, loader_rate / engine_rate))
    print("cpu         stripe animation: loader %.1f %% of a core (X server %.1f %%), bare window %.1f %% "
          "(X server %.1f %%): loader / bare %.2f (goal 1.3 or less)"
          % (loader_cpu * 100, loader_x * 100, bare_cpu * 100, bare_x * 100, loader_cpu / bare_cpu))
    print("start-up    window shown after: loader %.3f s, bare window %.3f s: loader / bare %.2f (goal 2 or less)"
          % (loader_start, bare_start, loader_start / bare_start))
    print("size        " + "\n".join(size_report.report(build, 20)[0]))


if __name__ == "__main__":
    main()
