#!/usr/bin/env python3
"""The real loader against hostile answers from the download host.

Each case scripts one or a few bad answers, then lets the server recover, and
runs the loader to its end. Every case checks: no crash (the loader ends with
its own exit code), a clear result (the attempts the server saw, then either
the job completed with exactly the server's file or a page of the web opened
and the loader ended with 0), nothing written anywhere in the Wine prefix's
drive_c (the temporary folder included) but the loader's own download, which
is gone after the installer ran, and nothing local handed to the shell (Wine's
browser launcher is pointed at a recorder script).
"""

import os
import unittest

from kovra_harness import (INSTALLER, FaultCase, changed_files, harness, installer_bytes, read_record, remove,
                           snapshot, wait_until)

H = harness()

DOWNLOAD = "http://%s" % H.download_host
SIZE = 400000


def redirect(location, status=302):
    return {"method": "HEAD", "status": status, "location": location}


class HostileCase(FaultCase):
    @classmethod
    def setUpClass(cls):
        # WinINet makes its cookie and cache stores in drive_c the first time
        # it runs in a prefix: the engine alone fetches a page once before.
        H.run(H.program("kovra-fetch.exe"), ["http://%s/update/warm" % H.stats_host, H.windows_path(H.state) + "\\"])

    def setUp(self):
        super().setUp()
        self.opened_file = self.record_browser()
        self.drive_c = os.path.join(H.values["WINEPREFIX"], "drive_c")

    def attack(self, steps, default=None, scripts=(), expect="recover", size=SIZE):
        """Runs the loader against the scripted answers; returns the
        requests the scripted server saw for anything but statistics."""
        self.fresh()
        data = installer_bytes(total=size)
        self.serve(data)
        H.script(INSTALLER, steps=steps, default=default or {})
        for path, path_steps, path_default in scripts:
            H.script(path, steps=path_steps, default=path_default)
        before = snapshot(self.drive_c)
        log = H.scripted_log()
        code = self.run_loader(timeout=240)

        if code == 0:
            # Wine's browser launcher runs on its own, after the loader.
            wait_until(lambda: os.path.exists(self.opened_file), 30, "the page handed to the browser")
        self.assertEqual(changed_files(before, snapshot(self.drive_c)), [],
                         "files written in drive_c besides the loader's download")
        opened = self.opened(self.opened_file)
        for url in opened:
            self.assertTrue(url.startswith(DOWNLOAD + "/"), "handed to the shell: %r" % url)
        kinds = self.stats_kinds(log)
        if expect == "recover":
            self.assertEqual(code, 1, "the job ends with 1 once the server recovers")
            self.assert_installed(data)
            self.assertEqual(opened, [])
            self.assertEqual(kinds, ["run", "downloaded", "finished:0"])
        elif expect == "page":
            self.assertEqual(code, 0, "a text page ends the loader with 0")
            self.assertEqual(read_record(self.record), [], "nothing is run after a text page")
            self.assertEqual(kinds, ["run"])
        else:
            print("ended with %d, opened %r" % (code, opened), flush=True)
            self.assertIn(code, (0, 1), "a clear ending")
            if code == 1:
                self.assert_installed(data)
            else:
                self.assertEqual(read_record(self.record), [])
        return [e for e in log.entries() if not e.path.startswith("/update/")], opened

    def fresh(self):
        H.reset_scripts()
        self.clean_temp()
        remove(self.record, self.opened_file)

    def methods(self, requests):
        return [e.method for e in requests]


