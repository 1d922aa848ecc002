#!/usr/bin/env python3
"""Starts and stops what the tests run against, for one build folder.

  harness.py boot  --state DIR [--download-host H] [--stats-host H] [--desktop-keeper EXE]
  harness.py run   --state DIR --name NAME [--servers KIND,...] -- COMMAND [ARGS...]
  harness.py stop  --state DIR

boot (the harness_start test) makes the run's Wine prefix once, in DIR/base.
run gives a test an instance of its own in DIR/tests/NAME, runs the command
in it (KOVRA_HARNESS_DIR names the instance) and ends it; a failed test's
instance is kept for a look. The demo and the benchmarks hold one of their
own (own_instance), in DIR with a prefix booted for it. stop ends what is
left.

An instance is a copy of the booted prefix (Arial mapped to Liberation Sans,
no window management) with its own wineserver, a private Xvfb display, the
servers it asks for (by default the scripted server and nginx, which answers
for both fixed hosts as the proxy the program reaches them through) on
loopback ports of their own, their logs, and the values tests read: DIR/env
for the shell runner, DIR/env.json for Python.
"""

import argparse
import contextlib
import ctypes
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

import proxies

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_SERVERS = ("scripted", "nginx")
DOWNLOAD_HOST, STATS_HOST = "download.kovra.example", "stat.kovra.example"
# What a prefix copy shares with the booted prefix (hard links): the modules
# and tables under drive_c/windows, which Wine maps and never writes. The
# registry, the .ini files and everything else are copied.
SHARED_KINDS = {".dll", ".exe", ".drv", ".sys", ".ocx", ".cpl", ".acm", ".ax", ".ds", ".vxd", ".tlb", ".com",
                ".nls", ".msstyles", ".mod", ".icm"}


# Where servers that work as another user keep their files (squid).
LINKED_FOLDERS = tempfile.gettempdir()


class HarnessError(Exception):
    """Why the harness cannot start: said in one line."""


def x_server_alive(number):
    """Whether an X server holds the display (its lock file names a live process)."""
    try:
        with open("/tmp/.X%d-lock" % number) as f:
            os.kill(int(f.read().strip()), 0)
    except PermissionError:
        return True  # a process this one may not signal: of another user, or outside its namespace
    except (OSError, ValueError):
        return False
    return True


def windows_path(unix_path):
    return "Z:" + unix_path.replace("/", "\\")


def ended(process):
    """Whether a process the instance started has ended, without reaping it:
    until it is reaped its id, and its session's, stay the instance's."""
    return process.returncode is not None or \
        os.waitid(os.P_PID, process.pid, os.WEXITED | os.WNOHANG | os.WNOWAIT) is not None


def wait_ready(process, ready, what, timeout=30):
    """Waits until ready() is true; fails when the process ends first."""
    deadline = time.time() + timeout
    while not ready():
        if ended(process) or time.time() > deadline:
            raise HarnessError("%s did not start" % what)
        time.sleep(0.05)


