"""Helpers for Python tests that drive the real programs under Wine.

The harness (harness.py run) has given the test an instance of its own: a
Wine prefix, Xvfb, nginx and the scripted server; its values are in
$KOVRA_HARNESS_DIR/env.json. Test programs of the build are in $KOVRA_BIN_DIR.
LoaderCase is what the tests of the real loader share, FaultCase what the
fault tests add to it.
"""

import contextlib
import hashlib
import itertools
import json
import os
import random
import re
import signal
import subprocess
import time
import unittest
import urllib.request

import proxies
from harness import wine_up

INSTALLER = "/KovraInstallerD1.exe"
STATS = "/update/2/version.txt"
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def program_constant(header, name):
    """A number the program defines ("name = number;") in one of its headers."""
    with open(os.path.join(SOURCE, header)) as f:
        return int(re.search(r"\b%s = (\d+);" % name, f.read()).group(1))


class LogEntry:
    def __init__(self, fields):
        self.server = fields[0]
        self.time = float(fields[1])
        self.request_line = unescape(fields[2])
        words = self.request_line.split(" ")
        self.method = words[0]
        self.target = words[1] if len(words) > 1 else ""
        self.status = int(fields[3]) if fields[3].isdigit() else 0
        self.sent = int(fields[4]) if fields[4].isdigit() else 0
        self.headers = []
        for field in fields[5:]:
            name, sep, value = unescape(field).partition(": ")
            if not sep or (self.server == "nginx" and value == "-"):
                continue
            self.headers.append((name, value))

    def header(self, name):
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None

    @property
    def path(self):
        """Path and query of the target, also for absolute-form targets."""
        if "://" not in self.target:
            return self.target
        rest = self.target.split("://", 1)[1]
        return rest[rest.find("/"):] if "/" in rest else "/"

    def __repr__(self):
        return "<%s %s %d sent=%d>" % (self.server, self.request_line, self.status, self.sent)


def unescape(text):
    """A log field as it came: \\xHH is the byte HH (the logs are read as latin-1)."""
    return re.sub(r"\\x([0-9A-Fa-f]{2})", lambda match: chr(int(match.group(1), 16)), text)


class ServerLog:
    """Entries a server wrote after the mark. A server writes an entry once
    its answer is done: settle(match) tells whether every answer it has
    given so far (to a request line containing match) is written."""

    def __init__(self, path, settle=None, offset=None):
        self.path, self.settle = path, settle
        self.mark(offset)

    def mark(self, offset=None):
        self.offset = offset if offset is not None else os.path.getsize(self.path) if os.path.exists(self.path) else 0

    def entries(self):
        if not os.path.exists(self.path):
            return []
        with open(self.path, "rb") as f:
            f.seek(self.offset)
            data = f.read().decode("latin-1")
        lines = data.split("\n")[:-1]  # an unfinished last line is read next time
        return [LogEntry(line.split("\t")) for line in lines if line.count("\t") >= 4]

    def wait_for(self, count, timeout=15, match=None):
        def found():
            return [e for e in self.entries() if match is None or match(e)]
        poll(lambda: len(found()) >= count, timeout)
        return found()

    def settled(self, match=""):
        """The entries once every answer given so far is among them."""
        wait_until(lambda: self.settle(match), 60, "the server to log every answer it gave")
        return self.entries()

    def netstrings(self, match=""):
        """settled() for the C++ tests (tests/support/ServerLog.cpp): each
        entry as its server, request line, method, target, status, bytes
        sent and header count, then each header's name and value, every
        field "<length>:<bytes>"."""
        fields = []
        for e in self.settled(match):
            fields += [e.server, e.request_line, e.method, e.target, str(e.status), str(e.sent), str(len(e.headers))]
            fields += [part for header in e.headers for part in header]
        return "".join("%d:%s" % (len(field), field) for field in fields).encode("latin-1")


def nginx_idle(port, host):
    """Whether nginx has written every answer it has taken a request for:
    it reads and answers none but this one. Its one worker takes the
    connections in the order they came."""
    request = urllib.request.Request("http://%s/__kovra_status" % host)
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({"http": "http://127.0.0.1:%d" % port}))
    with opener.open(request, timeout=10) as answer:
        status = answer.read().decode("latin-1")
    return re.search(r"Reading: (\d+) Writing: (\d+)", status).groups() == ("0", "1")


