#!/usr/bin/env python3
"""The real loader under Wine and Xvfb, against nginx and the scripted server.

The stand-in installer (tools/standin-installer) is served as the installer:
it records how it was started and the SHA-256 of the file that ran.
"""

import hashlib
import os
import shutil
import subprocess
import tempfile
import time
import unittest

import proxies
from kovra_harness import (INSTALLER, STATS, LoaderCase, harness, installer_bytes, is_installer, is_stats, poll,
                           read_record, remove, sha256, stats_type)

H = harness()
LOADER = H.program("KovraLoader.exe")
STANDIN = H.program("kovra-standin-installer.exe")
PROBE = H.program("window_probe.exe")
TITLE = "Загрузка браузера Ковра"

# Client coordinates of the glyph buttons' centres.
CLOSE_BUTTON = (478, 24)
MINIMISE_BUTTON = (449, 24)


class EndToEndCase(LoaderCase):
    """What the cases of the classes below use."""

    # The squid of the instance whose log squid_requests() reads.
    squid = "squid"

    def setUp(self):
        super().setUp()
        self.squid_seen = len(H.squid_log(self.squid))

    def squid_requests(self, method=None):
        """(status, method, URL, user, bytes) that squid logged during the case."""
        return [row for row in H.squid_log(self.squid)[self.squid_seen:] if method is None or row[1] == method]

    def find_window(self, timeout_ms=30000):
        # A Wine program started at the very moment another one starts has
        # been seen to hang now and then: try again rather than wait on it.
        for attempt in range(3):
            try:
                code, values = H.probe("find", str(timeout_ms), timeout=timeout_ms / 1000 + 10)
            except subprocess.TimeoutExpired:
                continue
            self.assertEqual(code, 0, "the loader window did not appear")
            return values["hwnd"]
        self.fail("the window probe never answered")

    def click(self, hwnd, point):
        _, info = H.probe("info", hwnd)
        left, top = (int(v) for v in info["rect"].split(",")[:2])
        self.click_at(left + point[0], top + point[1])

    def click_at(self, x, y, typing=None):
        """A click at a point of the screen, and what is then typed there."""
        command = ["xdotool", "mousemove", str(x), str(y), "sleep", "0.2", "click", "1"]
        if typing is not None:
            command += ["sleep", "0.2", "type", "--delay", "20", typing]
        subprocess.run(command, env=H.env(), check=True)

    def answer_proxy_prompt(self, user=None, password=None, timeout_s=60):
        """Waits for the system's proxy password prompt over the loader's
        window and answers it as a user would: types into its fields and
        clicks OK, or with no user clicks Cancel. Its title."""
        code, prompt = H.probe("prompt", str(timeout_s * 1000), timeout=timeout_s + 30)
        self.assertEqual(code, 0, "no password prompt over the loader's window")

        def centre(name):
            left, top, right, bottom = (int(v) for v in prompt[name].split(","))
            return (left + right) // 2, (top + bottom) // 2
        if user is None:
            self.click_at(*centre("cancel"))
        else:
            self.click_at(*centre("user"), typing=user)
            self.click_at(*centre("password"), typing=password)
            self.click_at(*centre("ok"))
        return prompt["title"]


