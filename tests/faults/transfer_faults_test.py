#!/usr/bin/env python3
"""The real loader's download under transfer faults: connection cuts, the
loader killed and started again, the server's file replaced by a new version.

Each test ends by comparing the SHA-256 of the installer that ran (the
stand-in installer's record) with the server's file.

Random choices use a fixed seed that is printed; KOVRA_FAULTS_SEED=N replays
another. KOVRA_FAULTS_SOAK=1 runs the long variants: 100 cuts instead of 20
and five rounds of kills instead of one.
"""

import os
import signal
import socket
import time
import unittest

from kovra_harness import (INSTALLER, FaultCase, harness, installer_bytes, program_constant, program_pids, read_record,
                           remove, seeded_random, signal_program, soak, wait_until)

H = harness()

MiB = 1024 * 1024
# What the loader asks WinINet for in one read.
READ_BYTES = program_constant("net/HttpDownloader.h", "kChunkBytes")


def range_start(entry):
    value = entry.header("Range") or ""
    if not value.startswith("bytes=") or not value.endswith("-"):
        raise AssertionError("not an open range from an offset: %r" % value)
    return int(value[6:-1])


class ConnectionCuts(FaultCase):
    def test_cuts_at_random_offsets_during_one_64_mib_download(self):
        """Every cut of the connection costs at most what was lost in flight.

        A normal close (cut=) delivers every byte the server wrote, so the
        next GET must start exactly where the cut answer ended: no byte is
        sent twice. An abortive close (reset=, TCP RST) throws away what the
        server's kernel still held unacknowledged (the server reports that
        amount), and the read that meets the reset fails: the loader takes
        a failed read as zero bytes, so the bytes WinINet had already taken
        from the socket for it are lost too, less than one 10,240-byte read.
        So the next GET starts at most unacknowledged + 10,239 bytes before
        the end of the reset answer, or, when the reset reaches the loader
        before WinINet has read the answer's headers, the request fails and
        none of that answer is kept (the next GET starts where it started).
        The bytes the server sent in all, less the file size, are bounded by
        the sum of those per-cut amounts.
        """
        data = installer_bytes(total=64 * MiB)
        self.assertEqual(len(data), 64 * MiB)
        self.serve(data, mtime=1700000000)
        cuts = 100 if soak() else 20
        rng = seeded_random("cuts", 20240611)
        points = sorted(rng.sample(range(1, len(data)), cuts))
        kinds = ["cut" if i % 2 == 0 else "reset" for i in range(cuts)]
        print("cut offsets: %s" % ", ".join("%s@%d" % pair for pair in zip(kinds, points)), flush=True)

        # Each cut is followed by a redirect to a mirror that refuses
        # connections: a HEAD not sent restarts the pauses at 1 s. Without
        # it, twenty failures in a row would wait out pauses of 1, 2, 4 ...
        # 64 s (about 16 minutes). The mirror's port is held by a socket that
        # does not listen, so no server of a test beside this one takes it.
        held = socket.socket()
        held.bind(("127.0.0.1", 0))
        self.addCleanup(held.close)
        mirror = "http://127.0.0.1:%d/KovraInstallerD1.exe" % held.getsockname()[1]
        steps = []
        previous = 0
        for kind, point in zip(kinds, points):
            steps += [{"method": "HEAD"}, {"method": "GET", kind: point - previous},
                      {"method": "HEAD", "status": 302, "location": mirror}]
            previous = point
        H.script(INSTALLER, steps=steps)

        began = time.time()
        self.assertEqual(self.run_loader(timeout=900), 1)
        elapsed = time.time() - began

        gets = self.installer_requests(self.scripted, "GET")
        self.assertEqual(len(gets), cuts + 1, "one GET per cut and one that completes")
        resets = [r for r in H.scripted_state()["resets"] if "KovraInstallerD1.exe" in r["request"]]
        self.assertEqual(len(resets), kinds.count("reset"))
        starts = [range_start(g) for g in gets]
        self.assertEqual(starts[0], 0)

        lost_bound = 0
        resent = 0
        whole_answers_lost = 0
        reset_records = iter(resets)
        for i, kind in enumerate(kinds):
            get, received = gets[i], starts[i + 1] - starts[i]
            self.assertEqual(get.status, 206)
            if starts[i] > 0:
                self.assertIsNotNone(get.header("If-Range"), "a resumed GET names the version it continues")
            if kind == "cut":
                self.assertEqual(received, get.sent,
                                 "cut %d: %d bytes written before a normal close, %d kept" % (i, get.sent, received))
            else:
                record = next(reset_records)
                self.assertEqual(record["range"], get.header("Range"))
                self.assertEqual(record["written"], get.sent)
                self.assertLessEqual(received, get.sent, "cut %d: more kept than the server wrote" % i)
                bound = record["unacked"] + READ_BYTES - 1
                if received == 0:
                    # Reset before the headers were taken: the whole answer.
                    bound = get.sent
                    whole_answers_lost += 1
                self.assertGreaterEqual(received, get.sent - bound,
                                        "cut %d: %d bytes written, %d unacknowledged at the reset, only %d kept"
                                        % (i, get.sent, record["unacked"], received))
                lost_bound += bound
            resent += get.sent - received
        last = gets[-1]
        self.assertEqual(last.sent, len(data) - starts[-1], "the last GET sends exactly the rest")

        total_sent = sum(g.sent for g in gets)
        print("64 MiB through %d cuts in %.1f s: the server sent %d bytes, %d more than the file "
              "(bound: %d lost in flight at the resets; %d reset before the headers were read)"
              % (cuts, elapsed, total_sent, total_sent - len(data), lost_bound, whole_answers_lost), flush=True)
        self.assertEqual(total_sent - len(data), resent)
        self.assertLessEqual(total_sent - len(data), lost_bound)
        self.assert_installed(data)
        self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:0"])



    def test_cuts_where_only_an_etag_names_the_version(self):
        """Four cuts of a 3.2 MB download from a server that gives no
        Last-Modified, only a strong ETag, with its HEAD answered or refused:
        each attempt continues where the last stopped, naming the tag, and
        the server sends the file once in all."""
        data = installer_bytes(total=3200000)
        held = socket.socket()
        held.bind(("127.0.0.1", 0))
        self.addCleanup(held.close)
        mirror = "http://127.0.0.1:%d/KovraInstallerD1.exe" % held.getsockname()[1]
        points = [700000, 1400000, 2100000, 2800000]
        for road in ({}, {"refusehead": 405}):
            with self.subTest(head="refused" if road else "answered"):
                self.setUp()
                self.serve(data)
                # As in the test above, a HEAD not sent after each cut keeps the pauses at 1 s.
                steps = [step for start, end in zip([0] + points, points)
                         for step in ({"method": "HEAD"}, {"method": "GET", "cut": end - start},
                                      {"method": "HEAD", "status": 302, "location": mirror})]
                H.script(INSTALLER, steps=steps, default=dict(road, lm="none", etag='"v-3200000"'))
                self.assertEqual(self.run_loader(timeout=300), 1)
                gets = self.installer_requests(self.scripted, "GET")
                self.assertEqual([(range_start(g), g.header("If-Range")) for g in gets],
                                 [(0, None)] + [(p, '"v-3200000"') for p in points])
                self.assertEqual(sum(g.sent for g in gets), len(data), "the file once in all")
                self.assert_installed(data)