class Harness:
    def __init__(self):
        self.state = os.environ["KOVRA_HARNESS_DIR"]
        self._launches = itertools.count(1)
        with open(os.path.join(self.state, "env.json")) as f:
            self.values = json.load(f)
        self.bin_dir = os.environ.get("KOVRA_BIN_DIR", "")
        self.temp_dir = self.values["KOVRA_TEMP_DIR"]
        self.download_root = os.path.join(self.state, "www", "download")
        self.scripted_root = os.path.join(self.state, "www", "scripted")
        self.scripted_port = int(self.values["KOVRA_SCRIPTED_PORT"])
        self.download_host = self.values["KOVRA_DOWNLOAD_HOST"]
        self.stats_host = self.values["KOVRA_STATS_HOST"]

    # --- Wine ---------------------------------------------------------------
    def env(self, **overrides):
        return {**os.environ, **self.values, **overrides}

    def program(self, name):
        return os.path.join(self.bin_dir, name)

    def run(self, program, args=(), timeout=120, preexec_fn=None, **overrides):
        """Runs a program to its end; on a time-out its whole process group
        is ended before subprocess.TimeoutExpired is raised."""
        process = subprocess.Popen(["wine", program] + list(args), env=self.env(**overrides),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   start_new_session=True, preexec_fn=preexec_fn)
        try:
            out, err = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            raise
        return subprocess.CompletedProcess(process.args, process.returncode, out, err)

    def start(self, program, args=(), **overrides):
        """The process started as ["wine", program, ...], marked so that
        program_pids() finds the process that runs the program."""
        launch = "%d.%d" % (os.getpid(), next(self._launches))
        # Output goes to a file of the instance: a pipe nobody reads could
        # fill and stop it, and a process that dies of a signal says why there.
        output = os.path.join(self.state, "output-%s.txt" % launch)
        with open(output, "wb") as out:
            process = subprocess.Popen(["wine", program] + list(args), env=self.env(KOVRA_LAUNCH=launch, **overrides),
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        process.launch, process.windows_path, process.output = launch, self.windows_path(program), output
        return process

    def serve(self, data, where="nginx", name="KovraInstallerD1.exe", mtime=None):
        """A file on a server, nginx's download host or the scripted server;
        a server never sees half a file."""
        path = os.path.join(self.download_root if where == "nginx" else self.scripted_root, name)
        with open(path + ".new", "wb") as f:
            f.write(data)
        if mtime is not None:
            os.utime(path + ".new", (mtime, mtime))
        os.replace(path + ".new", path)
        return path

    def windows_path(self, unix_path):
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    def probe(self, *args, timeout=60):
        """window_probe.exe with these arguments: its exit code and the
        key=value lines it printed."""
        result = self.run(self.program("window_probe.exe"), list(args), timeout=timeout)
        lines = result.stdout.decode("utf-8", "replace").splitlines()
        return result.returncode, dict(line.partition("=")[::2] for line in lines)

    def restart_wine(self):
        """Ends every Wine process of the instance's prefix and starts its
        server, services and the keeper of its desktop again, as the
        harness does: what Wine reads when its desktop starts is read anew.
        The instance's end ends them as it ends the first ones."""
        env = self.env()
        subprocess.run(["wineserver", "-k"], env=env, timeout=60)
        subprocess.run(["wineserver", "-w"], env=env, timeout=60)
        wine_up(env, self.program("window_probe.exe"), lambda args, **options: subprocess.Popen(
            args, env=env, stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True, **options))

    def reg(self, *args):
        return subprocess.run(["wine", "reg"] + list(args), env=self.env(), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)

    # --- servers ------------------------------------------------------------
    def nginx_log(self):
        return ServerLog(os.path.join(self.state, "nginx", "access.log"),
                         lambda match: nginx_idle(int(self.values["KOVRA_NGINX_PORT"]), self.download_host))

    def scripted_log(self):
        return ServerLog(os.path.join(self.state, "scripted.log"),
                         lambda match: not [line for line in self.scripted_state()["pending"] if match in line])

    def squid_log(self, name="squid", since=0):
        """(status, method, URL, user, bytes) of each request a squid of the
        instance logged (the kinds squid and squid_auth, harness.py) whose
        header came at the time since or later."""
        return proxies.squid_log(os.path.join(self.state, name, "access.log"), since)

    def squid_idle(self, name="squid"):
        """Whether a squid of the instance holds no client's connection (its
        ports' connections in /proc/net/tcp: established or closing)."""
        ports = {"0100007F:%04X" % int(self.values["KOVRA_%s_%sPORT" % (name.upper(), second)])
                 for second in ("", "SECOND_")}
        with open("/proc/net/tcp") as f:
            return not [row for row in (line.split() for line in f) if row[1] in ports and row[3] in ("01", "08")]

    def squid_url(self, through):
        """The proxy URL of a squid: "squid", or "squid:second" for its second port."""
        name, _, second = through.partition(":")
        return "http://127.0.0.1:%s" % self.values["KOVRA_%s_%sPORT" % (name.upper(), "SECOND_" if second else "")]

    def _control(self, path, body=b""):
        """POSTs to the scripted server's control path; what it answered."""
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (self.scripted_port, path), data=body,
                                         method="POST")
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        with opener.open(request, timeout=10) as answer:
            return answer.read()

    def script(self, path, steps=(), default=None):
        """Answers of the scripted server for a path: steps one per request, then default."""
        script = {"path": path, "steps": list(steps), "default": default or {}}
        return self._control("/__control/script", json.dumps(script).encode("utf-8"))

    def reset_scripts(self):
        return self._control("/__control/reset")

    def open_gate(self, name):
        """Ends the delays and rates of the scripted answers waiting for it (until=)."""
        return self._control("/__control/open", name.encode("utf-8"))

    def scripted_state(self):
        """The scripted server's answers in progress and its aborted answers."""
        return json.loads(self._control("/__control/state").decode("utf-8"))