class Locations(HostileCase):
    """Redirects, header blocks over the buffer, lengths of every kind."""

    # --- redirects ----------------------------------------------------------------
    def test_redirect_loops(self):
        """A Location naming itself, and two hosts sending the loader back and
        forth: ten redirects are followed, the eleventh fails the attempt."""
        requests, _ = self.attack([redirect(DOWNLOAD + INSTALLER)] * 11)
        self.assertEqual(self.methods(requests), ["HEAD"] * 12 + ["GET"])

        mirror = "http://mirror-a.example/loop/KovraInstallerD1.exe"
        requests, _ = self.attack([redirect(mirror)] * 6,
                                  scripts=[("/loop/KovraInstallerD1.exe", [], redirect(DOWNLOAD + INSTALLER))])
        hosts = [e.header("Host") for e in requests]
        self.assertEqual(hosts[:11], [H.download_host, "mirror-a.example"] * 5 + [H.download_host])
        self.assertEqual(self.methods(requests), ["HEAD"] * 12 + ["GET"])

    def test_redirect_chain_through_other_hosts(self):
        """A chain of two hosts ending at another file name: fetched from the
        last host, stored only under the loader's own name."""
        requests, _ = self.attack(
            [redirect("http://mirror-a.example/a/KovraInstallerD1.exe", 301)],
            scripts=[("/a/KovraInstallerD1.exe", [], redirect("http://mirror-b.example:8080/b/other%20name.bin")),
                     ("/b/other%20name.bin", [], {"file": "KovraInstallerD1.exe"})])
        self.assertEqual([(e.method, e.header("Host")) for e in requests],
                         [("HEAD", H.download_host), ("HEAD", "mirror-a.example"),
                          ("HEAD", "mirror-b.example:8080"), ("GET", "mirror-b.example:8080")])

    def test_redirects_nobody_should_follow(self):
        """Locations of 20,000 and 9,000 characters, a local path, a UNC
        path, other schemes: each attempt fails without a request to any
        of them, and the next attempt finds the installer."""
        for location in (DOWNLOAD + "/" + "a" * 20000, DOWNLOAD + "/" + "b" * 9000,
                         "file:///C:/windows/win.ini", "ftp://%s/KovraInstallerD1.exe" % H.download_host,
                         "C:\\windows\\system32\\cmd.exe", "\\\\evil\\share\\setup.exe",
                         "javascript:alert(1)", "https://%s/KovraInstallerD1.exe" % H.download_host, " "):
            with self.subTest(location=location[:60]):
                requests, _ = self.attack([redirect(location)])
                # The resolved local and UNC paths are asked of the same
                # server over HTTP (404): no file is ever opened locally.
                for e in requests[1:-2]:
                    self.assertEqual(e.status, 404, e)
                self.assertEqual(self.methods(requests[-2:]), ["HEAD", "GET"])
                self.assertEqual(requests[-1].header("Host"), H.download_host)

    def test_text_pages_at_hostile_locations(self):
        """A text page reached through a Location that names a local path, a
        UNC path or another scheme: at most an http page of the download
        host is opened, never a local file or program."""
        page = {"ctype": "text/html", "body": "<p>moved</p>"}
        for location, resolved in (("C:\\windows\\system32\\cmd.exe", "/C:/windows/system32/cmd.exe"),
                                   ("\\\\evil\\share\\page.html", "///evil/share/page.html"),
                                   ("file:///C:/page.html", None),
                                   ("javascript:page.html", "/javascript:page.html")):
            with self.subTest(location=location):
                scripts = [(resolved, [], page)] if resolved else []
                _, opened = self.attack([redirect(location)], scripts=scripts, expect="either")
                for url in opened:
                    self.assertNotIn("evil", url.split("/")[2], "another host from a UNC path")

    # --- headers ------------------------------------------------------------------------
    def test_headers_over_the_buffer(self):
        """Header blocks over the 20,480-byte buffer: the values the loader
        needs are still read, so a resume continues and a text page is
        still seen as one."""
        requests, _ = self.attack([{"method": "GET", "cut": 150000}], default={"padheaders": 30000})
        self.assertEqual([(e.method, e.header("Range")) for e in requests],
                         [("HEAD", None), ("GET", "bytes=0-"), ("HEAD", None), ("GET", "bytes=150000-")])

        _, opened = self.attack([], default={"padheaders": 30000, "ctype": "text/html", "body": "<p>busy</p>"},
                                expect="page")
        self.assertEqual(opened, [DOWNLOAD + INSTALLER])

    # --- sizes ----------------------------------------------------------------------------
    def test_content_length_negative_huge_or_junk(self):
        for length, failing in (("-5", False), ("junk", False), ("", False), ("1000", False),
                                ("99999999999", True), ("2147483648", True)):
            with self.subTest(head_length=length):
                requests, _ = self.attack([{"method": "HEAD", "length": length}])
                self.assertEqual(self.methods(requests), ["HEAD", "GET"] if not failing else ["HEAD", "HEAD", "GET"])
        for length in ("-1", "junk", str(SIZE * 2), "1000"):
            with self.subTest(get_length=length):
                requests, _ = self.attack([{"method": "GET", "length": length}])
                self.assertEqual(requests[-1].method, "GET")


