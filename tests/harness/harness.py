#!/usr/bin/env python3
"""Starts and stops what the tests run against, for one build folder.

  harness.py boot  --state DIR [--download-host H] [--stats-host H] [--desktop-keeper EXE]
  harness.py run   --state DIR --name NAME [--servers KIND,...] -- COMMAND [ARGS...]
  harness.py start --state DIR [--download-host H] [--stats-host H] [--desktop-keeper EXE] [--download-rate B]
  harness.py stop  --state DIR

boot (the harness_start test) makes the run's Wine prefix once, in DIR/base
(Arial mapped to Liberation Sans, no window management). run gives one test
an instance of its own in DIR/tests/NAME, runs the command in it with
KOVRA_HARNESS_DIR naming the instance, and ends the instance. start makes one
instance in DIR itself, with a prefix booted for it (the demo, the
benchmarks). stop ends whatever is left under DIR.

An instance is a copy of the prefix with its own wineserver, a private Xvfb
display, the servers it asks for (by default the scripted server and nginx,
which answers for both fixed hosts as the proxy the program reaches them
through), each on a loopback port of its own, their logs, and the values
tests read: DIR/env for the shell runner, DIR/env.json for Python.
"""

import argparse
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_SERVERS = ("scripted", "nginx")
# Files a prefix copy shares with the booted prefix (hard links): the modules
# and tables Wine maps and never writes. The registry, the .ini files and
# everything else are copied.
SHARED_KINDS = {".dll", ".exe", ".drv", ".sys", ".ocx", ".cpl", ".acm", ".ax", ".ds", ".vxd", ".tlb", ".com",
                ".nls", ".msstyles", ".mod", ".icm"}


class HarnessError(Exception):
    """Why the harness cannot start: said in one line."""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(ready, what, timeout=20, process=None):
    deadline = time.time() + timeout
    while not ready():
        if process is not None and process.poll() is not None:
            raise HarnessError("%s ended at its start (exit %d)" % (what, process.returncode))
        if time.time() > deadline:
            raise HarnessError("%s did not start within %d s" % (what, timeout))
        time.sleep(0.05)


def x_server_alive(number):
    """Whether an X server holds the display (its lock file names a live process)."""
    try:
        with open("/tmp/.X%d-lock" % number) as f:
            os.kill(int(f.read().strip()), 0)
        return True
    except (OSError, ValueError):
        return False


def windows_path(unix_path):
    return "Z:" + unix_path.replace("/", "\\")


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
    if display:
        env["DISPLAY"] = display
    env.pop("http_proxy", None)
    return env