def program_pids(process):
    """The Unix processes that run the Windows program a process of start()
    runs: under Wine 8 the process itself; Wine 10 under emulation runs the
    program in a process of its own (its parent is init), while the one
    started only waits for it. That one carries the launch's mark in its
    environment and names the program by its Windows path; an installer the
    program starts inherits the mark, but not the path."""
    mark = ("KOVRA_LAUNCH=%s" % process.launch).encode()
    pids = [process.pid]
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) == process.pid:
            continue
        try:
            with open("/proc/%s/environ" % name, "rb") as f:
                if mark not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/cmdline" % name, "rb") as f:
                args = f.read().decode("utf-8", "replace").split("\0")
        except OSError:
            continue
        if any(arg.lower() == process.windows_path.lower() for arg in args):
            pids.append(int(name))
    return pids


def signal_program(process, number):
    """Sends the signal to every process that runs the program, the one that
    waits for it last."""
    for pid in reversed(program_pids(process)):
        with contextlib.suppress(OSError):
            os.kill(pid, number)


def poll(predicate, timeout, step=0.05):
    """predicate()'s value once it is true, or its last one after timeout seconds."""
    deadline = time.time() + timeout
    while True:
        value = predicate()
        if value or time.time() > deadline:
            return value
        time.sleep(step)


def wait_until(predicate, timeout, what, step=0.05):
    """Polls until predicate() gives a true value; fails the test after timeout."""
    value = poll(predicate, timeout, step)
    if not value:
        raise AssertionError("timed out after %.0f s waiting for %s" % (timeout, what))
    return value


_harness = None


def harness():
    """The test's instance (read once)."""
    global _harness
    if _harness is None:
        _harness = Harness()
    return _harness


# --- the real loader ----------------------------------------------------------------
def installer_bytes(padding=0, seed=b"kovra", total=None):
    """The stand-in installer (it records how it was started and the SHA-256
    of the file that ran), optionally followed by extra bytes (it still runs)
    up to total bytes in all."""
    with open(harness().program("kovra-standin-installer.exe"), "rb") as f:
        data = f.read()
    padding = padding if total is None else total - len(data)
    out = bytearray(data)
    block = hashlib.sha256(seed).digest()
    while len(out) < len(data) + padding:
        block = hashlib.sha256(block).digest()
        out += block
    return bytes(out[:len(data) + padding])


def remove(*paths):
    """Removes those of the files that exist."""
    for path in paths:
        with contextlib.suppress(FileNotFoundError):
            os.remove(path)


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def is_stats(entry):
    return entry.path.startswith(STATS)


def is_installer(entry):
    return entry.path == INSTALLER


def stats_type(entry):
    """The event of a statistics request: "run", "downloaded", "finished:<exit code>"."""
    query = entry.path.split("?", 1)[1] if "?" in entry.path else ""
    params = dict(p.partition("=")[::2] for p in query.split("&"))
    kind = params.get("type", "")
    if kind == "qloader_finished":
        return "finished:" + params.get("exit_code", "")
    return kind.replace("qloader_", "")