class RangesAndDates(HostileCase):
    """Content-Range in every wrong form, and malformed dates."""

    def test_content_range_past_the_file_or_backwards(self):
        """Ranges that start past the file, end before they start, or start
        before the offset while ending before it: refused, and what was on
        disk is never overwritten by misplaced bytes."""
        for crange in ("bytes 9000000-9999999/10000000", "bytes 5000-4000/%d" % SIZE,
                       "bytes %d-%d/%d" % (SIZE, SIZE * 2 - 1, SIZE), "bytes 0-99/%d" % SIZE):
            with self.subTest(fresh_range=crange):
                requests, _ = self.attack([{"method": "GET", "crange": crange}])
                self.assertEqual(self.methods(requests), ["HEAD", "GET", "HEAD", "GET"])
        # After a cut at 150,000: a range that contradicts itself or the
        # body is refused and the part kept; one of another size is another
        # version, so the part is dropped.
        for crange, kept in (("bytes 1000-500/%d" % SIZE, True), ("bytes 1000-1999/%d" % SIZE, True),
                             ("bytes 150000-%d/%d" % (SIZE - 1, SIZE * 2), False)):
            with self.subTest(resumed_range=crange):
                requests, _ = self.attack([{"method": "GET", "cut": 150000}, {"method": "GET", "crange": crange}])
                self.assertEqual([e.header("Range") for e in requests if e.method == "GET"],
                                 ["bytes=0-", "bytes=150000-", "bytes=150000-" if kept else "bytes=0-"])

    def test_206_to_a_request_without_range(self):
        """The HEAD carries no Range: a 206 answer to it is not a file."""
        requests, _ = self.attack([{"method": "HEAD", "force206": True}])
        self.assertEqual([(e.method, e.status) for e in requests], [("HEAD", 206), ("HEAD", 200), ("GET", 206)])

    # --- dates ------------------------------------------------------------------------------
    def test_last_modified_in_malformed_forms(self):
        """Every malformed Last-Modified: the bytes are right whether the
        part is continued or fetched again."""
        for lm in ("", "garbage", "Sun, 06 Nov 1994 08:49:37", "Sunday, 06-Nov-94 08:49:37 GMT",
                   "Sun Nov  6 08:49:37 1994", "Thu, 01 Jan 1970 00:00:00 GMT", "Wed, 31 Dec 1969 23:59:59 GMT",
                   "Tue, 19 Jan 2038 03:14:08 GMT", "Fri, 31 Dec 9999 23:59:59 GMT",
                   "Mon, 99 Foo 2024 99:99:99 GMT", "-1", "Wed, 21 Oct 2015 07:28:00 GMT" + "x" * 600,
                   "\u00ff\u00fe, 32 Jan 2015 07:28:00 GMT"):
            with self.subTest(last_modified=lm):
                requests, _ = self.attack([{"method": "GET", "cut": 150000}], default={"lm": lm})
                starts = [e.header("Range") for e in requests if e.method == "GET"]
                self.assertEqual(starts[0], "bytes=0-")
                self.assertIn(starts[1], ("bytes=0-", "bytes=150000-"))
                print("Last-Modified %r: second GET %s" % (lm[:40], starts[1]), flush=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