# --- prefixes ------------------------------------------------------------------
def boot_prefix(prefix, display):
    """A fresh prefix, its set-up's wineserver ended."""
    shutil.rmtree(prefix, ignore_errors=True)
    env = wine_env(prefix, display)
    step(["wineboot", "-i"], env)
    step(["wine", "reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v", "Arial",
          "/d", "Liberation Sans", "/f"], env)
    # Xvfb has no window manager; Wine would wait 2 s for one whenever a
    # managed window is hidden or destroyed.
    step(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"], env)
    subprocess.run(["wineserver", "-w"], env=env, timeout=120)


def copy_prefix(base, prefix):
    """A prefix of its own for one test, made from the booted one in about
    0.1 s (a whole copy, 1.3 GB, takes seconds and as much disk)."""
    for folder, dirs, files in os.walk(base):
        relative = os.path.relpath(folder, base)
        into = os.path.normpath(os.path.join(prefix, relative))
        os.makedirs(into, exist_ok=True)
        shared = relative.split(os.sep)[:2] == ["drive_c", "windows"]
        for name in list(dirs) + files:
            source, target = os.path.join(folder, name), os.path.join(into, name)
            if os.path.islink(source):
                os.symlink(os.readlink(source), target)
                if name in dirs:
                    dirs.remove(name)
            elif name in files:
                if shared and os.path.splitext(name)[1].lower() in SHARED_KINDS:
                    os.link(source, target)
                else:
                    shutil.copy2(source, target)


def changed_since(folder, stamp):
    """Files under folder written after the time stamp."""
    return [os.path.join(d, n) for d, _, names in os.walk(folder) for n in names
            if not os.path.islink(os.path.join(d, n)) and os.lstat(os.path.join(d, n)).st_mtime > stamp]


def wine_user(prefix):
    users = [d for d in os.listdir(os.path.join(prefix, "drive_c", "users")) if d.lower() != "public"]
    return users[0] if users else "root"


# --- servers -------------------------------------------------------------------
# Each kind of server an instance can start: start(instance) starts it, with
# instance.spawn so that stop ends it, and adds what tests need to know to
# instance.values. Kinds start in the order of this list.
class ScriptedServer:
    """tests/harness/scripted_server.py: the answers nginx cannot give."""
    name = "scripted"

    def start(self, instance):
        log, port_file = instance.path("scripted.log"), instance.path("scripted.port")
        open(log, "w").close()
        process = instance.spawn(self.name, [sys.executable, os.path.join(HERE, "scripted_server.py"), "--port", "0",
                                             "--port-file", port_file, "--root", instance.path("www", "scripted"),
                                             "--log", log], output=instance.path("scripted.out"))
        wait_for(lambda: os.path.exists(port_file), "the scripted server", process=process)
        with open(port_file) as f:
            instance.values["KOVRA_SCRIPTED_PORT"] = f.read()


class Nginx:
    """nginx as the proxy for both fixed hosts: the download host's files, the
    statistics host handed on to the scripted server."""
    name = "nginx"

    def start(self, instance):
        folder = instance.path("nginx")
        for sub in ("body", "proxy", "fastcgi", "uwsgi", "scgi"):
            os.makedirs(os.path.join(folder, "tmp", sub), exist_ok=True)
        open(os.path.join(folder, "access.log"), "w").close()
        pid_file = os.path.join(folder, "nginx.pid")
        with open(os.path.join(HERE, "nginx.conf.in")) as f:
            template = f.read()
        # The port is free when chosen but not held: another instance may
        # take it first, and then this nginx ends. It writes its pid file
        # once it listens.
        for attempt in range(5):
            port = free_port()
            conf = template
            for key, value in {"@DIR@": folder, "@WWW@": instance.path("www"), "@PORT@": str(port),
                               "@SCRIPTED_PORT@": instance.values["KOVRA_SCRIPTED_PORT"],
                               "@USER@": "user root;" if os.geteuid() == 0 else "",
                               "@DOWNLOAD_HOST@": instance.values["KOVRA_DOWNLOAD_HOST"],
                               "@STATS_HOST@": instance.values["KOVRA_STATS_HOST"],
                               "@DOWNLOAD_RATE@": "limit_rate %d;" % instance.download_rate
                               if instance.download_rate else ""}.items():
                conf = conf.replace(key, value)
            conf_path = os.path.join(folder, "nginx.conf")
            with open(conf_path, "w") as f:
                f.write(conf)
            if os.path.exists(pid_file):
                os.remove(pid_file)
            process = instance.spawn(self.name, ["nginx", "-e", os.path.join(folder, "error.log"), "-p", folder,
                                                 "-c", conf_path])
            try:
                wait_for(lambda: os.path.exists(pid_file), "nginx", process=process)
                break
            except HarnessError:
                instance.end(self.name)
                if attempt == 4:
                    raise
        instance.values.update({
            "KOVRA_NGINX_PORT": str(port),
            "http_proxy": "http://127.0.0.1:%d" % port,
            # One name only: Wine's WinINet splits the list at ";" or " ", not
            # at ",", and would send "127.0.0.1,localhost" to the proxy.
            "no_proxy": "127.0.0.1",
        })


SERVERS = [ScriptedServer(), Nginx()]


# --- instances -------------------------------------------------------------------
class Instance:
    """What one test runs against, in one folder."""

    def __init__(self, folder, settings, download_rate=0):
        self.folder = folder
        self.settings = settings
        self.download_rate = download_rate
        self.pids = {}
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
        """Starts a process of the instance in a session of its own; stop ends it."""
        out = open(output, "w") if output else subprocess.DEVNULL
        process = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                   start_new_session=True, **options)
        if output:
            out.close()
        self.pids[name] = process.pid
        # Written at once, so that a start that fails half-way is ended all the same.
        with open(self.path("pids.json"), "w") as f:
            json.dump(self.pids, f)
        return process

    def end(self, name):
        pid = self.pids.pop(name, None)
        if pid:
            try:
                os.killpg(pid, signal.SIGKILL)
            except OSError:
                pass

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
                ready = select.select([said], [], [], 20)[0] and said.readline().endswith(b"\n")
            if ready:
                self.values["DISPLAY"] = ":%d" % number
                return
            self.end("xvfb")
            process.wait()
        raise HarnessError("no free X display (see %s)" % self.path("xvfb.log"))

    def start_wine(self, prefix):
        """The prefix's own wineserver for the instance's whole life, its
        services booted, and Wine's desktop held."""
        env = wine_env(prefix, self.values["DISPLAY"])
        # A server that comes and goes between programs makes the next ones
        # wait seconds for it (wineserver returns once its server is up). The
        # services are booted here with output going nowhere: services holding
        # a test's pipe would keep ctest waiting for that test after it ended.
        step(["wineserver", "-p"], env, timeout=60)
        step(["wine", "cmd", "/c", "exit"], env, timeout=120, start_new_session=True)
        if self.settings.get("desktop_keeper"):
            # Wine's desktop process leaves when the last program on the
            # desktop ends, and a program started in that moment waits 12 s
            # for it: one program stays for the instance's whole life.
            self.spawn("keeper", ["wine", self.settings["desktop_keeper"], "hold-desktop"], env=env)
        temp = os.path.join(prefix, "drive_c", "users", wine_user(prefix), "Temp")
        os.makedirs(temp, exist_ok=True)
        self.values.update({"WINEPREFIX": prefix, "KOVRA_WINE_USER": wine_user(prefix), "KOVRA_TEMP_DIR": temp})

    def start(self, servers, base=None):
        """Everything up; the prefix copied from base, or booted when there is none."""
        began = time.time()
        for sub in ("download", "scripted"):
            os.makedirs(self.path("www", sub), exist_ok=True)
        self.start_display()
        unknown = set(servers) - {kind.name for kind in SERVERS}
        if unknown:
            raise HarnessError("no server of the kind %s" % ", ".join(sorted(unknown)))
        for kind in SERVERS:
            if kind.name in servers:
                kind.start(self)
        prefix = self.path("prefix")
        if base:
            copy_prefix(base, prefix)
        else:
            boot_prefix(prefix, self.values["DISPLAY"])
        self.start_wine(prefix)
        with open(self.path("env"), "w") as f:
            for key, value in self.values.items():
                f.write("%s='%s'\nexport %s\n" % (key, value.replace("'", "'\\''"), key))
        with open(self.path("env.json"), "w") as f:
            json.dump(self.values, f, indent=1)
        ports = ", ".join("%s %s" % (kind.name, self.values.get("KOVRA_%s_PORT" % kind.name.upper(), "-"))
                          for kind in SERVERS if kind.name in servers)
        print("harness: %s: ready in %.1f s (display %s, %s, route %s)" % (
            os.path.basename(self.folder), time.time() - began, self.values["DISPLAY"], ports or "no servers",
            self.values["KOVRA_ROUTE"]), flush=True)


