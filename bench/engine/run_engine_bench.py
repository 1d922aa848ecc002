#!/usr/bin/env python3
"""The download engine against a bare WinINet read loop and against curl.

  bench/engine/run_engine_bench.py [--build build/i686] [--size-mib 256] [--rounds 3]

Starts a harness of its own (<build>/bench-engine), serves one file of the
given size from nginx as the download host and fetches it through the proxy
route, every contender in every round, the order rotating:

  engine       kovra-fetch.exe (HEAD, ranged GET, a stamp per chunk, events)
  loop         kovra-bench-readloop.exe: GET and 10,240-byte reads, nothing else
  loop+stamp   the same loop with the engine's per-chunk time stamp
  curl         curl through the same nginx

Throughput is the file size over the process's wall time (a Wine program's
start is included; one wineserver, warmed up first, serves the whole bench). "disk/byte" is what the process and its
children sent to storage (ru_oublock from wait4, 512-byte units) over the
file size; "cache" is the growth of WinINet's cache folder in the prefix.
Every fetched file is compared with the served one. Output goes to files
in the work folder; printing is part of the time measured, but the output
file's size is taken off the disk bytes. Nothing is timed
against a goal: the ratios are printed for people to read.
"""

import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "harness"))
import harness  # noqa: E402
FILE_TIME = 1625140800  # 2021-07-01 12:00:00 UTC


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def folder_size(path):
    total = 0
    for parent, _, names in os.walk(path):
        for name in names:
            try:
                total += os.path.getsize(os.path.join(parent, name))
            except OSError:
                pass
    return total


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def make_file(path, size):
    with open(path, "wb") as f:
        left = size
        while left:
            n = min(left, 1 << 20)
            f.write(os.urandom(n))
            left -= n
    os.utime(path, (FILE_TIME, FILE_TIME))


def run_measured(command, env, output):
    """Wall time, exit code and bytes sent to storage by the process tree.

    Output goes to a file: the C runtime under Wine writes unbuffered to a
    character device such as /dev/null, one system call per line, which
    would measure the printing instead of the download.
    """
    began = time.monotonic()
    with open(output, "wb") as out:
        process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.monotonic() - began
    process.returncode = os.waitstatus_to_exitcode(status)
    # The printed lines are not the download's writes.
    return elapsed, process.returncode, usage.ru_oublock * 512 - os.path.getsize(output)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "i686"))
    parser.add_argument("--size-mib", type=int, default=256)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    bin_dir = os.path.join(build, "bin")
    fetch = os.path.join(bin_dir, "kovra-fetch.exe")
    loop = os.path.join(bin_dir, "kovra-bench-readloop.exe")
    for program in (fetch, loop):
        if not os.path.exists(program):
            sys.exit("bench: %s is missing; build the i686 preset first" % program)
    if not shutil.which("curl"):
        sys.exit("bench: curl is missing")

    state = os.path.join(build, "bench-engine")
    instance = harness.own_instance(state)
    try:
        values = instance.values
        env = dict(os.environ)
        env.update(values)
        host = values["KOVRA_DOWNLOAD_HOST"]
        proxy = values["http_proxy"]
        cache = os.path.join(values["WINEPREFIX"], "drive_c", "users", values["KOVRA_WINE_USER"], "AppData",
                             "Local", "Microsoft", "Windows", "INetCache")

        size = args.size_mib << 20
        served = os.path.join(state, "www", "download", "bench.bin")
        print("bench: making a %d MiB file" % args.size_mib, flush=True)
        make_file(served, size)
        expected = file_digest(served)
        url = "http://%s/bench.bin" % host
        work = os.path.join(state, "work")
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)

        def target(name):
            path = os.path.join(work, name)
            for stale in (path, path + ".dul!"):
                if os.path.exists(stale):
                    os.remove(stale)
            return path

        # One wineserver (and its services) for the whole bench, started
        # before the first measured run: no contender pays for its start.
        subprocess.run(["wineserver", "-p"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        warm = os.path.join(state, "www", "download", "warm.bin")
        make_file(warm, 1 << 20)
        run_measured(["wine", loop, "http://%s/warm.bin" % host, windows_path(target("warm.bin"))], env,
                     os.path.join(work, "warm.out"))

        contenders = {
            "engine": lambda t: ["wine", fetch, url, windows_path(t)],
            "loop": lambda t: ["wine", loop, url, windows_path(t)],
            "loop+stamp": lambda t: ["wine", loop, url, windows_path(t), "stamp"],
            "curl": lambda t: ["curl", "-sS", "-x", proxy, "-o", t, url],
        }
        order = list(contenders)
        results = {name: [] for name in order}
        for round_number in range(args.rounds):
            for name in order[round_number % len(order):] + order[:round_number % len(order)]:
                path = target(name.replace("+", "-") + ".bin")
                cache_before = folder_size(cache)
                elapsed, code, written = run_measured(contenders[name](path), env, path + ".out")
                cache_growth = folder_size(cache) - cache_before
                intact = code == 0 and os.path.getsize(path) == size and file_digest(path) == expected
                results[name].append((elapsed, written, cache_growth, intact))
                print("bench: round %d %-10s %7.1f MB/s  disk/byte %.3f  cache %+d  %s"
                      % (round_number + 1, name, size / elapsed / 1e6, written / size, cache_growth,
                         "ok" if intact else "FILE DIFFERS (exit %d)" % code), flush=True)

        def median_rate(name):
            return statistics.median(size / r[0] / 1e6 for r in results[name])

        print()
        print("%d MiB through nginx as the proxy, %d rounds, medians:" % (args.size_mib, args.rounds))
        print("  %-10s %9s %10s %12s %7s" % ("", "MB/s", "disk/byte", "cache bytes", "intact"))
        for name in order:
            runs = results[name]
            print("  %-10s %9.1f %10.3f %12d %7s" % (
                name, median_rate(name), statistics.median(r[1] / size for r in runs),
                max(r[2] for r in runs), "yes" if all(r[3] for r in runs) else "NO"))
        print()
        print("  engine / loop        %.3f   (goal 0.95 or more)" % (median_rate("engine") / median_rate("loop")))
        print("  engine / loop+stamp  %.3f" % (median_rate("engine") / median_rate("loop+stamp")))
        print("  loop+stamp / loop    %.3f   (cost of the per-chunk stamp)"
              % (median_rate("loop+stamp") / median_rate("loop")))
        print("  engine / curl        %.3f" % (median_rate("engine") / median_rate("curl")))
        print("  engine disk/byte     %.3f   (goal 1.00)"
              % statistics.median(r[1] / size for r in results["engine"]))
    finally:
        instance.end()


if __name__ == "__main__":
    main()
