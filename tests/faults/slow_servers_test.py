#!/usr/bin/env python3
"""The real loader against slow and stalled servers: a body that stops
half-way, a HEAD that is never answered, a statistics host that accepts and
says nothing. The loader's time-outs (7 s for the download, 5 s for the
statistics) must fire, the retries follow their pauses, and the job finishes
once the server recovers, running exactly the server's file; the statistics
hold nothing up.

Servers log an answer when it is done; a held answer is done when the loader
lets go of it, so the log times show when each time-out fired.
"""

import time
import unittest

from kovra_harness import INSTALLER, STATS, FaultCase, harness, installer_bytes

H = harness()

# Generous upper bounds: they prove that a time-out fires instead of the
# loader hanging, not how fast it is.
LATE = 25


class SlowCase(FaultCase):
    def assert_gap(self, later, earlier, at_least, what):
        gap = later.time - earlier.time
        self.assertGreaterEqual(gap, at_least - 0.1, "%s: %.2f s" % (what, gap))
        self.assertLess(gap, at_least + LATE, "%s: %.2f s" % (what, gap))
        return gap


class Bodies(SlowCase):
    def test_bodies_that_stop_half_way(self):
        """Three GETs stall after a part (the server holds the connection for
        a minute): each fails after the 7 s receive time-out, the pauses grow
        1, 2, 4 s, each attempt continues where the last stopped."""
        data = installer_bytes(3000000)
        self.serve(data)
        parts = [700000, 900000, 500000]
        H.script(INSTALLER, steps=[{"method": "GET", "stall": n, "hold": 60} for n in parts])
        self.assertEqual(self.run_loader(timeout=240), 1)

        requests = self.installer_requests(self.scripted)
        self.assertEqual([e.method for e in requests], ["HEAD", "GET"] * 4)
        heads, gets = requests[0::2], requests[1::2]
        self.assertEqual([g.sent for g in gets[:3]], parts)
        starts = [int(g.header("Range")[6:-1]) for g in gets]
        self.assertEqual(starts[0], 0)
        for i, n in enumerate(parts):
            # The read that meets the time-out fails, and a failed read
            # counts as no bytes (Wine does hand over what it had, with the
            # failure): less than one 10,240-byte read is fetched again.
            kept = starts[i + 1] - starts[i]
            self.assertLessEqual(kept, n, "stall %d: more kept than was sent" % i)
            self.assertGreater(kept, n - 10240, "stall %d: %d bytes sent, only %d kept" % (i, n, kept))
        self.assertEqual(gets[3].sent, len(data) - starts[3], "the last GET sends exactly the rest")
        for i, pause in enumerate((1, 2, 4)):
            # The GET is done when the loader gives up on it.
            waited = self.assert_gap(gets[i], heads[i], 7, "stalled GET %d until the time-out" % i)
            slept = self.assert_gap(heads[i + 1], gets[i], pause, "pause after stalled GET %d" % i)
            print("stall %d: given up after %.1f s, next attempt %.1f s later" % (i, waited, slept), flush=True)
        self.assert_installed(data)
        self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:0"])

    def test_a_slow_body_is_not_given_up(self):
        """200 KB a second never starves a read for 7 s: one attempt."""
        data = installer_bytes(1200000)
        self.serve(data)
        H.script(INSTALLER, default={"rate": 200000})
        self.assertEqual(self.run_loader(timeout=120), 1)
        self.assertEqual([e.method for e in self.installer_requests(self.scripted)], ["HEAD", "GET"])
        self.assert_installed(data)


class Silences(SlowCase):
    def test_heads_never_answered(self):
        """Two HEADs are never answered: each counts as not sent after 7 s,
        and a HEAD not sent is followed by a 1 s pause."""
        data = installer_bytes(500000)
        self.serve(data)
        H.script(INSTALLER, steps=[{"method": "HEAD", "silent": True, "hold": 60}] * 2)
        self.assertEqual(self.run_loader(timeout=180), 1)
        requests = self.installer_requests(self.scripted)
        self.assertEqual([e.method for e in requests], ["HEAD", "HEAD", "HEAD", "GET"])
        self.assertEqual([e.status for e in requests[:2]], [0, 0], "the first two were never answered")
        # The second HEAD is logged 1 s pause + 7 s time-out after the first.
        self.assert_gap(requests[1], requests[0], 8, "second unanswered HEAD")
        self.assert_gap(requests[2], requests[1], 1, "pause after a HEAD not sent")
        self.assert_installed(data)

    def test_statistics_host_that_accepts_and_says_nothing(self):
        """Through nginx, the real route: every statistics request is
        accepted and held. Nothing waits for them: the download goes while
        the run event waits, the events go one after another in order, each
        given up after its 5 s time-out, and each reaches the host once."""
        data = installer_bytes(2000000)
        self.serve(data, where="nginx")
        H.script(STATS, default={"silent": True, "hold": 120})
        began = time.time()
        # The installer runs until the downloaded event has been given up.
        loader = self.start_loader(scripted=False, **self.installer_until())
        self.nginx.wait_for(2, match=lambda e: e.path.startswith(STATS), timeout=60)
        self.let_installer_end()
        self.assertEqual(loader.wait(timeout=120), 1)
        elapsed = time.time() - began
        self.assert_installed(data)
        # nginx logs a request the loader gave up on as 499.
        stats = self.nginx.wait_for(3, match=lambda e: e.path.startswith(STATS), timeout=30)
        self.assertEqual([e.path.split("type=")[1].split("&")[0] for e in stats],
                         ["qloader_run", "qloader_downloaded", "qloader_finished"])
        self.assertEqual({e.status for e in stats}, {499}, "the loader gave up on each")
        installer = [e for e in self.nginx.entries() if e.path == INSTALLER]
        self.assertEqual([e.method for e in installer], ["HEAD", "GET"])
        # The HEAD was answered before the run event was given up.
        self.assertLess(installer[0].time, stats[0].time)
        print("three silent statistics requests: the whole run took %.1f s" % elapsed, flush=True)

if __name__ == "__main__":
    unittest.main(verbosity=2)