def end_instance(folder, keep_prefix=True):
    """Ends every process of an instance (also one whose runner was killed)."""
    pids_file = os.path.join(folder, "pids.json")
    pids = {}
    if os.path.exists(pids_file):
        with open(pids_file) as f:
            pids = json.load(f)
    prefix = os.path.join(folder, "prefix")

    def kill(name, how=signal.SIGKILL):
        try:
            os.killpg(pids.pop(name), how)
        except (KeyError, OSError):
            pass
    # The keeper first, so that nothing holds the desktop; then every Wine
    # process of the prefix with its server, the servers, and the display
    # (asked, it removes its lock file and socket).
    kill("keeper")
    if os.path.isdir(prefix):
        subprocess.run(["wineserver", "-k"], env=wine_env(prefix), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
    for name in [n for n in pids if n != "xvfb"]:
        kill(name)
    kill("xvfb", signal.SIGTERM)
    if os.path.exists(pids_file):
        os.remove(pids_file)
    if not keep_prefix:
        shutil.rmtree(os.path.join(folder, "prefix"), ignore_errors=True)


def settings_of(args):
    return {"download_host": args.download_host, "stats_host": args.stats_host,
            "desktop_keeper": args.desktop_keeper}


def boot(args):
    """The run's prefix, booted once and copied for each test."""
    state = os.path.abspath(args.state)
    stop(state)
    base = os.path.join(state, "base")
    shutil.rmtree(os.path.join(state, "tests"), ignore_errors=True)
    os.makedirs(base, exist_ok=True)
    began = time.time()
    # A display of its own: some Wine calls of the set-up want one.
    display = Instance(base, settings_of(args))
    try:
        display.start_display()
        boot_prefix(os.path.join(base, "prefix"), display.values["DISPLAY"])
    finally:
        end_instance(base)
    settings = dict(settings_of(args), booted=time.time())
    with open(os.path.join(base, "base.json"), "w") as f:
        json.dump(settings, f, indent=1)
    copy_began = time.time()
    copy_prefix(os.path.join(base, "prefix"), os.path.join(base, "copy-check"))
    copied = time.time() - copy_began
    shutil.rmtree(os.path.join(base, "copy-check"))
    print("harness: prefix booted in %.1f s, copied for each test in %.2f s, route %s"
          % (copy_began - began, copied, os.environ.get("KOVRA_ROUTE", "native")))


def run(args, command):
    state = os.path.abspath(args.state)
    base = os.path.join(state, "base")
    if not os.path.exists(os.path.join(base, "base.json")):
        print("harness: not booted: run the harness_start test first", file=sys.stderr)
        return 125
    with open(os.path.join(base, "base.json")) as f:
        settings = json.load(f)
    folder = os.path.join(state, "tests", args.name)
    end_instance(folder, keep_prefix=False)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    instance = Instance(folder, settings)
    # ctest ends a test that runs too long with SIGTERM or SIGKILL: the first
    # still ends the instance here, the second leaves it to harness_stop.
    signal.signal(signal.SIGTERM, lambda number, frame: sys.exit(128 + number))
    try:
        try:
            instance.start(args.servers.split(",") if args.servers else DEFAULT_SERVERS,
                           base=os.path.join(base, "prefix"))
        except (HarnessError, OSError, subprocess.SubprocessError) as error:
            print("harness: cannot start: %s" % error, flush=True)
            return 1
        return subprocess.run(command, env=dict(os.environ, **instance.values)).returncode
    finally:
        end_instance(folder, keep_prefix=os.environ.get("KOVRA_KEEP_PREFIXES", "") not in ("", "0"))


def start(args):
    """One instance in the state folder itself, with a prefix booted for it."""
    state = os.path.abspath(args.state)
    os.makedirs(state, exist_ok=True)
    stop(state)
    Instance(state, settings_of(args), download_rate=args.download_rate).start(DEFAULT_SERVERS)


def stop(state):
    """Ends what is left under the state folder; says when a test wrote into
    a file its prefix shares with the booted one."""
    end_instance(state)
    tests = os.path.join(state, "tests")
    for name in sorted(os.listdir(tests)) if os.path.isdir(tests) else []:
        end_instance(os.path.join(tests, name))
    base_json = os.path.join(state, "base", "base.json")
    if os.path.exists(base_json):
        with open(base_json) as f:
            booted = json.load(f)["booted"]
        changed = changed_since(os.path.join(state, "base", "prefix"), booted)
        if changed:
            print("harness: the booted prefix changed during the run: %s" % " ".join(changed[:5]), file=sys.stderr)
            return 1
    return 0


def main():
    argv = sys.argv[1:]
    command = []
    if "--" in argv:
        command = argv[argv.index("--") + 1:]
        argv = argv[:argv.index("--")]
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=("boot", "run", "start", "stop"))
    parser.add_argument("--state", required=True)
    parser.add_argument("--name", help="run: the test, which names its instance's folder")
    parser.add_argument("--servers", help="run: the kinds of server to start (default %s)" % ",".join(DEFAULT_SERVERS))
    parser.add_argument("--download-host", default="download.kovra.example")
    parser.add_argument("--stats-host", default="stat.kovra.example")
    parser.add_argument("--desktop-keeper", help="a program of the build that keeps Wine's desktop up "
                        "(window_probe.exe: it is started with hold-desktop)")
    parser.add_argument("--download-rate", type=int, default=0,
                        help="bytes a second nginx sends of a download (0: no limit); the demo slows down to be seen")
    args = parser.parse_args(argv)
    if args.command == "run":
        if not args.name or not command:
            parser.error("run needs --name and a command after --")
        sys.exit(run(args, command))
    if args.command == "stop":
        sys.exit(stop(os.path.abspath(args.state)))
    try:
        boot(args) if args.command == "boot" else start(args)
    except (HarnessError, OSError, subprocess.SubprocessError) as error:
        # End what was started, and say why in one line.
        stop(os.path.abspath(args.state))
        print("harness: cannot start: %s" % error, file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
