#!/usr/bin/env python3
"""The real loader under Wine and Xvfb, against nginx and the scripted server.

The stand-in installer (tools/standin-installer) is served as the installer:
it records how it was started and the SHA-256 of the file that ran.
"""

import hashlib
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import proxies
from kovra_harness import (INSTALLER, STATS, LoaderCase, harness, installer_bytes, is_installer, is_stats, poll,
                           program_constant, program_pids, read_record, remove, sha256, signal_program, stats_type,
                           wait_until)

H = harness()
LOADER = H.program("KovraLoader.exe")
STANDIN = H.program("kovra-standin-installer.exe")
PROBE = H.program("window_probe.exe")
TITLE = "Загрузка браузера Ковра"
READ_BYTES = program_constant("net/HttpDownloader.h", "kChunkBytes")

# Client coordinates of the glyph buttons' centres.
CLOSE_BUTTON = (478, 24)
MINIMISE_BUTTON = (449, 24)


class EndToEndCase(LoaderCase):
    """What the cases of the classes below use."""

    # The squid of the instance whose log squid_requests() reads.
    squid = "squid"

    def setUp(self):
        super().setUp()
        # Lines a squid writes late for an earlier case's requests are older.
        self.began = time.time()

    def squid_requests(self, method=None, squid=None):
        """(status, method, URL, user, bytes) that squid logged during the
        case; once every loader has ended, once squid has let go of them (it
        logs a tunnel when it closes)."""
        squid = squid or self.squid
        if all(loader.poll() is not None for loader in self.loaders):
            wait_until(lambda: H.squid_idle(squid), 60, "%s to let go of the loaders" % squid)
        return [row for row in H.squid_log(squid, self.began) if method is None or row[1] == method]

    def find_window(self, timeout_ms=120000):
        code, values = H.probe("find", str(timeout_ms), "idle", timeout=timeout_ms / 1000 + 10)
        self.assertEqual(code, 0, "the loader window did not appear")
        return values["hwnd"]

    def info_when(self, hwnd, what, timeout=60, **expected):
        """window_probe info of the window once it has the expected values
        (each look starts a Wine program: seconds under emulation and load)."""
        last = {}
        try:
            return wait_until(lambda: last.update(H.probe("info", hwnd)[1]) or
                              all(last.get(key) == value for key, value in expected.items()) and last, timeout, what)
        except AssertionError as error:
            raise AssertionError("%s; the window: %r" % (error, last))

    def click(self, hwnd, point):
        _, info = H.probe("info", hwnd)
        left, top = (int(v) for v in info["rect"].split(",")[:2])
        self.click_at(left + point[0], top + point[1])

    def click_at(self, x, y, title=""):
        """A click at a point of the screen, once the display shows there a
        window of the last loader whose title starts so: Wine maps a window
        a while after it shows it."""
        def over():
            where = self.xdotool("mousemove", str(x), str(y), "getmouselocation").partition("window:")[2].strip()
            said = self.xdotool("getwindowpid", where, "getwindowname", where).split("\n")
            return said[0].isdigit() and int(said[0]) in program_pids(self.loaders[-1]) and said[1].startswith(title)
        wait_until(over, 60, "a window %r of the loader under the pointer at %d, %d" % (title, x, y))
        self.xdotool("click", "1")

    def xdotool(self, *args):
        return subprocess.run(["xdotool"] + list(args), env=H.env(), stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL).stdout.decode("utf-8", "replace")

    def set_temp_folder(self, folder):
        """The user's TEMP and TMP for the test's Wine programs, put back after it."""
        with tempfile.NamedTemporaryFile(dir=self.work, suffix=".reg", delete=False) as saved:
            H.reg("export", r"HKCU\Environment", H.windows_path(saved.name), "/y")
        self.addCleanup(H.reg, "import", H.windows_path(saved.name))
        for name in ("TEMP", "TMP"):
            H.reg("add", r"HKCU\Environment", "/v", name, "/t", "REG_EXPAND_SZ", "/d", folder, "/f")

    def cdn_url(self, port_name):
        return "https://%s:%s%s" % (proxies.CDN_HOST, H.values[port_name], INSTALLER)

    def answer_proxy_prompt(self, user=None, password=None, timeout_s=60):
        """Waits for the system's proxy password prompt over the loader's
        window and answers it as a user would: types into its fields and
        clicks OK, or with no user clicks Cancel; then waits until it has
        closed. Its title."""
        code, prompt = H.probe("prompt", str(timeout_s * 1000), timeout=timeout_s + 30)
        self.assertEqual(code, 0, "no password prompt over the loader's window")

        def centre(name):
            left, top, right, bottom = (int(v) for v in prompt[name].split(","))
            return (left + right) // 2, (top + bottom) // 2
        for field, text in ((("user", user), ("password", password)) if user is not None else ()):
            self.click_at(*centre(field), prompt["title"])
            # Keys go where the focus is when they come: to the field once
            # the click has given it the focus.
            self.assertEqual(H.probe("focused", prompt[field + "window"], "30000")[0], 0, field + " not focused")
            self.xdotool("type", "--delay", "20", text)
        self.click_at(*centre("ok" if user is not None else "cancel"), prompt["title"])
        self.assertEqual(H.probe("gone", prompt["hwnd"], "30000")[0], 0, "the prompt did not close")
        return prompt["title"]


