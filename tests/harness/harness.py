#!/usr/bin/env python3
"""Starts and stops what the tests run against, for one build folder.

  harness.py start --state DIR --download-host H --stats-host H [--download-rate B] [--desktop-keeper EXE]
  harness.py stop  --state DIR

start makes a fresh Wine prefix (Arial mapped to Liberation Sans), starts a
private Xvfb display, nginx answering for both fixed hosts (the proxy the
program reaches them through) and the scripted server, each on loopback ports
of its own, and writes DIR/env (for the shell runner) and DIR/env.json (for
Python tests). stop ends them all.
"""

import argparse
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class HarnessError(Exception):
    """Why the harness cannot start: said in one line."""


def wait_port(port, what, timeout=20):
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.1)
    raise HarnessError("%s did not start on port %d" % (what, port))


def free_display():
    for n in range(90, 400):
        if not os.path.exists("/tmp/.X%d-lock" % n) and not os.path.exists("/tmp/.X11-unix/X%d" % n):
            return n
    raise HarnessError("no free X display")


def wine_env(prefix, display):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": prefix,
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
        "DISPLAY": ":%d" % display,
    })
    env.pop("http_proxy", None)
    return env


def windows_path(unix_path):
    return "Z:" + unix_path.replace("/", "\\")


def stop(state):
    pids_file = os.path.join(state, "pids.json")
    if os.path.exists(pids_file):
        with open(pids_file) as f:
            pids = json.load(f)
        for name in ("keeper", "scripted", "xvfb"):
            pid = pids.get(name)
            if pid:
                try:
                    os.killpg(pid, signal.SIGTERM)
                except OSError:
                    pass
        nginx_pid = os.path.join(state, "nginx", "nginx.pid")
        if os.path.exists(nginx_pid):
            try:
                with open(nginx_pid) as f:
                    os.kill(int(f.read().strip()), signal.SIGQUIT)
            except (OSError, ValueError):
                pass
        os.remove(pids_file)
    prefix = os.path.join(state, "prefix")
    if os.path.isdir(prefix):
        env = dict(os.environ, WINEPREFIX=prefix)
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def remember(state, pids):
    """What runs so far, for stop: written at once, so that a start that
    fails half-way is ended all the same."""
    with open(os.path.join(state, "pids.json"), "w") as f:
        json.dump(pids, f)


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