class Road(EndToEndCase):
    """The download and the launch, as the servers and the files see them."""

    # --- the road of one run --------------------------------------------------
    def test_road_of_one_run(self):
        data = installer_bytes(300000)
        self.serve(data)
        self.assertEqual(self.run_loader(exit_code=5), 1, "exit code after a completed installation")

        entries = [e for e in self.nginx.wait_for(5) if is_stats(e) or is_installer(e)]
        self.assertEqual([(e.method, stats_type(e) if is_stats(e) else e.path) for e in entries], [
            ("GET", "run"),
            ("HEAD", INSTALLER),
            ("GET", INSTALLER),
            ("GET", "downloaded"),
            ("GET", "finished:5"),
        ])
        self.assertEqual(entries[1].header("User-Agent"), "KovraLoader")
        self.assertEqual(entries[2].header("Range"), "bytes=0-")
        self.assertEqual(entries[2].sent, len(data))

        runs = read_record(self.record)
        self.assertEqual(len(runs), 1, "the installer runs once")
        run = runs[0]
        self.assertEqual(run["exe"].lower(), self.temp_windows().lower())
        self.assertEqual(run["sha256"], sha256(data))
        self.assertTrue(run["cmdline"].endswith("--no-gui --only-kovra-icon"), run["cmdline"])
        self.assertEqual(run["cwd"].rstrip("\\").lower(), self.temp_windows("").rstrip("\\").lower())
        self.assertEqual(run["show"], "0", "started hidden")
        self.assertFalse(os.path.exists(self.final_path()), "installer file deleted after it ran")
        self.assertFalse(os.path.exists(self.final_path() + ".dul!"))

    def test_second_start_exits_at_once_without_a_request(self):
        self.serve(installer_bytes(100000), where="scripted")
        # The first loader's download stalls: it is surely still running.
        H.script(INSTALLER, default={"stall": 1000, "hold": 120})
        first = self.start_loader(scripted=True)
        self.find_window()
        self.assertEqual(self.run_loader(scripted=True), 0)
        self.assertIsNone(first.poll(), "the first loader goes on")
        time.sleep(1)
        # A loader past the single-instance check sends its run event before
        # anything else: the one here is the first loader's.
        kinds = self.stats_kinds(self.scripted)
        self.assertEqual(kinds, ["run"], kinds)
        self.kill_loaders()

    # --- text pages -----------------------------------------------------------
    def test_text_page_opens_in_the_browser_and_ends(self):
        opened = self.record_browser()
        H.script(INSTALLER, default={"ctype": "text/html; charset=utf-8", "body": "<p>maintenance</p>"})
        self.assertEqual(self.run_loader(scripted=True), 0)
        poll(lambda: os.path.exists(opened), 20)
        with open(opened) as f:
            self.assertIn("http://%s%s" % (H.download_host, INSTALLER), f.read())
        self.assertEqual(self.stats_kinds(self.scripted), ["run"], "no event after the text page")
        installer = [e for e in self.scripted.entries() if is_installer(e)]
        self.assertEqual([e.method for e in installer], ["HEAD"], "no further attempt")

    def test_redirect_to_a_local_path_is_never_handed_to_the_shell(self):
        opened = self.record_browser()
        # A Location naming a local program. The downloader takes it as a path
        # on the same server, so at most that web page may be opened.
        local = H.windows_path(STANDIN)
        H.script(INSTALLER, default={"status": 302, "location": local})
        resolved = "/" + local.replace("\\", "/")
        H.script(resolved, default={"ctype": "text/plain", "body": "x"})
        self.assertEqual(self.run_loader(timeout=120, scripted=True), 0)
        poll(lambda: os.path.exists(opened), 20)
        with open(opened) as f:
            self.assertEqual(f.read().split(), ["http://%s%s" % (H.download_host, resolved)])
        self.assertEqual(read_record(self.record), [], "the local program never runs")

    def test_get_redirected_to_another_host_is_followed(self):
        # Object stores and CDNs answer the HEAD themselves and send the GET on
        # to a signed URL on another host.
        data = installer_bytes(300000)
        self.serve(data, where="scripted")
        signed = "http://blob.kovra.example/blob/KovraInstallerD1.exe?sig=1"
        H.script(INSTALLER, steps=[{"method": "GET", "status": 302, "location": signed}])
        H.script("/blob/KovraInstallerD1.exe", default={"file": "KovraInstallerD1.exe"})
        self.assertEqual(self.run_loader(timeout=120, scripted=True), 1)
        gets = [e for e in self.scripted.entries() if e.method == "GET" and not is_stats(e)]
        self.assertEqual([(e.path, e.status, e.header("Range")) for e in gets],
                         [(INSTALLER, 302, "bytes=0-"), ("/blob/KovraInstallerD1.exe?sig=1", 206, "bytes=0-")])
        self.assertIn("blob.kovra.example", gets[1].target)
        self.assertEqual([run["sha256"] for run in read_record(self.record)], [sha256(data)])
        self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:0"])

    # --- retries ----------------------------------------------------------------
    def test_retry_pauses_as_the_server_sees_them(self):
        self.serve(installer_bytes(1000), where="scripted")
        # Four bad statuses, then a HEAD that is never answered: after the 7 s
        # receive time-out it counts as not sent. Then one more bad status.
        steps = [{"method": "HEAD", "status": 500}] * 4 + [{"method": "HEAD", "silent": True, "hold": 30},
                                                            {"method": "HEAD", "status": 503}]
        H.script(INSTALLER, steps=steps)
        self.assertEqual(self.run_loader(timeout=180, scripted=True), 1)
        heads = [e for e in self.scripted.entries() if is_installer(e) and e.method == "HEAD"]
        self.assertEqual(len(heads), 7)
        # Servers log an answer when it is done; the silent one is done when
        # the loader gives up on it, 7 s after it arrived.
        gaps = [b.time - a.time for a, b in zip(heads, heads[1:])]
        silent_wait = gaps[3] - 8
        self.assertGreater(silent_wait, 6, gaps)
        self.assertLess(silent_wait, 10, gaps)
        # 1, 2, 4, 8 s after bad statuses; after the unanswered HEAD the grown
        # 16 s, and then 1 s again.
        for gap, expected in zip(gaps[:3] + gaps[4:], [1, 2, 4, 16, 1]):
            self.assertGreaterEqual(gap, expected - 0.05, gaps)
            self.assertLess(gap, expected + 1.5, gaps)
        self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:0"])

    def set_temp_folder(self, folder):
        """The user's TEMP and TMP for the test's Wine programs, put back after it."""
        with tempfile.NamedTemporaryFile(dir=self.work, suffix=".reg", delete=False) as saved:
            H.reg("export", r"HKCU\Environment", H.windows_path(saved.name), "/y")
        self.addCleanup(H.reg, "import", H.windows_path(saved.name))
        for name in ("TEMP", "TMP"):
            H.reg("add", r"HKCU\Environment", "/v", name, "/t", "REG_EXPAND_SZ", "/d", folder, "/f")

    def test_no_temporary_folder_gives_up_at_once(self):
        # A temporary folder the platform refuses to give (Wine: longer than
        # MAX_PATH) leaves no usable target: no download, no installer.
        self.serve(installer_bytes(1000))
        self.set_temp_folder("C:\\" + "folder\\" * 40)
        self.assertEqual(self.run_loader(timeout=120), 1)
        entries = self.nginx.wait_for(1)
        self.assertEqual([stats_type(e) if is_stats(e) else e.method for e in entries], ["run"])
        self.assertEqual(read_record(self.record), [])

    # --- resume -----------------------------------------------------------------
    def test_resume_across_loader_runs(self):
        data = installer_bytes(4000000)
        self.serve(data, where="scripted")
        H.script(INSTALLER, default={"rate": 500000})
        first = self.start_loader(scripted=True)
        partial = self.final_path() + ".dul!"
        poll(lambda: os.path.exists(partial) and os.path.getsize(partial) >= 1000000, 60)
        self.kill_loaders()
        first.wait(timeout=30)
        time.sleep(1)
        have = os.path.getsize(partial)
        self.assertGreater(have, 0)
        self.assertLess(have, len(data))

        H.reset_scripts()
        second_log = H.scripted_log()
        self.assertEqual(self.run_loader(scripted=True), 1)
        gets = [e for e in second_log.entries() if is_installer(e) and e.method == "GET"]
        self.assertEqual(len(gets), 1)
        self.assertEqual(gets[0].header("Range"), "bytes=%d-" % have)
        self.assertEqual(gets[0].status, 206)
        self.assertEqual(gets[0].sent, len(data) - have, "only the missing bytes")
        runs = read_record(self.record)
        self.assertEqual(len(runs), 1)
        self.assertEqual(runs[0]["sha256"], sha256(data))

    # --- names ----------------------------------------------------------------
    def test_loader_saved_under_another_name(self):
        # Also in a folder and under a name in Cyrillic with spaces, with a
        # user's temporary folder of that kind, as a Russian profile has.
        data = installer_bytes(1000)
        self.serve(data)
        for folder, name, temp in [(self.work, "setup (1).exe", None),
                                   (os.path.join(self.work, "Загрузки пользователя"), "Установщик Ковра (1).exe",
                                    "Временные файлы")]:
            with self.subTest(name=name):
                self.nginx.mark()
                remove(self.record)
                temp_folder = H.temp_dir
                if temp:
                    temp_folder = os.path.join(H.temp_dir, temp)
                    os.makedirs(temp_folder, exist_ok=True)
                    self.set_temp_folder(self.temp_windows(temp))
                os.makedirs(folder, exist_ok=True)
                other = os.path.join(folder, name)
                shutil.copyfile(LOADER, other)
                self.assertEqual(self.run_loader(program=other), 1)
                runs = read_record(self.record)
                self.assertEqual(len(runs), 1)
                expected = self.temp_windows(os.path.join(temp, name) if temp else name).replace("/", "\\")
                self.assertEqual(runs[0]["exe"].lower(), expected.lower())
                self.assertEqual(runs[0]["sha256"], sha256(data))
                self.assertEqual(self.stats_kinds(self.nginx), ["run", "downloaded", "finished:0"])
                self.assertEqual(os.listdir(temp_folder) if temp else [], [], "nothing left in the temporary folder")
                self.assertFalse(os.path.exists(os.path.join(temp_folder, name)))

    def test_loader_started_from_the_temporary_folder(self):
        # The target would be the running loader itself, which its download
        # cannot replace: the installer takes the download's own name, or
        # another one when the loader already has that name. The folder may
        # be given in its short form, which names the same files.
        data = installer_bytes(1000)
        self.serve(data)
        long_folder = os.path.join(H.temp_dir, "Kovra Long Temporary Folder")
        os.makedirs(long_folder, exist_ok=True)
        self.addCleanup(shutil.rmtree, long_folder, True)
        _, short = H.probe("short-path", self.temp_windows("Kovra Long Temporary Folder"))
        for name, sub, temp, installer in [
                ("KovraLoader.exe", "", None, "KovraInstallerD1.exe"),
                ("KovraInstallerD1.exe", "", None, "KovraInstallerD1 (1).exe"),
                ("KovraLoader.exe", "Kovra Long Temporary Folder", short["short"], "KovraInstallerD1.exe")]:
            with self.subTest(name=name, temp=temp):
                if temp:
                    self.set_temp_folder(temp)
                folder = os.path.join(H.temp_dir, sub)
                inside = os.path.join(folder, name)
                shutil.copyfile(LOADER, inside)
                remove(self.record)
                self.assertEqual(self.run_loader(program=inside, timeout=120), 1)
                runs = read_record(self.record)
                self.assertEqual(len(runs), 1)
                # Wine names a program started by its short path in the long form.
                expected = self.temp_windows(os.path.join(sub, installer).replace("/", "\\"))
                self.assertEqual(runs[0]["exe"].lower(), expected.lower())
                self.assertEqual(runs[0]["sha256"], sha256(data))
                with open(inside, "rb") as f, open(LOADER, "rb") as original:
                    self.assertEqual(f.read(), original.read(), "the loader itself is left as it was")
                self.assertFalse(os.path.exists(os.path.join(folder, installer)))
                os.remove(inside)

    # --- the installer launch -----------------------------------------------
    def test_installer_deleted_before_launch_reruns_the_sequence(self):
        data = installer_bytes(1000)
        self.serve(data, where="scripted")
        # The first "downloaded" event is answered once the file is deleted.
        H.script(STATS, steps=[{"match": "qloader_downloaded", "delay": 60, "until": "deleted"}])
        loader = self.start_loader(scripted=True, exit_code=5)
        poll(lambda: os.path.exists(self.final_path()), 60, 0.02)
        os.remove(self.final_path())
        H.open_gate("deleted")
        self.assertEqual(loader.wait(timeout=120), 1)
        self.assertEqual(self.stats_kinds(self.scripted),
                         ["run", "downloaded", "downloaded", "finished:5", "finished:0"])
        heads = [e for e in self.scripted.entries() if is_installer(e) and e.method == "HEAD"]
        self.assertEqual(len(heads), 2)
        self.assertEqual(len(read_record(self.record)), 1)

    def test_installer_removed_every_time_is_given_up(self):
        # Something removes every fresh installer: after three more downloads
        # the launch reports "file not found" (2) instead of nesting for ever.
        self.serve(installer_bytes(1000), where="scripted")
        H.script(STATS, steps=[{"match": "qloader_downloaded", "delay": 60, "until": "removed %d" % i}
                               for i in range(4)])
        loader = self.start_loader(scripted=True)
        for i in range(4):
            poll(lambda: os.path.exists(self.final_path()), 60, 0.02)
            os.remove(self.final_path())
            H.open_gate("removed %d" % i)
        self.assertEqual(loader.wait(timeout=120), 1)
        self.assertEqual(self.stats_kinds(self.scripted),
                         ["run"] + ["downloaded"] * 4 + ["finished:2"] + ["finished:0"] * 3)
        self.assertEqual(read_record(self.record), [], "nothing ran")

    def test_launch_refused_reports_its_error_code(self):
        junk = hashlib.sha256(b"not a program").digest() * 100
        self.serve(junk)
        code = self.run_loader()
        self.assertEqual(code, 1)
        kinds = self.stats_kinds(self.nginx)
        self.assertEqual(kinds[:2], ["run", "downloaded"])
        self.assertEqual(len(kinds), 3)
        self.assertTrue(kinds[2].startswith("finished:"))
        self.assertNotEqual(kinds[2], "finished:0", "the launch error code is reported")
        self.assertEqual(read_record(self.record), [])
        with open(self.final_path(), "rb") as f:
            self.assertEqual(f.read(), junk, "the file is kept")

    def test_body_without_a_length_installs_once(self):
        # No size anywhere: a body that ends with its connection, a chunked
        # one, and one cut with only "bytes 0-N/*" to go by, which the next
        # attempt continues. Each byte comes once, and the file that runs is
        # the server's.
        data = installer_bytes(300000)
        self.serve(data, where="scripted")
        sized = {"unsized": True}
        cases = {"closed": ([], {"unsized": True, "norange": True}, ["bytes=0-"]),
                 "chunked": ([], {"chunked": True, "norange": True}, ["bytes=0-"]),
                 "cut": ([dict(sized, method="GET", cut=120000)], sized, ["bytes=0-", "bytes=120000-"])}
        for case, (steps, answer, ranges) in cases.items():
            with self.subTest(case=case):
                self.scripted.mark()
                self.clean_temp()
                H.script(INSTALLER, steps=steps, default=answer)
                record = self.record + "." + case
                remove(record)
                self.assertEqual(self.run_loader(scripted=True, KOVRA_STANDIN_RECORD=H.windows_path(record)), 1)
                gets = [e for e in self.scripted.entries() if is_installer(e) and e.method == "GET"]
                self.assertEqual([e.header("Range") for e in gets], ranges)
                self.assertEqual(sum(e.sent for e in gets), len(data), [(e.header("Range"), e.sent) for e in gets])
                self.assertEqual([run["sha256"] for run in read_record(record)], [sha256(data)])
                self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:0"])
                self.assertEqual([n for n in os.listdir(H.temp_dir) if n.startswith("KovraLoader")], [])