def thirty_two_bit_problem():
    """Why 32-bit programs do not run here, or None."""
    try:
        subprocess.run(["/lib/ld-linux.so.2", "--version"], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        return None
    except OSError as error:
        return "/lib/ld-linux.so.2: %s" % error.strerror
    except subprocess.CalledProcessError as error:
        return "/lib/ld-linux.so.2 exited with %d" % error.returncode


def step(args, env, timeout=180, **options):
    """Runs one command of the set-up; a failure says which and how."""
    try:
        subprocess.run(args, env=env, check=True, timeout=timeout, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **options)
    except OSError as error:
        raise HarnessError("%s: %s" % (args[0], error.strerror))
    except subprocess.TimeoutExpired:
        raise HarnessError("%s did not end within %d s" % (" ".join(args[:2]), timeout))
    except subprocess.CalledProcessError as error:
        cause = "%s exited with %d" % (" ".join(args[:2]), error.returncode)
        problem = thirty_two_bit_problem() if os.environ.get("KOVRA_ROUTE") != "x86_64" else None
        if problem:
            cause += "; 32-bit programs do not run on this machine (%s): tools/test-all.sh and " \
                     "tools/demo.sh pick a route that works (tools/route.sh)" % problem
        raise HarnessError(cause)


def wine_env(prefix, display=None):
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.update({"DISPLAY": display} if display else {})
    env.pop("http_proxy", None)
    return env


# --- prefixes ------------------------------------------------------------------
def boot_prefix(prefix, display):
    """A fresh prefix, its set-up's wineserver ended; its temporary folder
    as Windows names it."""
    shutil.rmtree(prefix, ignore_errors=True)
    env = wine_env(prefix, display)
    step(["wineboot", "-i"], env)
    step(["wine", "reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v", "Arial",
          "/d", "Liberation Sans", "/f"], env)
    # Xvfb has no window manager; Wine would wait 2 s for one whenever a
    # managed window is hidden or destroyed.
    step(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"], env)
    # Where the user's temporary folder is depends on Wine's version
    # (C:\users\<user>\Temp in Wine 8, ...\AppData\Local\Temp in Wine 10): asked.
    said = subprocess.run(["wine", "cmd", "/c", "echo", "%TEMP%"], env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120).stdout
    temp = said.decode("utf-8", "replace").strip().rstrip("\\")
    if not re.match(r"^C:\\users\\[^\\]+\\", temp, re.IGNORECASE):
        raise HarnessError("the prefix's TEMP is not a folder of its user: %r" % temp)
    subprocess.run(["wineserver", "-w"], env=env, timeout=120)
    return temp


def trust_test_ca(prefix, folder):
    """Certificates for the TLS origin, their CA trusted by the prefix alone:
    in its user's root store, which Wine's crypt32 reads (the host's own
    store stays as it is; proxies.root_store_registry_file says why not the
    machine's)."""
    certificates = proxies.make_certificates(folder)
    registry = proxies.root_store_registry_file(certificates["ca.der"], os.path.join(folder, "root-store.reg"))
    env = wine_env(prefix)
    step(["wine", "reg", "import", windows_path(registry)], env)
    subprocess.run(["wineserver", "-w"], env=env, timeout=120)


def copy_prefix(base, prefix):
    """A prefix of its own for one test, made from the booted one in about
    0.1 s (a whole copy, 1.3 GB, takes seconds and as much disk)."""
    def copy(source, target):
        shared = os.path.relpath(source, base).split(os.sep)[:2] == ["drive_c", "windows"]
        if shared and os.path.splitext(source)[1].lower() in SHARED_KINDS:
            os.link(source, target)
        else:
            shutil.copy2(source, target)
    shutil.copytree(base, prefix, symlinks=True, copy_function=copy)


def wine_up(env, keeper, spawn):
    """A prefix's own wineserver, its services booted, and Wine's desktop
    held by keeper (a program of the build, or None) started with spawn(args,
    **options). A server that comes and goes between programs makes the next
    ones wait seconds for it (wineserver returns once its server is up). The
    services are booted with output going nowhere: services holding a test's
    pipe would keep ctest waiting for that test after it ended."""
    step(["wineserver", "-p"], env, timeout=60)
    step(["wine", "cmd", "/c", "exit"], env, timeout=120, start_new_session=True)
    if keeper:
        # Wine's desktop process leaves when the last program on the desktop
        # ends, and a program started in that moment waits 12 s for it: one
        # program stays for the prefix's whole life. It says when it holds
        # the desktop; what comes next starts after that.
        process = spawn(["wine", keeper, "hold-desktop"], stdout=subprocess.PIPE)
        with process.stdout:
            if not (select.select([process.stdout], [], [], 120)[0] and process.stdout.readline().strip() == b"ready"):
                raise HarnessError("the desktop keeper did not take the desktop")


# --- servers -------------------------------------------------------------------
# The kinds of server an instance can start, in the order they start:
# start(instance) starts one with instance.spawn (so that stop ends it) and
# adds what tests need to know to instance.values.
class ScriptedServer:
    """tests/harness/scripted_server.py: the answers nginx cannot give."""
    name = "scripted"

    def start(self, instance):
        log = instance.path("scripted.log")
        open(log, "w").close()
        # It takes a socket that listens already: its port is known and
        # nobody else's.
        with socket.create_server(("127.0.0.1", 0)) as listening:
            instance.spawn(self.name, [sys.executable, os.path.join(HERE, "scripted_server.py"), "--fd",
                                       str(listening.fileno()), "--root", instance.path("www", "scripted"), "--log",
                                       log], output=instance.path("scripted.out"), pass_fds=(listening.fileno(),))
            instance.values["KOVRA_SCRIPTED_PORT"] = str(listening.getsockname()[1])


class Nginx:
    """nginx as the proxy for both fixed hosts: the download host's files, the
    statistics host handed on to the scripted server."""
    name = "nginx"

    def start(self, instance):
        folder = instance.path("nginx")
        for sub in ("body", "proxy", "fastcgi", "uwsgi", "scgi"):
            os.makedirs(os.path.join(folder, "tmp", sub), exist_ok=True)
        open(os.path.join(folder, "access.log"), "w").close()
        pid_file, conf_path = os.path.join(folder, "nginx.pid"), os.path.join(folder, "nginx.conf")
        # nginx takes a socket that listens already, the way a new nginx takes
        # the old one's on an upgrade (the NGINX variable): its port is known
        # and nobody else's.
        with socket.create_server(("127.0.0.1", 0)) as listening, \
                socket.create_server(("127.0.0.1", 0)) as trusted, socket.create_server(("127.0.0.1", 0)) as stray:
            port = str(listening.getsockname()[1])
            sockets = [listening]
            tls = ""
            certificates = instance.base and os.path.join(instance.base, "certificates")
            if certificates and os.path.isdir(certificates):
                # The CDN host over https: with the test CA's certificate,
                # which the prefix trusts, and with a stray one nobody does.
                sockets += [trusted, stray]
                for listener, name in ((trusted, "cdn"), (stray, "stray")):
                    tls += ("    server {\n        listen 127.0.0.1:%d ssl;\n        server_name %s;\n"
                            "        ssl_certificate \"%s.crt\";\n        ssl_certificate_key \"%s.key\";\n"
                            "        root \"%s\";\n        etag off;\n    }\n"
                            % (listener.getsockname()[1], proxies.CDN_HOST, os.path.join(certificates, name),
                               os.path.join(certificates, name), instance.path("www", "download")))
                instance.values.update({"KOVRA_TLS_PORT": str(trusted.getsockname()[1]),
                                        "KOVRA_STRAY_TLS_PORT": str(stray.getsockname()[1])})
            with open(os.path.join(HERE, "nginx.conf.in")) as f:
                conf = f.read()
            for key, value in {"@DIR@": folder, "@WWW@": instance.path("www"), "@PORT@": port, "@TLS_SERVERS@": tls,
                               "@USER@": "user root;" if os.geteuid() == 0 else "",
                               "@SCRIPTED_PORT@": instance.values["KOVRA_SCRIPTED_PORT"],
                               "@DOWNLOAD_HOST@": instance.values["KOVRA_DOWNLOAD_HOST"],
                               "@STATS_HOST@": instance.values["KOVRA_STATS_HOST"],
                               "@DOWNLOAD_RATE@": "limit_rate %d;" % instance.download_rate
                               if instance.download_rate else ""}.items():
                conf = conf.replace(key, value)
            with open(conf_path, "w") as f:
                f.write(conf)
            if os.path.exists(pid_file):
                os.remove(pid_file)
            process = instance.spawn(self.name, ["nginx", "-e", os.path.join(folder, "error.log"), "-p", folder,
                                                 "-c", conf_path], pass_fds=[s.fileno() for s in sockets],
                                     env=dict(os.environ, NGINX="".join("%d;" % s.fileno() for s in sockets)))
        # It writes its pid file once it has started.
        wait_ready(process, lambda: os.path.exists(pid_file), "nginx (see %s)" % os.path.join(folder, "error.log"))
        # One name in no_proxy: Wine's WinINet splits the list at ";" or " ",
        # not at ",", and would send "127.0.0.1,localhost" to the proxy.
        instance.values.update({"KOVRA_NGINX_PORT": port, "http_proxy": "http://127.0.0.1:%s" % port,
                                "no_proxy": "127.0.0.1"})


class Squid:
    """squid, Debian's forward proxy, in front of one of the instance's
    servers, as a user's proxy stands in front of the internet: plain
    requests go to that server, https through CONNECT to the TLS origin.
    It listens on two ports (KOVRA_<NAME>_PORT and _SECOND_PORT); what the
    rules in free let through needs no password there, everything else
    needs Basic credentials from the file the test writes
    (KOVRA_<NAME>_PASSWORDS; it starts empty)."""

    def __init__(self, name, origin, free):
        self.name, self.origin, self.free = name, origin, free

    def start(self, instance):
        # squid works as the user "proxy", who may not reach the instance's
        # folder (a clone in a home of mode 0700, such as /root's): its files
        # lie in a folder of its own in the system's temporary folder, which
        # the instance links to while it runs and takes in when it ends.
        folder = tempfile.mkdtemp(prefix="kovra-%s-" % self.name, dir=LINKED_FOLDERS)
        os.chmod(folder, 0o755)
        os.symlink(folder, instance.path(self.name))
        key = "KOVRA_%s_" % self.name.upper()
        passwords = os.path.join(folder, "passwords")
        open(passwords, "w").close()
        hosts = [instance.values["KOVRA_DOWNLOAD_HOST"], instance.values["KOVRA_STATS_HOST"], proxies.CDN_HOST]
        origin = int(instance.values["KOVRA_%s_PORT" % self.origin.upper()])
        # squid cannot take a socket that listens already. Its ports are held
        # by sockets bound here (not listening) until it listens on them:
        # squid binds beside such a socket, and no other program is given
        # those ports meanwhile.
        with reserved_port() as main, reserved_port() as second:
            ports = (main.getsockname()[1], second.getsockname()[1])
            squid = proxies.Squid(folder, origin, hosts, ports, passwords, self.free)
            process = instance.spawn(self.name, squid.command(), output=os.path.join(folder, "squid.out"))
            wait_ready(process, squid.ready, "squid (see %s)" % instance.path(self.name, "cache.log"))
        instance.values.update({key + "PORT": str(ports[0]), key + "SECOND_PORT": str(ports[1]),
                                key + "PASSWORDS": passwords})


def reserved_port():
    """A loopback port held by a bound socket that does not listen."""
    held = socket.socket()
    held.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    held.bind(("127.0.0.1", 0))
    return held


# squid: no password on its port, one for CONNECT on the second; squid_auth:
# a password for everything, but for a HEAD on the second port.
SERVERS = [ScriptedServer(), Nginx(), Squid("squid", "scripted", free=("!second", "second !CONNECT")),
           Squid("squid_auth", "nginx", free=("second HEAD",))]


# --- instances -------------------------------------------------------------------
class Instance:
    """What one test runs against, in one folder."""

    def __init__(self, folder, settings, download_rate=0):
        """download_rate: bytes a second nginx sends of a download (0: no
        limit); the demo slows down to be seen."""
        self.folder, self.settings, self.download_rate = folder, settings, download_rate
        # The folder of the booted prefix the instance's is copied from.
        self.base = None
        # What the instance started, by name: each in a session of its own.
        self.processes = {}
        self.values = {
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "KOVRA_HARNESS_DIR": folder,
            "KOVRA_HARNESS_DIR_WIN": windows_path(folder),
            "KOVRA_DOWNLOAD_HOST": settings["download_host"],
            "KOVRA_STATS_HOST": settings["stats_host"],
            # How this machine runs the build (tools/route.sh): native, emulated or x86_64.
            "KOVRA_ROUTE": os.environ.get("KOVRA_ROUTE", "native"),
        }

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def spawn(self, name, args, env=None, output=None, **options):
        """Starts a process of the instance in a session of its own (held by
        hold_session); end ends it."""
        with open(output or os.devnull, "w") as out:
            options.setdefault("stdout", out)
            process = subprocess.Popen([sys.executable, os.path.abspath(__file__), "session", str(os.getpid()), "--"]
                                       + args, env=env, stdin=subprocess.DEVNULL, stderr=subprocess.STDOUT,
                                       start_new_session=True, **options)
        self.processes[name] = process
        return process

    def end_process(self, name, how=signal.SIGKILL):
        """Ends a process the instance started, with its session: signalled
        before the process is reaped, that id cannot be anybody else's."""
        process = self.processes.pop(name, None)
        if process is None:
            return
        if process.returncode is None:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(process.pid, how)
        process.wait()

    def end(self, keep_prefix=True):
        """Ends what the instance started. The keeper first, so that nothing
        holds the desktop; then every Wine process of the prefix with its
        server, the servers, and the display (asked, it removes its lock
        file and socket)."""
        self.end_process("keeper")
        end_wine(self.path("prefix"))
        for name in [n for n in self.processes if n != "xvfb"]:
            self.end_process(name)
        self.end_process("xvfb", signal.SIGTERM)
        take_in_linked_folders(self.folder)
        if not keep_prefix:
            shutil.rmtree(self.path("prefix"), ignore_errors=True)

    def start_display(self):
        """A private Xvfb on a free display. Xvfb takes the display with a
        lock file (and -displayfd alone would not: two can pick one number),
        so one that finds it taken ends, and the next number is tried."""
        for number in range(100, 400):
            if x_server_alive(number):
                continue
            read, write = os.pipe()
            process = self.spawn("xvfb", ["Xvfb", ":%d" % number, "-displayfd", str(write), "-screen", "0",
                                          "1024x768x24", "-nolisten", "tcp"], output=self.path("xvfb.log"),
                                 pass_fds=(write,))
            os.close(write)
            with os.fdopen(read, "rb") as said:
                # It writes its number and a new line once it takes
                # connections (the pipe must stay open until then), or ends.
                if select.select([said], [], [], 20)[0] and said.readline().endswith(b"\n"):
                    with open("/proc/%d/task/%d/children" % (process.pid, process.pid)) as children:
                        xvfb = children.read().split()[0]
                    self.values.update({"DISPLAY": ":%d" % number, "KOVRA_XVFB_PID": xvfb})
                    return
            self.end_process("xvfb")
        raise HarnessError("no free X display (see %s)" % self.path("xvfb.log"))

    def start_wine(self, prefix, temp):
        """The prefix's Wine for the instance's whole life (wine_up). temp:
        the temporary folder as Windows names it."""
        env = wine_env(prefix, self.values["DISPLAY"])
        wine_up(env, self.settings.get("desktop_keeper"),
                lambda args, **options: self.spawn("keeper", args, env=env, **options))
        unix_temp = os.path.join(prefix, "drive_c", *temp.split("\\")[1:])
        os.makedirs(unix_temp, exist_ok=True)
        self.values.update({"WINEPREFIX": prefix, "KOVRA_WINE_USER": temp.split("\\")[2],
                            "KOVRA_TEMP_DIR": unix_temp, "KOVRA_TEMP_DIR_WIN": temp})

    def start(self, servers, base=None):
        """Everything up; the prefix copied from base, or booted when there is none."""
        began = time.time()
        unknown = set(servers) - {kind.name for kind in SERVERS}
        if unknown:
            raise HarnessError("no server of the kind %s" % ", ".join(sorted(unknown)))
        for sub in ("download", "scripted"):
            os.makedirs(self.path("www", sub), exist_ok=True)
        self.base = base and os.path.dirname(base)
        self.start_display()
        for kind in SERVERS:
            if kind.name in servers:
                kind.start(self)
        prefix = self.path("prefix")
        if base:
            copy_prefix(base, prefix)
            temp = self.settings["temp"]
        else:
            temp = boot_prefix(prefix, self.values["DISPLAY"])
        self.start_wine(prefix, temp)
        with open(self.path("env"), "w") as f:
            f.writelines("%s='%s'\nexport %s\n" % (key, value.replace("'", "'\\''"), key)
                         for key, value in self.values.items())
        with open(self.path("env.json"), "w") as f:
            json.dump(self.values, f, indent=1)
        ports = ", ".join("%s %s" % (name, self.values.get("KOVRA_%s_PORT" % name.upper(), "-")) for name in servers)
        print("harness: %s: ready in %.1f s (display %s, %s, route %s)" % (os.path.basename(self.folder), time.time()
              - began, self.values["DISPLAY"], ports or "no servers", self.values["KOVRA_ROUTE"]), flush=True)


def end_wine(prefix):
    """Ends every Wine process of a prefix with its server: the server is
    found through the prefix itself."""
    if os.path.isdir(prefix):
        subprocess.run(["wineserver", "-k"], env=wine_env(prefix), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)


def end_left(folder):
    """What is left of an instance whose runner ended without ending it:
    ctest ends a test past its time-out with its whole process tree, which
    leaves the prefix's Wine server (it leaves the tree to serve) and the
    programs it serves."""
    end_wine(os.path.join(folder, "prefix"))
    take_in_linked_folders(folder)


def take_in_linked_folders(folder):
    """A server's folder kept elsewhere while it ran (squid's) becomes a
    folder of the instance: its logs stay with the instance's."""
    for name in os.listdir(folder) if os.path.isdir(folder) else []:
        link = os.path.join(folder, name)
        target = os.path.realpath(link)
        if os.path.islink(link) and os.path.dirname(target) == os.path.realpath(LINKED_FOLDERS):
            os.unlink(link)
            if os.path.isdir(target):
                shutil.copytree(target, link, symlinks=True)
                shutil.rmtree(target, ignore_errors=True)


def boot(args):
    """The run's prefix, booted once and copied for each test."""
    state = os.path.abspath(args.state)
    stop(state)
    shutil.rmtree(os.path.join(state, "tests"), ignore_errors=True)
    base = Instance(os.path.join(state, "base"), vars(args))
    os.makedirs(base.folder, exist_ok=True)
    began = time.time()
    try:
        # A display of its own: some Wine calls of the set-up want one.
        base.start_display()
        temp = boot_prefix(base.path("prefix"), base.values["DISPLAY"])
        trust_test_ca(base.path("prefix"), base.path("certificates"))
    finally:
        base.end()
    with open(base.path("base.json"), "w") as f:
        json.dump(dict(base.settings, temp=temp, booted=time.time()), f, indent=1)
    print("harness: prefix booted in %.1f s, route %s" % (time.time() - began, os.environ.get("KOVRA_ROUTE", "native")))


def run(args, command):
    """The test's exit status, or 1 when its instance did not start. A
    failed test's instance is kept, and the last line says what ended how."""
    state = os.path.abspath(args.state)
    if not os.path.exists(os.path.join(state, "base", "base.json")):
        print("harness: not booted: run the harness_start test first", file=sys.stderr)
        return 125
    with open(os.path.join(state, "base", "base.json")) as f:
        instance = Instance(os.path.join(state, "tests", args.name), json.load(f))
    end_left(instance.folder)
    shutil.rmtree(instance.folder, ignore_errors=True)
    os.makedirs(instance.folder)
    # ctest ends a test past its time-out with its whole process tree
    # (SIGKILL): harness_stop ends the rest. A SIGTERM still ends it here.
    signal.signal(signal.SIGTERM, lambda number, frame: sys.exit(128 + number))
    test, status = "did not run", 1
    try:
        instance.start(args.servers.split(",") if args.servers else DEFAULT_SERVERS,
                       base=os.path.join(state, "base", "prefix"))
        code = subprocess.run(command, env=dict(os.environ, **instance.values)).returncode
        test = "exited with %d" % code if code >= 0 else "was ended by signal %d" % -code
        status = code if code >= 0 else 128 - code
    except (HarnessError, OSError, subprocess.SubprocessError) as error:
        print("harness: cannot start: %s" % error, flush=True)
    except SystemExit as ending:
        test, status = "was ended with the harness", ending.code
    finally:
        keep = status != 0 or os.environ.get("KOVRA_KEEP_PREFIXES", "") not in ("", "0")
        said = "harness: %s: the test %s; the harness exits with %d%s" % (
            args.name, test, status, ", its instance kept in " + instance.folder if keep else "")
        print(said, flush=True)
        with open(instance.path("status"), "w") as f:
            f.write(said + "\n")
        instance.end(keep_prefix=keep)
    return status


def own_instance(state, keeper=None, download_rate=0):
    """An instance in the state folder with a prefix booted for it, held by
    the calling process (the demo, the benchmarks): its end() ends it."""
    os.makedirs(state, exist_ok=True)
    stop(state)
    instance = Instance(state, {"download_host": DOWNLOAD_HOST, "stats_host": STATS_HOST, "desktop_keeper": keeper},
                        download_rate=download_rate)
    try:
        instance.start(DEFAULT_SERVERS)
    except BaseException:
        instance.end()
        raise
    return instance


def stop(state):
    """Ends what is left under the state folder; says when a test wrote into
    a file its prefix shares with the booted one (all are older than boot's end)."""
    tests = os.path.join(state, "tests")
    for folder in [state] + [os.path.join(tests, n) for n in (os.listdir(tests) if os.path.isdir(tests) else [])]:
        end_left(folder)
    if os.path.exists(os.path.join(state, "base", "base.json")):
        with open(os.path.join(state, "base", "base.json")) as f:
            booted = json.load(f)["booted"]
        changed = [os.path.join(d, n) for d, _, names in os.walk(os.path.join(state, "base", "prefix"))
                   for n in names if os.lstat(os.path.join(d, n)).st_mtime > booted]
        if changed:
            print("harness: the booted prefix changed during the run: %s" % " ".join(changed[:5]), file=sys.stderr)
            return 1
    return 0


def hold_session(parent, command):
    """harness.py session PARENT -- COMMAND: runs COMMAND in this process's
    session, and ends the whole session when COMMAND ends or when the
    harness process PARENT goes (ctest kills a test with its tree, but a
    runner killed alone would leave its instance behind)."""
    # A SIGTERM to the session is COMMAND's to handle (Xvfb removes its lock).
    signal.signal(signal.SIGTERM, lambda number, frame: None)
    signal.signal(signal.SIGHUP, lambda number, frame: os.killpg(0, signal.SIGKILL))
    ctypes.CDLL(None).prctl(1, signal.SIGHUP)  # PR_SET_PDEATHSIG
    if os.getppid() == parent:
        subprocess.call(command, close_fds=False)
    os.killpg(0, signal.SIGKILL)


def main():
    argv = sys.argv[1:]
    if argv[:1] == ["session"]:
        hold_session(int(argv[1]), argv[3:])
    command = argv[argv.index("--") + 1:] if "--" in argv else []
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=("boot", "run", "stop"))
    parser.add_argument("--state", required=True)
    parser.add_argument("--name", help="run: the test, which names its instance's folder")
    parser.add_argument("--servers", help="run: the kinds of server to start (default %s)" % ",".join(DEFAULT_SERVERS))
    parser.add_argument("--download-host", default=DOWNLOAD_HOST)
    parser.add_argument("--stats-host", default=STATS_HOST)
    parser.add_argument("--desktop-keeper", help="a program of the build that keeps Wine's desktop up "
                        "(window_probe.exe: it is started with hold-desktop)")
    args = parser.parse_args(argv[:len(argv) - len(command) - (1 if command else 0)])
    state = os.path.abspath(args.state)
    if args.command == "run":
        if not args.name or not command:
            parser.error("run needs --name and a command after --")
        sys.exit(run(args, command))
    if args.command == "stop":
        sys.exit(stop(state))
    try:
        boot(args)
    except (HarnessError, OSError, subprocess.SubprocessError) as error:
        # End what was started, and say why in one line.
        stop(state)
        print("harness: cannot start: %s" % error, file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
