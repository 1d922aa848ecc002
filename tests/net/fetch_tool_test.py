#!/usr/bin/env python3
"""kovra-fetch.exe under Wine, driven from outside: what it prints and
returns, a temporary file whose writes fail (a file size limit on the Wine
process), and a process killed mid-transfer whose successor fetches only the
missing bytes of the same version.
"""

import os
import resource
import shutil
import signal
import unittest

from kovra_harness import harness, installer_bytes, poll, signal_program

H = harness()
TOOL = H.program("kovra-fetch.exe")
WORK = os.path.join(H.state, "net-work", "fetch-tool")
EVENTS = ("FileName", "TotalSize", "Progress", "Message", "TextContent", "TextBody", "Completed", "Aborted",
          "result")
VERSION = 1625140800  # Thu, 01 Jul 2021 12:00:00 GMT


def data(size, seed):
    return installer_bytes(total=size, seed=b"%d" % seed)


def events(stdout):
    """The tool's event lines, without the header lines the engine prints."""
    lines = stdout.decode("utf-8", "replace").splitlines()
    return [line for line in lines if line.split(" ", 1)[0] in EVENTS]


def into_work():
    """The work folder as a target: a Windows path ending in a backslash."""
    return H.windows_path(WORK) + "\\"


def limit_file_size(limit):
    def apply():
        # Writes past the limit then fail with EFBIG instead of a signal.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return apply


class FetchTool(unittest.TestCase):
    def setUp(self):
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)

    def test_prints_every_event_and_the_result(self):
        payload = data(25000, 1)
        H.serve(payload, name="tool.bin", mtime=VERSION)
        answer = H.run(TOOL, ["http://%s/tool.bin" % H.download_host, into_work()])
        self.assertEqual(answer.returncode, 0)
        self.assertEqual(events(answer.stdout), ["FileName tool.bin", "TotalSize 25000", "Progress 10240",
                                                 "Progress 20480", "Progress 25000", "Completed", "result 0"])
        # The engine's own header lines come first.
        self.assertEqual(answer.stdout.splitlines()[0], b"HTTP/1.1 200 OK")
        with open(os.path.join(WORK, "tool.bin"), "rb") as f:
            self.assertEqual(f.read(), payload)

        again = H.run(TOOL, ["http://%s/tool.bin" % H.download_host, into_work()])
        self.assertEqual(again.returncode, 0)
        self.assertEqual(events(again.stdout), ["FileName tool.bin", "TotalSize 25000",
                                                "Message File exists, aborting", "result 0"])

        missing = H.run(TOOL, ["http://%s/missing.bin" % H.download_host, into_work()])
        self.assertEqual(missing.returncode, 1)
        self.assertEqual(events(missing.stdout), ["result -2"])

        usage = H.run(TOOL, ["only-one-argument"], timeout=60)
        self.assertEqual(usage.returncode, 2)

    def test_a_failed_write_is_not_counted_and_what_was_written_stays(self):
        payload = data(400000, 2)
        H.serve(payload, name="full.bin", mtime=VERSION)
        temp = os.path.join(WORK, "full.bin.dul!")
        # A Wine process without the limit keeps the prefix's wineserver up, so
        # the limited process does not start (and limit) one of its own.
        H.serve(data(200000, 9), "scripted", "keeper.bin", VERSION)
        is_get = lambda e: e.method == "GET" and e.path == "/full.bin"
        before = H.nginx_log()
        keeper = H.start(TOOL, ["http://127.0.0.1:%d/x/rate=40000/keeper.bin" % H.scripted_port,
                                H.windows_path(os.path.join(WORK, "keeper.bin"))])
        try:
            poll(lambda: os.path.exists(os.path.join(WORK, "keeper.bin.dul!")), 60)
            limited = H.run(TOOL, ["http://%s/full.bin" % H.download_host, into_work()],
                            preexec_fn=limit_file_size(150000))
        finally:
            signal_program(keeper, signal.SIGKILL)
            keeper.communicate()
        self.assertEqual(limited.returncode, 1)
        lines = events(limited.stdout)
        self.assertEqual(lines[-2:], ["Message Error during writing tmp file", "result -1"])
        progress = [int(line.split()[1]) for line in lines if line.startswith("Progress ")]
        self.assertEqual(progress[-1], 143360)  # the chunk that crossed the limit is not counted
        with open(temp, "rb") as f:
            kept = f.read()
        self.assertEqual(kept, payload[:143360])
        self.assertEqual([e.header("Range") for e in before.wait_for(1, match=is_get)], ["bytes=0-"])

        log = H.nginx_log()
        resumed = H.run(TOOL, ["http://%s/full.bin" % H.download_host, into_work()])
        self.assertEqual(resumed.returncode, 0)
        with open(os.path.join(WORK, "full.bin"), "rb") as f:
            self.assertEqual(f.read(), payload)
        self.assertEqual([e.header("Range") for e in log.wait_for(1, match=is_get)], ["bytes=143360-"])

    def test_a_killed_process_leaves_a_partial_file_its_successor_continues(self):
        payload = data(300000, 3)
        H.serve(payload, "scripted", "kill.bin", VERSION)
        temp = os.path.join(WORK, "kill.bin.dul!")
        H.script("/kill.bin", steps=[{"method": "GET", "stall": 102400, "hold": 60}])
        url = "http://127.0.0.1:%d/kill.bin" % H.scripted_port
        is_get = lambda e: e.method == "GET" and e.path == "/kill.bin"
        try:
            before = H.scripted_log()
            first = H.start(TOOL, [url, into_work()])
            # Ten chunks are written and stamped, then the transfer stalls:
            # kill it there.
            poll(lambda: os.path.exists(temp) and os.path.getsize(temp) == 102400 and
                 os.stat(temp).st_mtime == VERSION, 60)
            stamped = os.stat(temp).st_mtime
            signal_program(first, signal.SIGKILL)
            first.communicate()
            self.assertEqual(os.path.getsize(temp), 102400)
            # The server logs the stalled GET once it sees the connection gone.
            self.assertEqual(len(before.wait_for(1, match=is_get)), 1)

            log = H.scripted_log()
            second = H.run(TOOL, [url, into_work()])
            self.assertEqual(second.returncode, 0, second.stdout[-400:])
            with open(os.path.join(WORK, "kill.bin"), "rb") as f:
                self.assertEqual(f.read(), payload)
            progress = [int(line.split()[1]) for line in events(second.stdout) if line.startswith("Progress ")]
            self.assertEqual(progress[0], 112640)
            # The partial file carried the version's time while it was cut off.
            self.assertEqual(os.stat(os.path.join(WORK, "kill.bin")).st_mtime, stamped)
            gets = log.wait_for(1, match=is_get)
            self.assertEqual(len(gets), 1)
            self.assertEqual(gets[0].header("Range"), "bytes=102400-")
            self.assertEqual(gets[0].header("If-Range"), "Thu, 01 Jul 2021 12:00:00 GMT")
            self.assertEqual(gets[0].status, 206)
        finally:
            H.reset_scripts()


if __name__ == "__main__":
    unittest.main(verbosity=2)