class Road(EndToEndCase):
    """The download and the launch, as the servers and the files see them."""

    # --- the road of one run --------------------------------------------------
    def test_road_of_one_run(self):
        data = installer_bytes(300000)
        self.serve(data)
        self.assertEqual(self.run_loader(exit_code=5), 1, "exit code after a completed installation")

        entries = [e for e in self.nginx.wait_for(5) if is_stats(e) or is_installer(e)]
        # The run event is queued first, and nothing waits for its answer:
        # where it lands among the download's requests is not fixed.
        self.assertEqual(self.stats_kinds(self.nginx), ["run", "downloaded", "finished:5"])
        self.assertEqual([(e.method, stats_type(e) if is_stats(e) else e.path) for e in entries
                          if not (is_stats(e) and stats_type(e) == "run")], [
            ("HEAD", INSTALLER),
            ("GET", INSTALLER),
            ("GET", "downloaded"),
            ("GET", "finished:5"),
        ])
        head, get = [e for e in entries if is_installer(e)]
        self.assertEqual(head.header("User-Agent"), "KovraLoader")
        self.assertEqual(get.header("Range"), "bytes=0-")
        self.assertEqual(get.sent, len(data))

        run = self.assert_installed(data)[0]
        self.assertEqual(run["exe"].lower(), self.temp_windows().lower())
        self.assertTrue(run["cmdline"].endswith("--no-gui --only-kovra-icon"), run["cmdline"])
        self.assertEqual(run["cwd"].rstrip("\\").lower(), self.temp_windows("").rstrip("\\").lower())
        self.assertEqual(run["show"], "0", "started hidden")

    def test_second_start_exits_at_once_without_a_request(self):
        self.serve(installer_bytes(100000), where="scripted")
        # The first loader's download stalls: it is surely still running.
        H.script(INSTALLER, default={"stall": 1000, "hold": 120})
        first = self.start_loader(scripted=True)
        self.find_window()
        self.assertEqual(self.run_loader(scripted=True), 0)
        self.assertIsNone(first.poll(), "the first loader goes on")
        # A loader past the single-instance check sends its run event before
        # anything else: the one here is the first loader's. The second has
        # ended, so every statistics request it made has been answered.
        kinds = [stats_type(e) for e in self.scripted.settled(STATS) if is_stats(e)]
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
        installer = self.installer_requests(self.scripted)
        self.assertEqual([e.method for e in installer], ["HEAD"], "no further attempt")

    def test_redirect_to_a_local_path_is_never_handed_to_the_shell(self):
        opened = self.record_browser()
        # A Location naming a local program. The downloader takes it as a path
        # on the same server, so at most that web page may be opened. The
        # program lies in the prefix's TEMP, a path without spaces wherever
        # the clone lives.
        shutil.copy(STANDIN, self.final_path("local-program.exe"))
        self.addCleanup(remove, self.final_path("local-program.exe"))
        local = self.temp_windows("local-program.exe")
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
        # to a signed URL on another host, whose query may hold an "@": it
        # belongs to the query, and the GET goes to the host named.
        data = installer_bytes(300000)
        self.serve(data, where="scripted")
        signed = "http://cdn.kovra.example/blob/KovraInstallerD1.exe?sig=a@b.example"
        H.script(INSTALLER, steps=[{"method": "GET", "status": 302, "location": signed}])
        H.script("/blob/KovraInstallerD1.exe", default={"file": "KovraInstallerD1.exe"})
        self.assertEqual(self.run_loader(timeout=120, scripted=True), 1)
        gets = [e for e in self.scripted.entries() if e.method == "GET" and not is_stats(e)]
        self.assertEqual([(e.path, e.status, e.header("Range")) for e in gets], [
            (INSTALLER, 302, "bytes=0-"), ("/blob/KovraInstallerD1.exe?sig=a@b.example", 206, "bytes=0-")])
        self.assertTrue(gets[1].target.startswith("http://cdn.kovra.example"), gets[1].target)
        self.assertEqual(gets[1].header("Host"), "cdn.kovra.example")
        self.assert_installed(data)
        self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:0"])

    def test_head_refused_or_the_version_named_only_by_an_etag(self):
        # Signed URLs refuse every method but the one signed: the ranged GET
        # does the HEAD's work, and a cut continues under If-Range with the
        # version the file holds. Where only a strong ETag names the version,
        # a cut continues with the tag; a new tag, or a weak one, starts over.
        old = installer_bytes(total=3000000, seed=b"old")
        new = installer_bytes(total=2000000, seed=b"new")
        self.serve(old, where="scripted", mtime=1700000000)
        self.serve(new, where="scripted", name="new.exe")
        blob, cut = "/blob/KovraInstallerD1.exe", {"method": "GET", "cut": 1000000}
        v1, weak = {"lm": "none", "etag": '"v1"'}, {"lm": "none", "etag": 'W/"v1"'}
        old_v1 = [dict(v1, file="KovraInstallerD1.exe", method="HEAD"), dict(v1, file="KovraInstallerD1.exe", **cut)]
        rows = [  # what, {path: (steps, default)}, what runs, the requests, the last GET's If-Range
            ("HEAD 403", {INSTALLER: ([], {"refusehead": 403})}, old, "HEAD 403, GET 206 0-", None),
            ("HEAD 405", {INSTALLER: ([], {"refusehead": 405})}, old, "HEAD 405, GET 206 0-", None),
            ("HEAD 501", {INSTALLER: ([], {"refusehead": 501})}, old, "HEAD 501, GET 206 0-", None),
            ("HEAD 403 after a redirect", {INSTALLER: ([], {"status": 302, "location": blob}),
                                           blob: ([], {"file": "KovraInstallerD1.exe", "refusehead": 403})},
             old, "HEAD 302, HEAD 403, GET 206 0-", None),
            ("HEAD 405, a cut", {INSTALLER: ([cut], {"refusehead": 405})}, old,
             "HEAD 405, GET 206 0-, HEAD 405, GET 206 1000000-", "Tue, 14 Nov 2023 22:13:20 GMT"),
            ("ETag, a cut", {INSTALLER: ([cut], v1)}, old, "HEAD 200, GET 206 0-, HEAD 200, GET 206 1000000-", '"v1"'),
            ("ETag, a new version between the attempts", {INSTALLER: (old_v1, dict(v1, file="new.exe", etag='"v2"'))},
             new, "HEAD 200, GET 206 0-, HEAD 200, GET 206 0-", None),
            ("a weak ETag, a cut", {INSTALLER: ([cut], weak)}, old, "HEAD 200, GET 206 0-, HEAD 200, GET 206 0-", None),
        ]
        for what, scripts, data, expected, if_range in rows:
            with self.subTest(what):
                self.scripted.mark()
                remove(self.record)
                self.clean_temp()
                H.reset_scripts()
                for path, (steps, default) in scripts.items():
                    H.script(path, steps=steps, default=default)
                self.assertEqual(self.run_loader(timeout=120, scripted=True), 1)
                requests = [e for e in self.scripted.entries() if not is_stats(e)]
                ranges = [" " + e.header("Range")[6:] if e.header("Range") else "" for e in requests]
                self.assertEqual(", ".join("%s %d%s" % (e.method, e.status, r) for e, r in zip(requests, ranges)),
                                 expected)
                self.assertEqual(requests[-1].header("If-Range"), if_range)
                self.assertEqual(requests[-1].sent, len(data) - int(requests[-1].header("Range")[6:-1]))
                self.assert_installed(data)
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
        heads = self.installer_requests(self.scripted, "HEAD")
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

    def test_no_temporary_folder_gives_up_at_once(self):
        # A temporary folder the platform refuses to give (Wine: longer than
        # MAX_PATH) leaves no usable target: no download, no installer.
        self.serve(installer_bytes(1000))
        self.set_temp_folder("C:\\" + "folder\\" * 40)
        self.assertEqual(self.run_loader(timeout=120), 1)
        entries = self.nginx.wait_for(1)
        self.assertEqual([stats_type(e) if is_stats(e) else e.method for e in entries], ["run"])
        self.assertEqual(read_record(self.record), [])


