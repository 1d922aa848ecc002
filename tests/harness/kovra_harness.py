"""Helpers for Python tests that drive the real programs under Wine.

The harness (harness.py start) has made the Wine prefix and started nginx, the
scripted server and Xvfb; its values are in $KOVRA_HARNESS_DIR/env.json. Test
programs of the build are in $KOVRA_BIN_DIR.
"""

import json
import os
import signal
import subprocess
import tempfile
import time
import urllib.request


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
        target = self.target
        if "://" in target:
            rest = target.split("://", 1)[1]
            slash = rest.find("/")
            return rest[slash:] if slash >= 0 else "/"
        return target

    def __repr__(self):
        return "<%s %s %d sent=%d>" % (self.server, self.request_line, self.status, self.sent)


def unescape(text):
    out = bytearray()
    i = 0
    raw = text.encode("latin-1", "replace")
    while i < len(raw):
        pair = raw[i + 2:i + 4]
        if raw[i:i + 2] == b"\\x" and len(pair) == 2 and all(chr(c) in "0123456789abcdefABCDEF" for c in pair):
            out.append(int(raw[i + 2:i + 4], 16))
            i += 4
        else:
            out.append(raw[i])
            i += 1
    return out.decode("latin-1")


class ServerLog:
    """Entries a server wrote after the mark (servers write when an answer is done)."""

    def __init__(self, path):
        self.path = path
        self.mark()

    def mark(self):
        self.offset = os.path.getsize(self.path) if os.path.exists(self.path) else 0

    def entries(self):
        if not os.path.exists(self.path):
            return []
        with open(self.path, "rb") as f:
            f.seek(self.offset)
            data = f.read().decode("latin-1")
        lines = data.split("\n")[:-1]  # an unfinished last line is read next time
        return [LogEntry(line.split("\t")) for line in lines if line.count("\t") >= 4]

    def wait_for(self, count, timeout=15, match=None):
        deadline = time.time() + timeout
        while True:
            found = [e for e in self.entries() if match is None or match(e)]
            if len(found) >= count or time.time() > deadline:
                return found
            time.sleep(0.05)


class Harness:
    def __init__(self):
        self.state = os.environ["KOVRA_HARNESS_DIR"]
        with open(os.path.join(self.state, "env.json")) as f:
            self.values = json.load(f)
        self.bin_dir = os.environ.get("KOVRA_BIN_DIR", "")
        self.temp_dir = self.values["KOVRA_TEMP_DIR"]
        self.download_root = os.path.join(self.state, "www", "download")
        self.scripted_root = os.path.join(self.state, "www", "scripted")
        self.nginx_port = int(self.values["KOVRA_NGINX_PORT"])
        self.scripted_port = int(self.values["KOVRA_SCRIPTED_PORT"])
        self.download_host = self.values["KOVRA_DOWNLOAD_HOST"]
        self.stats_host = self.values["KOVRA_STATS_HOST"]

    # --- Wine ---------------------------------------------------------------
    def env(self, **overrides):
        env = dict(os.environ)
        env.update(self.values)
        for key, value in overrides.items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        return env

    def proxy_to_scripted(self):
        """Environment overrides that route the fixed hosts to the scripted server."""
        return {"http_proxy": "http://127.0.0.1:%d" % self.scripted_port}

    def program(self, name):
        return os.path.join(self.bin_dir, name)

    def run(self, program, args=(), timeout=120, **overrides):
        """Runs a program to its end; on a time-out its whole process group
        is ended before subprocess.TimeoutExpired is raised."""
        process = subprocess.Popen(["wine", program] + list(args), env=self.env(**overrides),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   start_new_session=True)
        try:
            out, err = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            raise
        return subprocess.CompletedProcess(process.args, process.returncode, out, err)

    def start(self, program, args=(), **overrides):
        # Output goes to files: a pipe nobody reads could fill and stop it.
        out = tempfile.TemporaryFile()
        return subprocess.Popen(["wine", program] + list(args), env=self.env(**overrides),
                                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)

    def windows_path(self, unix_path):
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    def reg(self, *args):
        return subprocess.run(["wine", "reg"] + list(args), env=self.env(), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)

    def record_browser(self, opened):
        """Points Wine's browser launcher at a script that appends what it is
        given to the file opened (removed first). Returns the undo."""
        if os.path.exists(opened):
            os.remove(opened)
        script = opened + ".sh"
        with open(script, "w") as f:
            f.write("#!/bin/sh\nprintf '%%s\\n' \"$@\" >> '%s'\n" % opened)
        os.chmod(script, 0o755)
        key = r"HKCU\Software\Wine\WineBrowser"
        self.reg("add", key, "/v", "Browsers", "/d", script, "/f")
        return lambda: self.reg("delete", key, "/v", "Browsers", "/f")

    # --- servers ------------------------------------------------------------
    def nginx_log(self):
        return ServerLog(os.path.join(self.state, "nginx", "access.log"))

    def scripted_log(self):
        return ServerLog(os.path.join(self.state, "scripted.log"))

    def _control(self, path, body=b""):
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (self.scripted_port, path), data=body,
                                         method="POST")
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        with opener.open(request, timeout=10) as answer:
            return answer.status == 200

    def script(self, path, steps=(), default=None):
        """Answers of the scripted server for a path: steps one per request, then default."""
        script = {"path": path, "steps": list(steps), "default": default or {}}
        return self._control("/__control/script", json.dumps(script).encode("utf-8"))

    def reset_scripts(self):
        return self._control("/__control/reset")