class KilledAndStartedAgain(FaultCase):
    def test_killed_at_every_stage_then_started_again(self):
        """The loader killed during the HEAD, twice during the GET, with the
        whole file on disk just before the rename and just after it; each
        start continues from what the last one left, never fetching a byte
        twice, and the last one runs exactly the server's file."""
        rounds = 5 if soak() else 1
        rng = seeded_random("kills", 20240612)
        for round_number in range(rounds):
            self.clean_temp()
            # A whole number of the loader's reads: the GETs start at multiples
            # of them, so the rest of the file fills whole reads too, and the
            # read that waits in vain for more holds none of it back (see 4.).
            data = installer_bytes(total=820 * READ_BYTES, seed=b"kill-%d" % round_number)
            self.version_time = 1700000000 + round_number
            self.serve(data, mtime=self.version_time)
            self.kill_round(data, rng)
            remove(self.record)

    def check_left(self, data, what):
        """After a kill: a clean beginning of the file, or the whole file."""
        have = self.assert_prefix_of(self.temp_path(), data, what + ": the .dul! file")
        if os.path.exists(self.final_path()):
            self.assertEqual(self.read(self.final_path()), data, what + ": the final file")
        return have

    def kill_stamped(self, loader):
        """Kills the loader between a stamp of its .dul! file and the next
        write. Under Wine every write moves the file's time until the loader
        stamps the version's time again a moment later (on NTFS a handle's
        own stamp holds), so the loader is frozen, and looked at once all its
        threads have stopped."""
        def stopped(pids):
            return all(open("/proc/%d/task/%s/stat" % (pid, task)).read().rpartition(")")[2].split()[0] in "tT"
                       for pid in pids for task in os.listdir("/proc/%d/task" % pid))

        def frozen_when_stamped():
            pids = program_pids(loader)
            signal_program(loader, signal.SIGSTOP)
            wait_until(lambda: stopped(pids), 30, "the loader to stop")
            try:
                if int(os.stat(self.temp_path()).st_mtime) == self.version_time:
                    return True
            except FileNotFoundError:
                return True  # no .dul! file: no time to keep
            signal_program(loader, signal.SIGCONT)
            return False
        wait_until(frozen_when_stamped, 60, "the loader frozen with its file stamped", 0.001)
        self.kill(loader)

    def run_until(self, data, moment, what, frozen=False):
        """Starts a loader, waits for the moment, kills it there; returns
        the requests it made and what it left. frozen: a moment that passes
        at once, which the loader is stopped at as soon as it comes."""
        log = H.scripted_log()
        loader = self.start_loader()
        if frozen:
            self.freeze_when(loader, lambda: moment(loader), 120, what)
            self.kill(loader)
        else:
            wait_until(lambda: moment(loader), 120, what)
            self.assert_running(loader, what)
            self.kill_stamped(loader)
        # A held answer is logged once the server notices the loader is gone.
        wait_until(lambda: not H.scripted_state()["pending"], 30, "the server to let go of the killed loader")
        have = self.check_left(data, what)
        requests = self.installer_requests(log)
        print("%s: %s, %d bytes left" % (what, " ".join(e.method for e in requests), have), flush=True)
        return requests, have

    def kill_round(self, data, rng):
        size = len(data)

        # 1. During the HEAD: the server has it and says nothing yet.
        H.script(INSTALLER, steps=[{"method": "HEAD", "silent": True, "hold": 60}])
        pause = rng.uniform(0, 2)

        def head_pending(loader):
            if not self.pending("HEAD"):
                return False
            time.sleep(pause)
            return True
        requests, have = self.run_until(data, head_pending, "killed during the HEAD")
        self.assertEqual(have, 0)
        self.assertFalse(os.path.exists(self.temp_path()), "nothing is created before the HEAD is answered")

        # 2, 3. During the GET, at random sizes.
        expected_start = 0
        for share in (0.5, 0.9):
            target = rng.randint(expected_start + 10240, int(size * share))
            # The answer stalls somewhere past the target, before the end: the
            # download cannot finish between the moment and the kill.
            stall = rng.randint(target, min(target + 1000000, size - 1)) - expected_start
            H.script(INSTALLER, steps=[{"method": "GET", "rate": 2000000, "stall": stall, "hold": 60}])
            requests, have = self.run_until(data, lambda loader: self.size(self.temp_path()) >= target,
                                            "killed during the GET at %d" % target)
            gets = [e for e in requests if e.method == "GET"]
            self.assertEqual(len(gets), 1)
            self.assertEqual(range_start(gets[0]), expected_start, "the GET continues where the last run stopped")
            self.assertGreaterEqual(have, target)
            self.assertLess(have, size)
            expected_start = have

        # 4. Just before the rename: every byte is on disk, but the answer has
        # no Content-Length and its connection stays open, so the loader
        # waits for more until its 7 s receive time-out.
        H.script(INSTALLER, steps=[{"method": "GET", "length": "none", "keepopen": True, "hold": 60}])
        requests, have = self.run_until(data, lambda loader: self.size(self.temp_path()) == size,
                                        "killed with the whole file before the rename")
        self.assertEqual([range_start(e) for e in requests if e.method == "GET"], [expected_start])
        self.assertEqual(have, size)
        self.assertFalse(os.path.exists(self.final_path()))

        # 5. Just after the rename, before the launch.
        requests, have = self.run_until(data, lambda loader: os.path.exists(self.final_path()),
                                        "killed after the rename", frozen=True)
        self.assertEqual([e.method for e in requests], ["HEAD"], "a complete .dul! file needs no GET")
        self.assertFalse(os.path.exists(self.temp_path()))
        self.assertEqual(read_record(self.record), [], "the installer has not run yet")

        # 6. The last start finds the installer in place and runs it.
        H.reset_scripts()
        log = H.scripted_log()
        self.assertEqual(self.run_loader(timeout=120), 1)
        self.assertEqual([e.method for e in self.installer_requests(log)], ["HEAD"],
                         "the installer in place with the server's time and size is not fetched again")
        self.assert_installed(data)
        self.assertEqual(self.stats_kinds(log), ["run", "downloaded", "finished:0"])