def read_record(path):
    """The stand-in's records: a list of dicts, one per start."""
    if not os.path.exists(path):
        return []
    runs, current = [], {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            key, _, value = line.rstrip("\n").partition("=")
            if key == "end":
                runs.append(current)
                current = {}
            else:
                current[key] = value
    return runs


class LoaderCase(unittest.TestCase):
    """The real loader in the test's instance, one case at a time: each case
    starts with a clean temporary folder, no installer served and no scripts,
    and leaves no loader, installer or window behind."""

    # The server that serve() gives the installer to, and that loader_env()
    # sends the fixed hosts to, unless told otherwise.
    server = "nginx"
    # What a case may leave running: loaders under their names, an installer
    # (it runs under the loader's own name), Wine's debugger after a crash.
    strays = ("KovraLoader.exe", "KovraLoaderPinned.exe", "setup (1).exe", "file_swapper.exe", "winedbg.exe")

    def setUp(self):
        self.h = H = harness()
        self.work = os.path.join(H.state, "work")
        os.makedirs(self.work, exist_ok=True)
        H.reset_scripts()
        self.loaders = []
        self.clean_temp()
        for root in (H.download_root, H.scripted_root):
            for name in os.listdir(root):
                if name.startswith("KovraInstaller"):
                    os.remove(os.path.join(root, name))
        self.record = os.path.join(self.work, "record-%s.txt" % self._testMethodName)
        remove(self.record)
        # Marked once the servers have logged every answer to an earlier case.
        self.nginx, self.scripted = H.nginx_log(), H.scripted_log()
        for log in (self.nginx, self.scripted):
            log.settled()
            log.mark()

    def tearDown(self):
        self.kill_loaders()
        self.h.reset_scripts()
        self.clean_temp()

    def clean_temp(self):
        temp = self.h.temp_dir
        for name in os.listdir(temp) if os.path.isdir(temp) else []:
            if name.startswith(("KovraLoader", "setup (1)", "KovraInstallerD1")):
                os.remove(os.path.join(temp, name))

    def serve(self, data, where=None, name="KovraInstallerD1.exe", mtime=None):
        return self.h.serve(data, where or self.server, name, mtime)

    def loader_env(self, exit_code=0, seconds=0, scripted=None, through=None, **more):
        """The environment of a loader: what the stand-in installer records and
        does, with scripted the fixed hosts sent to the scripted server, and
        through a squid of the instance the proxy in their way (squid stands
        before the scripted server, squid_auth before nginx)."""
        env = {"KOVRA_STANDIN_RECORD": self.h.windows_path(self.record),
               "KOVRA_STANDIN_EXIT": str(exit_code),
               "KOVRA_STANDIN_SECONDS": str(seconds)}
        if self.server == "scripted" if scripted is None else scripted:
            env["http_proxy"] = "http://127.0.0.1:%d" % self.h.scripted_port
        if through:
            env["http_proxy"] = self.h.squid_url(through)
        env.update(more)
        return env

    def start_loader(self, program=None, **options):
        """Starts a loader (options: those of loader_env); kill_loaders ends it."""
        loader = self.h.start(program or self.h.program("KovraLoader.exe"), **self.loader_env(**options))
        self.loaders.append(loader)
        return loader

    def installer_until(self):
        """start_loader's options for an installer that runs until
        let_installer_end(): a case that looks at what comes while it runs
        takes as long as it takes."""
        self.installer_may_end = os.path.join(self.work, "installer-may-end")
        remove(self.installer_may_end)
        return {"seconds": 300, "KOVRA_STANDIN_UNTIL": self.h.windows_path(self.installer_may_end)}

    def let_installer_end(self):
        with open(self.installer_may_end, "w"):
            pass

    def run_loader(self, program=None, timeout=180, **options):
        """Runs a loader to its end; its exit code."""
        loader = self.start_loader(program, **options)
        try:
            code = loader.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.fail("the loader did not end within %d s" % timeout)
        if code < 0:
            # Not a code of the program's: Wine's or the emulator's words on it.
            with open(loader.output, "rb") as f:
                said = f.read()[-4000:].decode("utf-8", "replace")
            print("the loader died of signal %d (%s); what its process wrote:\n%s" % (-code, loader.launch, said),
                  flush=True)
        return code

    def kill(self, loader):
        """Kills a loader at once (SIGKILL on the Windows process itself)."""
        if loader.poll() is None:
            signal_program(loader, signal.SIGKILL)
        loader.wait(timeout=60)

    def freeze_when(self, loader, predicate, timeout, what):
        """Stops the loader (SIGSTOP) at the first moment predicate() holds,
        looking only while it is stopped, so that nothing it does next comes
        between; the caller lets it go on (SIGCONT) or kills it."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            signal_program(loader, signal.SIGSTOP)
            if predicate():
                return
            signal_program(loader, signal.SIGCONT)
            time.sleep(0.001)
        raise AssertionError("timed out after %.0f s waiting for %s" % (timeout, what))

    def kill_loaders(self):
        for loader in self.loaders:
            self.kill(loader)
        self.loaders = []
        subprocess.run(["wine", "taskkill", "/F"] + [word for name in self.strays for word in ("/IM", name)],
                       env=self.h.env(), timeout=60, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The next case must not find this one's window.
        self.assertEqual(self.h.probe("none", "20000")[0], 0, "a loader window outlived its process")

    def stats_kinds(self, log):
        return [stats_type(e) for e in log.entries() if is_stats(e)]

    def record_browser(self):
        """Points Wine's browser launcher at a script that appends what it is
        given to a file of this case (removed first); the file."""
        opened = os.path.join(self.work, "opened-%s.txt" % self._testMethodName)
        remove(opened)
        with open(opened + ".sh", "w") as f:
            f.write("#!/bin/sh\nprintf '%%s\\n' \"$@\" >> '%s'\n" % opened)
        os.chmod(opened + ".sh", 0o755)
        key = r"HKCU\Software\Wine\WineBrowser"
        # Wine splits each browser into words as a command line: quoted, a
        # folder with spaces stays one.
        self.h.reg("add", key, "/v", "Browsers", "/d", '"%s.sh"' % opened, "/f")
        self.addCleanup(self.h.reg, "delete", key, "/v", "Browsers", "/f")
        return opened

    def opened(self, path):
        """The URLs handed to the browser so far."""
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return f.read().split()

    def final_path(self, name="KovraLoader.exe"):
        return os.path.join(self.h.temp_dir, name)

    def temp_windows(self, name="KovraLoader.exe"):
        return "%s\\%s" % (self.h.values["KOVRA_TEMP_DIR_WIN"], name)

    def assert_installed(self, data, runs=1, name="KovraLoader.exe"):
        """The installer, saved under that name, ran (runs times), was exactly
        the server's file and is gone; what the runs recorded."""
        record = read_record(self.record)
        self.assertEqual(len(record), runs, "installer starts: %r" % record)
        for run in record:
            self.assertEqual(run["sha256"], sha256(data), "the installer that ran is not the server's file")
        left = [n for n in os.listdir(self.h.temp_dir) if n.endswith(".dul!")]
        self.assertEqual(left, [], "a .dul! file is left after success")
        self.assertFalse(os.path.exists(self.final_path(name)), "the installer is deleted after it ran")
        return record

    def installer_requests(self, log, method=None):
        return [e for e in log.entries() if is_installer(e) and (method is None or e.method == method)]


# --- what the fault tests add ----------------------------------------------------
def soak():
    """KOVRA_FAULTS_SOAK=1 runs the longer variants (more cuts, more kills)."""
    return os.environ.get("KOVRA_FAULTS_SOAK", "") not in ("", "0")


def seeded_random(test_name, default_seed):
    """A random source with a fixed seed, printed so a failure can be replayed
    (KOVRA_FAULTS_SEED overrides it)."""
    seed = int(os.environ.get("KOVRA_FAULTS_SEED", default_seed))
    print("\n%s: seed %d" % (test_name, seed), flush=True)
    return random.Random(seed)


def snapshot(root):
    """Every file under root with its size and modification time."""
    files = {}
    for folder, _, names in os.walk(root):
        for path in (os.path.join(folder, name) for name in names):
            with contextlib.suppress(OSError):
                status = os.lstat(path)
                files[os.path.relpath(path, root)] = (status.st_size, status.st_mtime_ns)
    return files


def changed_files(before, after):
    """Paths created or changed between two snapshots (removed ones too)."""
    return sorted(p for p in set(before) | set(after) if before.get(p) != after.get(p))


class FaultCase(LoaderCase):
    """The loader against the scripted server unless told otherwise."""

    server = "scripted"

    def temp_path(self):
        return self.final_path() + ".dul!"

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def size(self, path):
        try:
            return os.path.getsize(path)
        except OSError:
            return -1

    def assert_prefix_of(self, path, data, what):
        """A temporary file holds a clean beginning of the server's file."""
        if not os.path.exists(path):
            return 0
        have = self.read(path)
        self.assertLessEqual(len(have), len(data), "%s: longer than the server's file" % what)
        self.assertTrue(have == data[:len(have)],
                        "%s: its %d bytes differ from the server's at %d" % (what, len(have), first_difference(have, data)))
        return len(have)

    def assert_running(self, loader, what):
        self.assertIsNone(loader.poll(), "the loader ended (code %r) %s" % (loader.poll(), what))

    # --- server logs ------------------------------------------------------------
    def pending(self, match):
        return [line for line in self.h.scripted_state()["pending"] if match in line]


def first_difference(a, b):
    return next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