class RealProxy(EndToEndCase):
    """squid, a real forward proxy, between the loader and the servers (the
    scripted server behind it), and an https CDN reached through its CONNECT."""

    def test_road_of_one_run_through_squid(self):
        data = installer_bytes(300000)
        self.serve(data, where="scripted")
        self.assertEqual(self.run_loader(exit_code=5, through="squid"), 1)
        entries = [e for e in self.scripted.wait_for(5) if is_stats(e) or is_installer(e)]
        self.assertEqual([(e.method, stats_type(e) if is_stats(e) else e.path) for e in entries], [
            ("GET", "run"), ("HEAD", INSTALLER), ("GET", INSTALLER), ("GET", "downloaded"), ("GET", "finished:5")])
        self.assertEqual(entries[2].header("Range"), "bytes=0-")
        self.assertEqual(entries[2].header("User-Agent"), "KovraLoader")
        self.assertEqual([(status, method) for status, method, _, _, _ in self.squid_requests()],
                         [(200, "GET"), (200, "HEAD"), (206, "GET"), (200, "GET"), (200, "GET")])
        self.assertEqual([run["sha256"] for run in read_record(self.record)], [sha256(data)])

    def test_cut_transfer_continues_through_squid(self):
        # The server cuts the body; squid passes the cut on, and the next
        # attempt asks for exactly what is missing.
        data = installer_bytes(total=3000000)
        self.serve(data, where="scripted")
        H.script(INSTALLER, steps=[{"method": "GET", "cut": 1000000}])
        self.assertEqual(self.run_loader(through="squid"), 1)
        gets = [e for e in self.scripted.entries() if is_installer(e) and e.method == "GET"]
        self.assertEqual([(e.header("Range"), e.sent) for e in gets],
                         [("bytes=0-", 1000000), ("bytes=1000000-", len(data) - 1000000)])
        self.assertEqual([run["sha256"] for run in read_record(self.record)], [sha256(data)])

    def test_version_changed_between_attempts_through_squid(self):
        # A part of the old version is never finished with the new one's bytes.
        old = installer_bytes(total=3000000, seed=b"old version")
        new = installer_bytes(total=2000000, seed=b"new version")
        self.serve(old, where="scripted", name="old.exe", mtime=1700000000)
        self.serve(new, where="scripted", name="new.exe", mtime=1700086400)
        H.script(INSTALLER, steps=[{"method": "HEAD", "file": "old.exe"},
                                   {"method": "GET", "file": "old.exe", "cut": 1000000}], default={"file": "new.exe"})
        self.assertEqual(self.run_loader(through="squid"), 1)
        gets = [e for e in self.scripted.entries() if is_installer(e) and e.method == "GET"]
        self.assertEqual([(e.header("Range"), e.sent) for e in gets], [("bytes=0-", 1000000), ("bytes=0-", len(new))])
        self.assertEqual([run["sha256"] for run in read_record(self.record)], [sha256(new)])

    def cdn_url(self, port_name):
        return "https://%s:%s%s" % (proxies.CDN_HOST, H.values[port_name], INSTALLER)

    def test_get_redirected_to_an_https_cdn_installs(self):
        # The HEAD is answered here; the GET is sent to a CDN over https,
        # through squid's CONNECT, and checked against the prefix's roots.
        data = installer_bytes(300000)
        self.serve(data, where="scripted", mtime=1700000000)
        self.serve(data, where="nginx", mtime=1700000000)
        H.script(INSTALLER, steps=[{"method": "GET", "status": 302, "location": self.cdn_url("KOVRA_TLS_PORT")}])
        self.assertEqual(self.run_loader(through="squid"), 1)
        tunnel = "%s:%s" % (proxies.CDN_HOST, H.values["KOVRA_TLS_PORT"])
        self.assertEqual([(status, url) for status, _, url, _, _ in self.squid_requests("CONNECT")], [(200, tunnel)])
        cdn = [e for e in self.nginx.entries() if is_installer(e)]
        self.assertEqual([(e.method, e.status, e.header("Range"), e.sent) for e in cdn],
                         [("GET", 206, "bytes=0-", len(data))])
        self.assertEqual([run["sha256"] for run in read_record(self.record)], [sha256(data)])
        self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:0"])

    def test_untrusted_certificate_is_refused_and_the_job_retries(self):
        self.serve(installer_bytes(300000), where="scripted", mtime=1700000000)
        self.serve(installer_bytes(300000), where="nginx", mtime=1700000000)
        H.script(INSTALLER, default={"method": "GET", "status": 302,
                                     "location": self.cdn_url("KOVRA_STRAY_TLS_PORT")})
        loader = self.start_loader(through="squid")
        tunnel = "%s:%s" % (proxies.CDN_HOST, H.values["KOVRA_STRAY_TLS_PORT"])
        poll(lambda: len([r for r in self.squid_requests("CONNECT") if r[2] == tunnel]) >= 3, 60)
        self.assertIsNone(loader.poll(), "the job goes on retrying")
        self.assertGreaterEqual(len([r for r in self.squid_requests("CONNECT") if r[2] == tunnel]), 3)
        self.assertEqual([e for e in self.nginx.entries() if is_installer(e)], [], "no request over the refused TLS")
        self.assertFalse(os.path.exists(self.final_path()))
        self.assertFalse(os.path.exists(self.final_path() + ".dul!") and os.path.getsize(self.final_path() + ".dul!"))
        self.assertEqual(read_record(self.record), [])
        self.assertEqual(self.stats_kinds(self.scripted), ["run"])