class NewVersionOnServer(FaultCase):
    """The server's file replaced between two attempts or between the HEAD
    and the GET of one: the installer that runs is one version, never a mix
    of the old version's beginning and the new one's rest."""

    OLD, NEW = "KovraInstallerD1-old.exe", "KovraInstallerD1-new.exe"
    CUT = 1500000

    def versions(self, new_size):
        old = installer_bytes(total=4000000, seed=b"old version")
        new = installer_bytes(total=new_size, seed=b"new version")
        self.serve(old, name=self.OLD, mtime=1700000000)
        self.serve(new, name=self.NEW, mtime=1700086400)
        return old, new

    def run_versions(self, steps, new):
        H.script(INSTALLER, steps=steps, default={"file": self.NEW})
        self.assertEqual(self.run_loader(timeout=120), 1)
        self.assert_installed(new)
        return self.installer_requests(self.scripted, "GET")

    def test_replaced_between_two_attempts_or_between_the_head_and_the_get(self):
        """Between two attempts the part of the old version is not continued:
        the next attempt starts over. Between the HEAD and the GET, the GET
        names the version it continues (If-Range), and a server that has
        another one by then sends that one whole."""
        old_part = [{"method": "HEAD", "file": self.OLD}, {"method": "GET", "file": self.OLD, "cut": self.CUT}]
        for between, steps, second_get in (("attempts", old_part, (0, 206)),
                                           ("HEAD and GET", old_part + [{"method": "HEAD", "file": self.OLD}],
                                            (self.CUT, 200))):
            for new_size in (6000000, 2000000, 4000000):
                with self.subTest(between=between, new_size=new_size):
                    self.setUp()
                    old, new = self.versions(new_size)
                    gets = self.run_versions(steps, new)
                    self.assertEqual([(range_start(g), g.status) for g in gets], [(0, 206), second_get])
                    self.assertEqual(gets[1].sent, len(new))

    def test_server_ignoring_if_range_sends_a_part_of_the_new_version(self):
        """A 206 for the new version's rest is refused, whether the answer
        says its Last-Modified or only the new size; the next attempt starts
        the new version over."""
        for new_size, lm in ((6000000, None), (2000000, None), (4000000, None), (6000000, "none"),
                             (2000000, "none")):
            with self.subTest(new_size=new_size, last_modified=lm or "the new one"):
                self.setUp()
                old, new = self.versions(new_size)
                part = {"method": "GET", "file": self.NEW, "noifrange": True}
                if lm:
                    part["lm"] = lm
                gets = self.run_versions([{"method": "HEAD", "file": self.OLD},
                                          {"method": "GET", "file": self.OLD, "cut": self.CUT},
                                          {"method": "HEAD", "file": self.OLD}, part], new)
                self.assertEqual([range_start(g) for g in gets], [0, self.CUT, 0])

    def test_replaced_where_the_head_is_refused_or_only_an_etag_names_the_version(self):
        """The same three cases where the HEAD is refused (the GET alone
        names the version, If-Range with the date the part holds) and where
        only a strong ETag names the version (no Last-Modified)."""
        refused = {"refusehead": 403}
        old_tag, new_tag = {"lm": "none", "etag": '"old"'}, {"lm": "none", "etag": '"new"'}
        rows = [
            ("HEAD refused, replaced between two attempts", refused,
             [{"method": "GET", "file": self.OLD, "cut": self.CUT}], [(0, 206), (self.CUT, 200)]),
            ("HEAD refused, the new version's part sent for the old one's rest", refused,
             [{"method": "GET", "file": self.OLD, "cut": self.CUT}, {"method": "GET", "noifrange": True}],
             [(0, 206), (self.CUT, 206), (0, 206)]),
            ("ETag only, replaced between the HEAD and the GET", new_tag,
             [dict(old_tag, method="HEAD", file=self.OLD), dict(old_tag, method="GET", file=self.OLD, cut=self.CUT),
              dict(old_tag, method="HEAD", file=self.OLD)], [(0, 206), (self.CUT, 200)]),
            ("ETag only, the new version's part sent for the old one's rest", new_tag,
             [dict(old_tag, method="HEAD", file=self.OLD), dict(old_tag, method="GET", file=self.OLD, cut=self.CUT),
              dict(old_tag, method="HEAD", file=self.OLD), {"method": "GET", "noifrange": True}],
             [(0, 206), (self.CUT, 206), (0, 206)]),
        ]
        for what, road, steps, starts in rows:
            with self.subTest(what):
                self.setUp()
                old, new = self.versions(2000000)
                H.script(INSTALLER, steps=steps, default=dict(road, file=self.NEW))
                self.assertEqual(self.run_loader(timeout=120), 1)
                self.assert_installed(new)
                gets = self.installer_requests(self.scripted, "GET")
                self.assertEqual([(range_start(g), g.status) for g in gets], starts)

    def test_replaced_on_nginx_while_the_loader_was_killed(self):
        """nginx, the real download host: a loader killed mid-way, the file
        replaced, a new loader started."""
        old = installer_bytes(total=64 * MiB, seed=b"old on nginx")
        new = installer_bytes(3000000, seed=b"new on nginx")
        self.serve(old, where="nginx", mtime=1700000000)
        loader = self.start_loader(scripted=False)
        wait_until(lambda: self.size(self.temp_path()) >= 4 * MiB, 120, "a part of the old version")
        self.kill(loader)
        have = self.assert_prefix_of(self.temp_path(), old, "the .dul! file")
        self.assertLess(have, len(old), "the old version was not complete when the loader was killed")
        self.serve(new, where="nginx", mtime=1700086400)
        log = H.nginx_log()
        self.assertEqual(self.run_loader(timeout=120, scripted=False), 1)
        self.assert_installed(new)
        gets = self.installer_requests(log, "GET")
        self.assertEqual([(range_start(g), g.status, g.sent) for g in gets], [(0, 206, len(new))])


if __name__ == "__main__":
    unittest.main(verbosity=2)