class Launch(EndToEndCase):
    """A download continued by the next run, the loader under other names
    and folders, and the installer's launch."""

    def test_resume_across_loader_runs(self):
        data = installer_bytes(4000000)
        self.serve(data, where="scripted")
        H.script(INSTALLER, default={"rate": 500000})
        first = self.start_loader(scripted=True)
        partial = self.final_path() + ".dul!"
        poll(lambda: os.path.exists(partial) and os.path.getsize(partial) >= 1000000, 60)
        self.kill_loaders()
        first.wait(timeout=30)
        # The server logs the held GET once it sees the loader gone.
        self.scripted.settled(INSTALLER)
        have = os.path.getsize(partial)
        self.assertGreater(have, 0)
        self.assertLess(have, len(data))

        H.reset_scripts()
        second_log = H.scripted_log()
        self.assertEqual(self.run_loader(scripted=True), 1)
        gets = self.installer_requests(second_log, "GET")
        self.assertEqual(len(gets), 1)
        self.assertEqual(gets[0].header("Range"), "bytes=%d-" % have)
        self.assertEqual(gets[0].status, 206)
        self.assertEqual(gets[0].sent, len(data) - have, "only the missing bytes")
        self.assert_installed(data)

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
                where = os.path.join(temp, name) if temp else name
                runs = self.assert_installed(data, name=where)
                self.assertEqual(runs[0]["exe"].lower(), self.temp_windows(where).replace("/", "\\").lower())
                self.assertEqual(self.stats_kinds(self.nginx), ["run", "downloaded", "finished:0"])
                self.assertEqual(os.listdir(temp_folder) if temp else [], [], "nothing left in the temporary folder")

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
                runs = self.assert_installed(data, name=os.path.join(sub, installer))
                # Wine names a program started by its short path in the long form.
                expected = self.temp_windows(os.path.join(sub, installer).replace("/", "\\"))
                self.assertEqual(runs[0]["exe"].lower(), expected.lower())
                with open(inside, "rb") as f, open(LOADER, "rb") as original:
                    self.assertEqual(f.read(), original.read(), "the loader itself is left as it was")
                os.remove(inside)

    # --- the installer launch -----------------------------------------------
    def remove_before_launch(self, loader):
        """Removes the installer between its rename and its launch: the loader
        is stopped once the file is there, and goes on without it."""
        self.freeze_when(loader, lambda: os.path.exists(self.final_path()), 60, "the installer in place")
        os.remove(self.final_path())
        signal_program(loader, signal.SIGCONT)

    def test_installer_deleted_before_launch_reruns_the_sequence(self):
        data = installer_bytes(1000)
        self.serve(data, where="scripted")
        loader = self.start_loader(scripted=True, exit_code=5)
        self.remove_before_launch(loader)
        self.assertEqual(loader.wait(timeout=120), 1)
        self.assertEqual(self.stats_kinds(self.scripted),
                         ["run", "downloaded", "downloaded", "finished:5", "finished:0"])
        heads = self.installer_requests(self.scripted, "HEAD")
        self.assertEqual(len(heads), 2)
        self.assert_installed(data)

    def test_installer_removed_every_time_is_given_up(self):
        # Something removes every fresh installer: after three more downloads
        # the launch reports "file not found" (2) instead of nesting for ever.
        self.serve(installer_bytes(1000), where="scripted")
        loader = self.start_loader(scripted=True)
        for _ in range(4):
            self.remove_before_launch(loader)
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
        chunked = {"chunked": True, "unsized": True}
        cases = {"closed": ([], {"unsized": True, "norange": True}, ["bytes=0-"]),
                 "chunked": ([], {"chunked": True, "norange": True}, ["bytes=0-"]),
                 # Cut before its last chunk, by a server that answers ranges.
                 "chunked-cut": ([dict(chunked, method="GET", cut=120000)], chunked, ["bytes=0-", "bytes=120000-"]),
                 "cut": ([dict(sized, method="GET", cut=120000)], sized, ["bytes=0-", "bytes=120000-"])}
        for case, (steps, answer, ranges) in cases.items():
            with self.subTest(case=case):
                self.scripted.mark()
                self.clean_temp()
                H.script(INSTALLER, steps=steps, default=answer)
                record = self.record + "." + case
                remove(record)
                self.assertEqual(self.run_loader(scripted=True, KOVRA_STANDIN_RECORD=H.windows_path(record)), 1)
                gets = self.installer_requests(self.scripted, "GET")
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
        # Nothing waits for the run event: its place before the HEAD is not fixed.
        self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:5"])
        self.assertEqual([(e.method, stats_type(e) if is_stats(e) else e.path) for e in entries
                          if not (is_stats(e) and stats_type(e) == "run")],
                         [("HEAD", INSTALLER), ("GET", INSTALLER), ("GET", "downloaded"), ("GET", "finished:5")])
        get = [e for e in entries if is_installer(e)][1]
        self.assertEqual(get.header("Range"), "bytes=0-")
        self.assertEqual(get.header("User-Agent"), "KovraLoader")
        rows = self.squid_requests()
        self.assertEqual([(status, method) for status, method, url, _, _ in rows if STATS in url], [(200, "GET")] * 3)
        self.assertEqual([(status, method) for status, method, url, _, _ in rows if STATS not in url],
                         [(200, "HEAD"), (206, "GET")])
        self.assert_installed(data)

    def test_cut_transfer_continues_through_squid(self):
        # The server cuts the body; squid passes the cut on, and the next
        # attempt asks for exactly what is missing.
        data = installer_bytes(total=3000000)
        self.serve(data, where="scripted")
        H.script(INSTALLER, steps=[{"method": "GET", "cut": 1000000}])
        self.assertEqual(self.run_loader(through="squid"), 1)
        gets = self.installer_requests(self.scripted, "GET")
        self.assertEqual([(e.header("Range"), e.sent) for e in gets],
                         [("bytes=0-", 1000000), ("bytes=1000000-", len(data) - 1000000)])
        self.assert_installed(data)

    def test_version_changed_between_attempts_through_squid(self):
        # A part of the old version is never finished with the new one's bytes.
        old = installer_bytes(total=3000000, seed=b"old version")
        new = installer_bytes(total=2000000, seed=b"new version")
        self.serve(old, where="scripted", name="old.exe", mtime=1700000000)
        self.serve(new, where="scripted", name="new.exe", mtime=1700086400)
        H.script(INSTALLER, steps=[{"method": "HEAD", "file": "old.exe"},
                                   {"method": "GET", "file": "old.exe", "cut": 1000000}], default={"file": "new.exe"})
        self.assertEqual(self.run_loader(through="squid"), 1)
        gets = self.installer_requests(self.scripted, "GET")
        self.assertEqual([(e.header("Range"), e.sent) for e in gets], [("bytes=0-", 1000000), ("bytes=0-", len(new))])
        self.assert_installed(new)

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
        cdn = self.installer_requests(self.nginx)
        self.assertEqual([(e.method, e.status, e.header("Range"), e.sent) for e in cdn],
                         [("GET", 206, "bytes=0-", len(data))])
        self.assert_installed(data)
        self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:0"])

    def test_untrusted_certificate_is_refused_and_the_job_retries(self):
        self.serve(installer_bytes(300000), where="scripted", mtime=1700000000)
        self.serve(installer_bytes(300000), where="nginx", mtime=1700000000)
        H.script(INSTALLER, default={"method": "GET", "status": 302,
                                     "location": self.cdn_url("KOVRA_STRAY_TLS_PORT")})
        loader = self.start_loader(through="squid")
        tunnel = "%s:%s" % (proxies.CDN_HOST, H.values["KOVRA_STRAY_TLS_PORT"])
        wait_until(lambda: len([r for r in self.squid_requests("CONNECT") if r[2] == tunnel]) >= 3, 120,
                   "three CONNECTs")
        self.assertIsNone(loader.poll(), "the job goes on retrying")
        self.assertGreaterEqual(len([r for r in self.squid_requests("CONNECT") if r[2] == tunnel]), 3)
        self.assertEqual(self.installer_requests(self.nginx), [], "no request over the refused TLS")
        self.assertFalse(os.path.exists(self.final_path()))
        self.assertFalse(os.path.exists(self.final_path() + ".dul!") and os.path.getsize(self.final_path() + ".dul!"))
        self.assertEqual(read_record(self.record), [])
        self.assertEqual(self.stats_kinds(self.scripted), ["run"])