class ProxyPassword(EndToEndCase):
    """A proxy that wants a password (squid with Basic authentication, before
    nginx): the system's prompt over the loader's window, answered here."""

    USER, PASSWORD = "kovra", "p@ss word"
    squid = "squid_auth"

    def setUp(self):
        super().setUp()
        proxies.write_password_file(H.values["KOVRA_SQUID_AUTH_PASSWORDS"], self.USER, self.PASSWORD)
        # Wine keeps a password saved from its prompt here, and fills the
        # next prompt from it.
        H.reg("delete", r"HKCU\Software\Wine\Wine\Mpr", "/f")

    def installer_rows(self):
        return [(status, method, user) for status, method, url, user, _ in self.squid_requests()
                if url.endswith(INSTALLER)]

    def stats_rows(self):
        return [(status, user) for status, _, url, user, _ in self.squid_requests() if STATS in url]

    def test_typed_once_then_every_request_gets_through(self):
        data = installer_bytes(300000)
        self.serve(data)
        loader = self.start_loader(through="squid_auth")
        self.assertEqual(self.answer_proxy_prompt(self.USER, self.PASSWORD), "Enter Network Password")
        self.assertEqual(loader.wait(timeout=120), 1)
        self.assertEqual([run["sha256"] for run in read_record(self.record)], [sha256(data)])
        # The run event went before there was a window to ask with; the two
        # events after the prompt reach the statistics host.
        self.assertEqual(self.stats_kinds(self.nginx), ["downloaded", "finished:0"])
        rows = self.stats_rows()
        self.assertEqual(rows[0], (407, "-"))
        self.assertEqual([row for row in rows if row[0] != 407], [(200, self.USER)] * 2)
        rows = self.installer_rows()
        self.assertEqual(rows[0], (407, "HEAD", "-"))
        self.assertIn((200, "HEAD", self.USER), rows)
        self.assertEqual(rows[-1], (206, "GET", self.USER))

    def test_wrong_password_then_the_right_one(self):
        data = installer_bytes(300000)
        self.serve(data)
        loader = self.start_loader(through="squid_auth")
        self.answer_proxy_prompt(self.USER, "wrong")
        self.answer_proxy_prompt(self.USER, self.PASSWORD)
        self.assertEqual(loader.wait(timeout=120), 1)
        self.assertEqual([run["sha256"] for run in read_record(self.record)], [sha256(data)])
        rows = self.installer_rows()
        refused = rows.index((407, "HEAD", self.USER))
        self.assertIn((200, "HEAD", self.USER), rows[refused:])
        self.assertEqual(self.stats_kinds(self.nginx), ["downloaded", "finished:0"])

    def test_cancel_asks_no_more_and_the_job_keeps_retrying(self):
        self.serve(installer_bytes(300000))
        loader = self.start_loader(through="squid_auth")
        self.answer_proxy_prompt()
        # 1, 2 and 4 s of pauses: three more HEADs, each refused, no prompt.
        poll(lambda: len(self.installer_rows()) >= 4, 30)
        self.assertEqual(H.probe("prompt", "1000")[0], 1, "no second prompt")
        self.assertIsNone(loader.poll(), "the job goes on")
        rows = self.installer_rows()
        self.assertGreaterEqual(len(rows), 4, rows)
        self.assertEqual(set(rows), {(407, "HEAD", "-")})
        self.assertEqual(self.stats_kinds(self.nginx), [])
        self.assertFalse(os.path.exists(self.final_path() + ".dul!"))