def start(args):
    state = os.path.abspath(args.state)
    os.makedirs(state, exist_ok=True)
    stop(state)

    nginx_port, scripted_port = free_port(), free_port()
    while scripted_port == nginx_port:
        scripted_port = free_port()
    display = free_display()
    pids = {}

    # Display first: some Wine calls of the prefix set-up want one.
    xvfb = subprocess.Popen(["Xvfb", ":%d" % display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=open(os.path.join(state, "xvfb.log"), "w"),
                            start_new_session=True)
    pids["xvfb"] = xvfb.pid
    remember(state, pids)
    deadline = time.time() + 20
    while not os.path.exists("/tmp/.X11-unix/X%d" % display):
        if time.time() > deadline or xvfb.poll() is not None:
            raise HarnessError("Xvfb did not start on :%d" % display)
        time.sleep(0.1)

    # Servers.
    www = os.path.join(state, "www")
    for sub in ("download", "scripted"):
        os.makedirs(os.path.join(www, sub), exist_ok=True)
    scripted_log = os.path.join(state, "scripted.log")
    open(scripted_log, "w").close()
    scripted = subprocess.Popen([sys.executable, os.path.join(HERE, "scripted_server.py"),
                                 "--port", str(scripted_port), "--root", os.path.join(www, "scripted"),
                                 "--log", scripted_log],
                                stdout=open(os.path.join(state, "scripted.out"), "w"), stderr=subprocess.STDOUT,
                                start_new_session=True)
    pids["scripted"] = scripted.pid
    remember(state, pids)

    nginx_dir = os.path.join(state, "nginx")
    for sub in ("body", "proxy", "fastcgi", "uwsgi", "scgi"):
        os.makedirs(os.path.join(nginx_dir, "tmp", sub), exist_ok=True)
    open(os.path.join(nginx_dir, "access.log"), "w").close()
    with open(os.path.join(HERE, "nginx.conf.in")) as f:
        conf = f.read()
    user = "user root;" if os.geteuid() == 0 else ""
    for key, value in {"@DIR@": nginx_dir, "@WWW@": www, "@PORT@": str(nginx_port),
                       "@SCRIPTED_PORT@": str(scripted_port), "@USER@": user,
                       "@DOWNLOAD_HOST@": args.download_host, "@STATS_HOST@": args.stats_host,
                       "@DOWNLOAD_RATE@": "limit_rate %d;" % args.download_rate if args.download_rate else ""}.items():
        conf = conf.replace(key, value)
    conf_path = os.path.join(nginx_dir, "nginx.conf")
    with open(conf_path, "w") as f:
        f.write(conf)
    step(["nginx", "-e", os.path.join(nginx_dir, "error.log"), "-p", nginx_dir, "-c", conf_path], None)
    wait_port(nginx_port, "nginx")
    wait_port(scripted_port, "scripted server")

    # A fresh prefix for this run, shared by all its tests.
    prefix = os.path.join(state, "prefix")
    shutil.rmtree(prefix, ignore_errors=True)
    env = wine_env(prefix, display)
    step(["wineboot", "-i"], env)
    step(["wine", "reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v", "Arial",
          "/d", "Liberation Sans", "/f"], env)
    # Xvfb has no window manager; Wine would wait 2 s for one whenever a
    # managed window is hidden or destroyed.
    step(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"], env)
    # Keep one wineserver, with its services, for the whole run: a server
    # that comes and goes between tests makes the first programs of the next
    # test wait seconds for it. The set-up's own server must end first (a
    # second one refuses to start), and the services are booted here with
    # output going nowhere: services holding a test's pipe would keep ctest
    # waiting for that test after it has ended.
    subprocess.run(["wineserver", "-w"], env=env, timeout=120)
    subprocess.Popen(["wineserver", "-p"], env=env, start_new_session=True,
                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    step(["wine", "cmd", "/c", "exit"], env, timeout=120, start_new_session=True)
    if args.desktop_keeper:
        # Wine's desktop process leaves when the last program on the desktop
        # ends, and a program started in that moment waits 12 s for it: one
        # program stays for the whole run.
        keeper = subprocess.Popen(["wine", args.desktop_keeper, "hold-desktop"], env=env, start_new_session=True,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        pids["keeper"] = keeper.pid
        remember(state, pids)

    users = os.path.join(prefix, "drive_c", "users")
    user_dirs = [d for d in os.listdir(users) if d.lower() != "public"]
    wine_user = user_dirs[0] if user_dirs else "root"
    temp_dir = os.path.join(users, wine_user, "Temp")
    os.makedirs(temp_dir, exist_ok=True)

    values = {
        "WINEPREFIX": prefix,
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
        "DISPLAY": ":%d" % display,
        "http_proxy": "http://127.0.0.1:%d" % nginx_port,
        # One name only: Wine's WinINet splits the list at ";" or " ", not
        # at ",", and would send "127.0.0.1,localhost" to the proxy.
        "no_proxy": "127.0.0.1",
        "KOVRA_HARNESS_DIR": state,
        "KOVRA_HARNESS_DIR_WIN": windows_path(state),
        "KOVRA_NGINX_PORT": str(nginx_port),
        "KOVRA_SCRIPTED_PORT": str(scripted_port),
        "KOVRA_DOWNLOAD_HOST": args.download_host,
        "KOVRA_STATS_HOST": args.stats_host,
        "KOVRA_WINE_USER": wine_user,
        "KOVRA_TEMP_DIR": temp_dir,
        # How this machine runs the build (tools/route.sh): native, emulated or x86_64.
        "KOVRA_ROUTE": os.environ.get("KOVRA_ROUTE", "native"),
    }
    with open(os.path.join(state, "env"), "w") as f:
        for key, value in values.items():
            f.write("%s='%s'\nexport %s\n" % (key, value.replace("'", "'\\''"), key))
    with open(os.path.join(state, "env.json"), "w") as f:
        json.dump(values, f, indent=1)
    print("harness: nginx on %d, scripted server on %d, display :%d, prefix %s, route %s"
          % (nginx_port, scripted_port, display, prefix, values["KOVRA_ROUTE"]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=("start", "stop"))
    parser.add_argument("--state", required=True)
    parser.add_argument("--download-host", default="download.kovra.example")
    parser.add_argument("--stats-host", default="stat.kovra.example")
    parser.add_argument("--desktop-keeper", help="a program of the build that keeps Wine's desktop up "
                        "for the whole run (window_probe.exe: it is started with hold-desktop)")
    parser.add_argument("--download-rate", type=int, default=0,
                        help="bytes a second nginx sends of a download (0: no limit); the demo slows down to be seen")
    args = parser.parse_args()
    if args.command == "start":
        try:
            start(args)
        except (HarnessError, OSError, subprocess.SubprocessError) as error:
            # End what was started, and say why in one line.
            stop(os.path.abspath(args.state))
            print("harness: cannot start: %s" % error, file=sys.stderr)
            sys.exit(1)
    else:
        stop(os.path.abspath(args.state))


if __name__ == "__main__":
    main()