class ProxyPassword(EndToEndCase):
    """A proxy that wants a password (squid_auth, before nginx; squid, before
    the scripted server, for CONNECT on its second port): the system's prompt
    over the loader's window, answered here."""

    USER, PASSWORD = "kovra", "p@ss word"
    squid = "squid_auth"

    def setUp(self):
        super().setUp()
        for squid in ("SQUID", "SQUID_AUTH"):
            proxies.write_password_file(H.values["KOVRA_%s_PASSWORDS" % squid], self.USER, self.PASSWORD)
        # Wine keeps a password saved from its prompt here, and fills the
        # next prompt from it.
        H.reg("delete", r"HKCU\Software\Wine\Wine\Mpr", "/f")

    def installer_rows(self):
        return [(status, method, user) for status, method, url, user, _ in self.squid_requests()
                if url.endswith(INSTALLER)]

    def installs_through(self, through, *passwords):
        """The installer served behind that squid runs once each prompt has
        been answered with the next password; the last prompt's title."""
        data = installer_bytes(300000)
        self.serve(data, where="scripted" if through.startswith("squid:") else "nginx", mtime=1700000000)
        loader = self.start_loader(through=through)
        titles = [self.answer_proxy_prompt(self.USER, password) for password in passwords]
        self.assertEqual(loader.wait(timeout=120), 1)
        self.assert_installed(data)
        return titles[-1]

    def stats_rows(self):
        return [(status, user) for status, _, url, user, _ in self.squid_requests() if STATS in url]

    def test_typed_once_then_every_request_gets_through(self):
        self.assertEqual(self.installs_through("squid_auth", self.PASSWORD), "Enter Network Password")
        # The run event, refused before anybody was asked, waited for what
        # the user typed for the download and went again: it arrives, first.
        self.assertEqual(self.stats_kinds(self.nginx), ["run", "downloaded", "finished:0"])
        rows = self.stats_rows()
        self.assertEqual(rows[0], (407, "-"))
        self.assertEqual([row for row in rows if row[0] != 407], [(200, self.USER)] * 3)
        rows = self.installer_rows()
        self.assertEqual(rows[0], (407, "HEAD", "-"))
        self.assertIn((200, "HEAD", self.USER), rows)
        self.assertEqual(rows[-1], (206, "GET", self.USER))

    def test_wrong_password_then_the_right_one(self):
        self.installs_through("squid_auth", "wrong", self.PASSWORD)
        rows = self.installer_rows()
        refused = rows.index((407, "HEAD", self.USER))
        self.assertIn((200, "HEAD", self.USER), rows[refused:])
        self.assertEqual(self.stats_kinds(self.nginx), ["run", "downloaded", "finished:0"])

    def test_a_get_refused_after_a_head_that_passed(self):
        # On squid_auth's second port a HEAD needs no password.
        self.installs_through("squid_auth:second", self.PASSWORD)
        rows = self.installer_rows()
        self.assertEqual(rows[:2], [(200, "HEAD", "-"), (407, "GET", "-")])
        self.assertEqual(rows[-1], (206, "GET", self.USER))

    def test_a_connect_refused_to_an_https_host(self):
        # squid's second port wants a password for CONNECT only: the HEAD and
        # the GET pass, and the GET is sent on to the https CDN. The prompt
        # comes for the CONNECT's 407, the only one of the run. (Wine's
        # WinINet then sends the request again without a CONNECT, which squid
        # refuses with 400, and the next attempt's GET, not sent on, installs:
        # what was typed is not seen going through a tunnel here.)
        H.script(INSTALLER, steps=[{"method": "GET", "status": 302, "location": self.cdn_url("KOVRA_TLS_PORT")}])
        self.installs_through("squid:second", self.PASSWORD)
        rows = self.squid_requests(squid="squid")
        self.assertEqual([(status, user) for status, method, _, user, _ in rows if method == "CONNECT"], [(407, "-")])
        self.assertEqual([row for row in rows if row[0] == 407 and row[1] != "CONNECT"], [])

    def test_no_fourth_prompt_after_three_refused_answers(self):
        self.serve(installer_bytes(300000))
        loader = self.start_loader(through="squid_auth")
        for _ in range(3):
            self.answer_proxy_prompt(self.USER, "wrong")
        # The job goes on with its pauses: two more attempts refused, and
        # neither asked (an asking job waits in its prompt).
        refused = len(self.installer_rows())
        wait_until(lambda: len(self.installer_rows()) >= refused + 2, 60, "two more attempts")
        self.assertEqual(H.probe("prompt", "1000")[0], 1, "a fourth prompt")
        self.assertIsNone(loader.poll(), "the job goes on")
        self.assertEqual({row[:2] for row in self.installer_rows()[refused:]}, {(407, "HEAD")})
        self.assertEqual(read_record(self.record), [])

    def test_cancel_asks_no_more_and_the_job_keeps_retrying(self):
        self.serve(installer_bytes(300000))
        loader = self.start_loader(through="squid_auth")
        self.answer_proxy_prompt()
        # 1, 2 and 4 s of pauses: three more HEADs, each refused, no prompt.
        wait_until(lambda: len(self.installer_rows()) >= 4, 60, "three more attempts")
        self.assertEqual(H.probe("prompt", "1000")[0], 1, "no second prompt")
        self.assertIsNone(loader.poll(), "the job goes on")
        rows = self.installer_rows()
        self.assertGreaterEqual(len(rows), 4, rows)
        self.assertEqual(set(rows), {(407, "HEAD", "-")})
        self.assertEqual(self.stats_kinds(self.nginx), [])
        self.assertFalse(os.path.exists(self.final_path() + ".dul!"))