class Window(EndToEndCase):
    """The window: buttons, keys, messages of other programs, the progress text."""

    # --- buttons, keys, messages -------------------------------------------
    def test_close_button_and_close_command_hide_and_the_job_finishes(self):
        self.serve(installer_bytes(3000000), where="scripted")
        # The close command is what Alt+F4 and the taskbar's Close send. The
        # download is slow until the window has been looked at.
        for close in ("button", "command"):
            with self.subTest(close=close):
                self.scripted.mark()
                H.script(INSTALLER, default={"rate": 200000, "until": close})
                loader = self.start_loader(scripted=True, exit_code=7)
                hwnd = self.find_window()
                time.sleep(1)  # past the fade-in
                if close == "button":
                    self.click(hwnd, CLOSE_BUTTON)
                else:
                    self.assertEqual(H.probe("post", hwnd, "0x112", "0xF060", "0")[0], 0)  # SC_CLOSE
                poll(lambda: H.probe("info", hwnd)[1].get("visible") == "0", 10, 0.2)
                self.assertEqual(H.probe("info", hwnd)[1].get("visible"), "0", "hidden")
                self.assertIsNone(loader.poll(), "the process goes on")
                H.open_gate(close)
                self.assertEqual(loader.wait(timeout=120), 1)
                self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:7"])

    def test_messages_from_other_programs_end_nothing(self):
        # Any program can post the window the loader's own messages, forged,
        # and a WM_QUIT, which ends the modal loop: the job goes on to its end.
        data = installer_bytes(3000000)
        self.serve(data, where="scripted")
        H.script(INSTALLER, default={"rate": 200000, "until": "looked"})
        loader = self.start_loader(scripted=True, exit_code=7)
        hwnd = self.find_window()
        code, _ = H.probe("post", hwnd, "0x8001", "7", "0", "0x8002", "150", "0",
                             "Kovra.LoaderDialog.ShowProgress", "150", "0",
                             "Kovra.LayeredSkinWindow.RunTask", "0", "0x12345678",
                             "Kovra.LayeredSkinWindow.FadeStep", "3", "0",
                             "bar:Kovra.SkinProgressBar.SwitchToStripes", "0", "0")
        self.assertEqual(code, 0)
        time.sleep(1)
        info = H.probe("info", hwnd)[1]
        self.assertEqual((info["exists"], info["visible"], info["marquee"]), ("1", "1", "0"), info)
        self.assertFalse(info["text"].endswith("150%"), info["text"])
        self.assertIsNone(loader.poll(), "the job goes on")
        self.assertEqual(H.probe("post", hwnd, "0x12", "5", "0")[0], 0)  # WM_QUIT
        self.assertEqual(H.probe("gone", hwnd, "20000")[0], 0, "the window ends with its loop")
        H.open_gate("looked")
        self.assertEqual(loader.wait(timeout=120), 1)
        self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:7"])
        self.assertEqual([run["sha256"] for run in read_record(self.record)], [sha256(data)])

    def test_window_appears_only_after_the_run_event_was_answered(self):
        self.serve(installer_bytes(1000), where="scripted")
        H.script(STATS, steps=[{"match": "qloader_run", "delay": 3}])
        probe = subprocess.Popen(["wine", PROBE, "first-visible", "60000"], env=H.env(), stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.assertTrue(probe.stdout.readline().startswith(b"ready="))
        loader = self.start_loader(scripted=True)
        visible = probe.stdout.readline().decode().strip()
        probe.stdout.close()
        probe.wait(timeout=30)
        self.assertTrue(visible.startswith("visible="), visible)
        self.assertEqual(loader.wait(timeout=120), 1)
        answered = [e.time for e in self.scripted.entries() if is_stats(e) and stats_type(e) == "run"]
        self.assertEqual(len(answered), 1)
        # The server logs an answer once it is sent: the window comes after.
        self.assertGreaterEqual(int(visible.partition("=")[2]) / 1000, answered[0])

    def test_minimise_button_and_escape(self):
        # The download is slow until the steps below are done: they start
        # several Wine programs each, which takes seconds under emulation, and
        # must all see the window.
        self.serve(installer_bytes(3000000), where="scripted")
        H.script(INSTALLER, default={"rate": 200000, "until": "looked"})
        loader = self.start_loader(scripted=True)
        hwnd = self.find_window()
        time.sleep(1)
        # Esc goes to the focused window: no effect at all.
        self.click(hwnd, (100, 200))
        subprocess.run(["xdotool", "key", "Escape"], env=H.env(), check=True)
        time.sleep(1)
        info = H.probe("info", hwnd)[1]
        self.assertEqual((info["exists"], info["visible"], info["iconic"]), ("1", "1", "0"))
        self.assertIsNone(loader.poll())
        self.click(hwnd, MINIMISE_BUTTON)
        poll(lambda: H.probe("info", hwnd)[1].get("iconic") == "1", 10, 0.2)
        self.assertEqual(H.probe("info", hwnd)[1].get("iconic"), "1", "minimised")
        H.open_gate("looked")
        self.assertEqual(loader.wait(timeout=120), 1)
        self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:0"])

    # --- progress text --------------------------------------------------------
    def watch(self, hwnd, ms, look=False):
        """(text, bar) at every change; with look, (text, bar, stripes)."""
        result = H.run(PROBE, ["watch", hwnd, str(ms)], timeout=ms / 1000 + 60)
        seen = []
        for line in result.stdout.decode("utf-8", "replace").splitlines():
            text, bar, marquee = (field.partition("=")[2] for field in line.split("\t"))
            seen.append((text, int(bar), marquee == "1") if look else (text, int(bar)))
        return seen

    def progress_from(self, data, have):
        """Starts the loader with have bytes already downloaded by an earlier
        run; the server then sends one more 10,240-byte read and stalls."""
        path = self.serve(data, where="scripted")
        partial = self.final_path() + ".dul!"
        with open(partial, "wb") as f:
            f.write(data[:have])
        stamp = os.path.getmtime(path)
        os.utime(partial, (stamp, stamp))
        # Later attempts get nothing at all, however slowly the test looks.
        H.script(INSTALLER, steps=[{"method": "GET", "stall": 10240, "hold": 60}],
                 default={"stall": 0, "hold": 60})
        loader = self.start_loader(scripted=True)
        hwnd = self.find_window()
        seen = self.watch(hwnd, 4000)
        self.kill_loaders()
        loader.wait(timeout=30)
        gets = [e for e in self.scripted.entries() if is_installer(e) and e.method == "GET"]
        self.assertEqual(gets[0].header("Range"), "bytes=%d-" % have)
        return seen

    def test_window_text_at_3_percent(self):
        data = installer_bytes(total=1000000)
        self.assertEqual(len(data), 1000000)
        # 29,999 of 1,000,000 bytes is 2 %: nothing is shown.
        seen = self.progress_from(data, 29999 - 10240)
        self.assertEqual(seen, [("", 0)])
        self.clean_temp()
        H.reset_scripts()
        self.scripted.mark()
        # 30,000 is 3 %: the title with the percentage, and the bar at 3.
        seen = self.progress_from(data, 30000 - 10240)
        self.assertEqual(seen[-1], (TITLE + " - 3%", 3))
        self.assertLessEqual(set(seen), {("", 0), (TITLE + " - 3%", 3)})

    def test_window_text_at_most_100_and_before_the_installing_look(self):
        # Once the HEAD announces two thirds of what the GET brings; once the
        # window is kept busy with messages sent by another program, which
        # the window handles before anything posted to it: the last
        # percentage must still come before the installing look.
        data = installer_bytes(300000)
        self.serve(data, where="scripted")
        for announced, busy in ((len(data) * 2 // 3, False), (len(data), True)):
            with self.subTest(announced=announced, busy=busy):
                self.clean_temp()
                # While busy, the transfer waits until the window is.
                H.script(INSTALLER, steps=[{"method": "HEAD", "length": str(announced), "delay": 4 if busy else 0}],
                         default={"rate": 200000})
                loader = self.start_loader(scripted=True, seconds=3)
                partial = self.final_path() + ".dul!"
                poll(lambda: busy or os.path.exists(partial) and os.path.getsize(partial), 60)
                hwnd = self.find_window()
                flood = H.start(PROBE, ["flood", hwnd, "15000"]) if busy else None
                seen = self.watch(hwnd, 25000, look=True)
                self.assertEqual(loader.wait(timeout=120), 1)
                if flood:
                    flood.wait(timeout=60)
                percents = [int(text.rpartition(" ")[2].rstrip("%")) for text, _, _ in seen if text]
                self.assertEqual(max(percents or [0]), 100, seen)
                looks = [text for text, _, stripes in seen if stripes]
                self.assertTrue(looks, seen)
                self.assertEqual(set(looks), {TITLE + " - 100%"}, seen)
        self.assertEqual([run["sha256"] for run in read_record(self.record)], [sha256(data)] * 2)

    def test_bar_and_text_agree_again_after_an_attempt_without_a_total(self):
        # 40 % of 1,100,000 bytes; then an attempt whose HEAD has no length
        # continues and steps the bar on 42 times (10,240-byte reads), to 50;
        # then the total is known again, and one more read is at 80 %.
        self.serve(installer_bytes(total=1100000), where="scripted")
        H.script(INSTALLER, steps=[{"method": "HEAD"}, {"method": "GET", "cut": 440000},
                                   {"method": "HEAD", "length": "none"}, {"method": "GET", "cut": 430000},
                                   {"method": "HEAD"}, {"method": "GET", "stall": 10240, "hold": 60}])
        loader = self.start_loader(scripted=True)
        seen = self.watch(self.find_window(), 8000)
        self.kill_loaders()
        loader.wait(timeout=30)
        gets = self.scripted.wait_for(3, match=lambda e: is_installer(e) and e.method == "GET")
        self.assertEqual([e.header("Range") for e in gets[:3]], ["bytes=0-", "bytes=440000-", "bytes=870000-"])
        self.assertIn((TITLE + " - 40%", 40), seen)
        self.assertTrue(any(bar > 40 and text.endswith(" 40%") for text, bar in seen), seen)
        self.assertEqual(seen[-1], (TITLE + " - 80%", 80), seen)

    def test_without_a_total_the_bar_steps_then_shows_100_before_installing(self):
        self.serve(installer_bytes(200000), where="scripted")
        H.script(INSTALLER, default={"chunked": True, "norange": True, "rate": 40000})
        loader = self.start_loader(scripted=True, seconds=3)
        seen = self.watch(self.find_window(), 25000, look=True)
        self.assertEqual(loader.wait(timeout=120), 1)
        looks = [text for text, _, stripes in seen if stripes]
        self.assertTrue(looks, seen)
        # What it showed up to the installing look.
        before = [(text, bar) for text, bar, _ in seen[:[stripes for _, _, stripes in seen].index(True)]]
        self.assertEqual(set(looks), {TITLE + " - 100%"}, seen)
        self.assertEqual(before[-1], (TITLE + " - 100%", 100), seen)
        stepping = [bar for text, bar in before[:-1] if bar > 0]
        self.assertGreater(len(stepping), 3, seen)
        self.assertEqual({text for text, _ in before[:-1]}, {""}, "no percentage while there is no total")

    def test_unknown_total_steps_the_bar_by_5(self):
        # 20 s of transfer: the look below fits well inside it, however slow
        # the machine.
        self.serve(installer_bytes(600000), where="scripted")
        # The HEAD answer has no length; the GET's does, so the job completes.
        H.script(INSTALLER, steps=[{"method": "HEAD", "length": "none"}], default={"rate": 30000})
        loader = self.start_loader(scripted=True)
        # Looked at once the body flows: a window probe started together with
        # the loader has been seen, now and then, to find a window that is
        # gone the next moment while the loader's own stays out of its sight.
        partial = self.final_path() + ".dul!"
        poll(lambda: os.path.exists(partial) and os.path.getsize(partial) > 0, 60)
        seen = self.watch(self.find_window(), 6000)
        requests = [(e.method, e.status, e.sent) for e in self.scripted.entries() if is_installer(e)]
        self.assertTrue(seen, "the window went at once; loader exit %r, requests %r" % (loader.poll(), requests))
        bars = [bar for _, bar in seen if bar > 0]
        self.assertGreater(len(bars), 3, seen)
        for before, after in zip(bars, bars[1:]):
            self.assertEqual(after, before % 100 + 5, bars)
        self.assertEqual({text for text, _ in seen}, {""}, "no percentage without a total")
        self.kill_loaders()
        loader.wait(timeout=30)


if __name__ == "__main__":
    unittest.main(verbosity=2)