class Window(EndToEndCase):
    """The window: buttons, keys, messages of other programs."""

    def test_close_button_and_close_command_hide_and_the_job_finishes(self):
        data = installer_bytes(300000)
        self.serve(data, where="scripted")
        # The close command is what Alt+F4 and the taskbar's Close send. The
        # body comes once the window has been looked at.
        for close in ("button", "command"):
            with self.subTest(close=close):
                self.scripted.mark()
                H.script(INSTALLER, default={"pace": len(data), "until": close, "hold": 600})
                loader = self.start_loader(scripted=True, exit_code=7)
                hwnd = self.find_window()
                if close == "button":
                    self.click(hwnd, CLOSE_BUTTON)
                else:
                    self.assertEqual(H.probe("post", hwnd, "0x112", "0xF060", "0")[0], 0)  # SC_CLOSE
                self.info_when(hwnd, "the window hidden", visible="0")
                self.assertIsNone(loader.poll(), "the process goes on")
                H.open_gate(close + " 1")
                self.assertEqual(loader.wait(timeout=120), 1)
                self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:7"])

    def test_messages_from_other_programs_end_nothing(self):
        # Any program can post the window the loader's own messages, forged,
        # and a WM_QUIT, which ends the modal loop: the job goes on to its end.
        data = installer_bytes(300000)
        self.serve(data, where="scripted")
        H.script(INSTALLER, default={"pace": len(data), "until": "looked", "hold": 600})
        loader = self.start_loader(scripted=True, exit_code=7)
        hwnd = self.find_window()
        # Last a minimise (SC_MINIMIZE): the window's thread takes posted
        # messages in order, so once it is minimised it has handled the rest.
        # Before it a timer message of no timer of the loader's: the dialog
        # manager shows its window once more the first time its queue runs
        # empty or it takes a WM_TIMER, and that show would restore the window
        # if it came after the minimise.
        code, _ = H.probe("post", hwnd, "0x8001", "7", "0", "0x8002", "150", "0",
                             "Kovra.LoaderDialog.ShowProgress", "150", "0",
                             "Kovra.LayeredSkinWindow.RunTask", "0", "0x12345678",
                             "Kovra.LayeredSkinWindow.FadeStep", "3", "0",
                             "bar:Kovra.SkinProgressBar.SwitchToStripes", "0", "0",
                             "0x113", "0x4B31", "0", "0x112", "0xF020", "0")
        self.assertEqual(code, 0)
        info = self.info_when(hwnd, "the posted messages handled", iconic="1")
        self.assertEqual((info["exists"], info["visible"], info["marquee"]), ("1", "1", "0"), info)
        self.assertFalse(info["text"].endswith("150%"), info["text"])
        self.assertIsNone(loader.poll(), "the job goes on")
        self.assertEqual(H.probe("post", hwnd, "0x12", "5", "0")[0], 0)  # WM_QUIT
        self.assertEqual(H.probe("gone", hwnd, "20000")[0], 0, "the window ends with its loop")
        H.open_gate("looked 1")
        self.assertEqual(loader.wait(timeout=120), 1)
        self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:7"])
        self.assert_installed(data)

    def test_window_is_shown_while_the_run_event_waits(self):
        # A statistics host that takes every request and never answers. The
        # window does not wait for the run event, nor the installer for the
        # downloaded event; the events still reach the host, each once, in
        # order, each given up after its time-out.
        self.serve(installer_bytes(1000), where="scripted")
        H.script(STATS, default={"silent": True, "hold": 120})
        probe = subprocess.Popen(["wine", PROBE, "first-visible", "60000"], env=H.env(), stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.assertTrue(probe.stdout.readline().startswith(b"ready="))
        # The installer runs until the downloaded event has been given up.
        loader = self.start_loader(scripted=True, **self.installer_until())
        visible = probe.stdout.readline().decode().strip()
        probe.stdout.close()
        probe.wait(timeout=30)
        self.assertTrue(visible.startswith("visible="), visible)
        self.scripted.wait_for(2, match=is_stats, timeout=60)
        self.let_installer_end()
        self.assertEqual(loader.wait(timeout=120), 1)
        events = self.scripted.wait_for(3, match=is_stats, timeout=30)
        self.assertEqual([stats_type(e) for e in events], ["run", "downloaded", "finished:0"])
        self.assertEqual({e.status for e in events}, {0}, "none was answered")
        # The server logs a request once the loader has given it up: the
        # window came before the run event's end, the installer before the
        # downloaded event's.
        self.assertLess(int(visible.partition("=")[2]) / 1000, events[0].time)
        self.assertLess(os.path.getmtime(self.record), events[1].time)

    def test_minimise_button_and_escape(self):
        # The body comes once the steps below are done: they start several
        # Wine programs each, and must all see the window.
        data = installer_bytes(300000)
        self.serve(data, where="scripted")
        H.script(INSTALLER, default={"pace": len(data), "until": "looked", "hold": 600})
        loader = self.start_loader(scripted=True)
        hwnd = self.find_window()
        # Esc goes to the focused window: no effect at all. The window then
        # dragged 10 pixels on: input is taken in order, so once it has
        # moved the Esc has been handled.
        self.click(hwnd, (100, 200))
        left, top, right, bottom = (int(v) for v in H.probe("info", hwnd)[1]["rect"].split(","))
        self.xdotool("key", "Escape", "mousedown", "1", "mousemove_relative", "10", "0", "mouseup", "1")
        moved = "%d,%d,%d,%d" % (left + 10, top, right + 10, bottom)
        info = self.info_when(hwnd, "the window dragged after the Esc", rect=moved)
        self.assertEqual((info["exists"], info["visible"], info["iconic"]), ("1", "1", "0"))
        self.assertIsNone(loader.poll())
        self.click(hwnd, MINIMISE_BUTTON)
        self.info_when(hwnd, "the window minimised", iconic="1")
        H.open_gate("looked 1")
        self.assertEqual(loader.wait(timeout=120), 1)
        self.assertEqual(self.stats_kinds(self.scripted), ["run", "downloaded", "finished:0"])


class Progress(EndToEndCase):
    """The window's text and bar as the download goes."""

    def watch(self, hwnd, look=False, until=None, gate=None):
        """(text, bar) at every change, or with look (text, bar, stripes)
        until the window has its installing look or is gone; with until,
        until() has returned after the watch had begun. The gate is opened
        once it has."""
        watcher = subprocess.Popen(["wine", PROBE, "watch", hwnd, "600000"] + (["look"] if look else []),
                                   env=H.env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
        with watcher:
            lines = [watcher.stdout.readline()]  # its first look, at once
            if gate:
                H.open_gate(gate)
            if until:
                until()
                watcher.kill()
            lines += watcher.stdout.read().split(b"\n")
        seen = []
        for line in (line.decode("utf-8", "replace") for line in lines if line.count(b"\t") == 2):
            text, bar, marquee = (field.partition("=")[2] for field in line.rstrip("\r\n").split("\t"))
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

        def shown():
            # The next attempt's HEAD comes after the read was handed to the
            # window; a minimise posted after it is handled after that too.
            self.scripted.wait_for(2, match=lambda e: is_installer(e) and e.method == "HEAD", timeout=60)
            self.assertEqual(H.probe("post", hwnd, "0x112", "0xF020", "0")[0], 0)
            self.info_when(hwnd, "the window minimised", iconic="1")
        seen = self.watch(hwnd, until=shown)
        self.kill_loaders()
        loader.wait(timeout=30)
        gets = self.installer_requests(self.scripted, "GET")
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
                # The body comes once the watch has begun (and the window is
                # busy).
                gate = "watched %d" % announced
                H.script(INSTALLER, steps=[{"method": "HEAD", "length": str(announced)}],
                         default={"rate": 200000, "pace": len(data), "until": gate, "hold": 600})
                loader = self.start_loader(scripted=True, **self.installer_until())
                hwnd = self.find_window()
                flood = H.start(PROBE, ["flood", hwnd, "15000"]) if busy else None
                seen = self.watch(hwnd, look=True, gate=gate + " 1")
                self.let_installer_end()
                self.assertEqual(loader.wait(timeout=120), 1)
                if flood:
                    flood.wait(timeout=60)
                percents = [int(text.rpartition(" ")[2].rstrip("%")) for text, _, _ in seen if text]
                self.assertEqual(max(percents or [0]), 100, seen)
                looks = [text for text, _, stripes in seen if stripes]
                self.assertTrue(looks, seen)
                self.assertEqual(set(looks), {TITLE + " - 100%"}, seen)
        self.assert_installed(data, runs=2)

    def test_bar_and_text_agree_again_after_an_attempt_without_a_total(self):
        # 40 % of 1,100,000 bytes; then an attempt whose HEAD has no length
        # continues and steps the bar on 42 times (10,240-byte reads), to 50,
        # in two halves the test lets through once it has looked; then the
        # total is known again, and one more read is at 80 %.
        self.serve(installer_bytes(total=1100000), where="scripted")
        H.script(INSTALLER, steps=[{"method": "HEAD"}, {"method": "GET", "cut": 440000},
                                   {"method": "HEAD", "length": "none"},
                                   {"method": "GET", "cut": 430000, "pace": 21 * READ_BYTES, "until": "half"},
                                   {"method": "HEAD"}, {"method": "GET", "stall": 10240, "hold": 60}])
        loader = self.start_loader(scripted=True)
        hwnd = self.find_window()
        for gate, (text, bar) in enumerate([(TITLE + " - 40%", 40), (TITLE + " - 40%", 45), (TITLE + " - 80%", 80)]):
            if gate:
                H.open_gate("half %d" % gate)
            self.info_when(hwnd, "the bar at %d with %r" % (bar, text), text=text, bar=str(bar))
        self.kill_loaders()
        loader.wait(timeout=30)
        gets = self.scripted.wait_for(3, match=lambda e: is_installer(e) and e.method == "GET")
        self.assertEqual([e.header("Range") for e in gets[:3]], ["bytes=0-", "bytes=440000-", "bytes=870000-"])

    def test_without_a_total_the_bar_steps_then_shows_100_before_installing(self):
        data = installer_bytes(200000)
        self.serve(data, where="scripted")
        # The whole body once the watch has begun.
        H.script(INSTALLER, default={"chunked": True, "norange": True, "rate": 40000, "pace": len(data),
                                     "until": "watched", "hold": 600})
        loader = self.start_loader(scripted=True, **self.installer_until())
        seen = self.watch(self.find_window(), look=True, gate="watched 1")
        self.let_installer_end()
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
        # The HEAD answer has no length. The server sends the body one of the
        # loader's reads at a time, each once the test has seen the step of
        # the one before: it sees every step however slow the machine.
        self.serve(installer_bytes(600000), where="scripted")
        H.script(INSTALLER, steps=[{"method": "HEAD", "length": "none"}], default={"pace": READ_BYTES, "until": "read"})
        loader = self.start_loader(scripted=True)
        hwnd = self.find_window()
        for read in range(1, 6):
            H.open_gate("read %d" % read)
            # No percentage without a total.
            self.info_when(hwnd, "the bar at %d after %d reads" % (5 * read, read), bar=str(5 * read), text="")
        self.assertIsNone(loader.poll())
        self.kill_loaders()
        loader.wait(timeout=30)


if __name__ == "__main__":
    unittest.main(verbosity=2)
