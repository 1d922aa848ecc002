#!/usr/bin/env python3
"""Screenshots of the loader's window in its downloading and installing looks.

  take_screenshots.py --exe build/i686/bin/skin_preview.exe [--out DIR]
                      [--percent N] [--dpi N] [--display :N] [--prefix DIR]

Runs skin_preview under Wine on a private Xvfb display (or on the display
given, e.g. --display "$DISPLAY") and saves, for each look (downloading,
installing):

  <look>_screen.png   the whole screen (import -window root)
  <look>_window.png   the window's part of the screen
  <look>_desktop.png  the frame the program pushed, over a plain desktop, the
                      way a compositing desktop shows its translucent shadow
                      (bare Xvfb has no compositor and shows the shadow black)

Without --prefix it uses $WINEPREFIX, or makes DIR/prefix (Arial mapped to
Liberation Sans, as the test harness does). --dpi shows the window at that
DPI (the prefix's LogPixels, put back afterwards; 192 for 200 %), on a
private display large enough for it.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

WINDOW = (513, 264)  # at 96 DPI
DESKTOP = r"HKCU\Control Panel\Desktop"


def free_display():
    for n in range(150, 400):
        if not os.path.exists("/tmp/.X%d-lock" % n) and not os.path.exists("/tmp/.X11-unix/X%d" % n):
            return n
    sys.exit("take_screenshots: no free X display")


def start_xvfb(size):
    number = free_display()
    xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "%dx%dx24" % size, "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    deadline = time.time() + 20
    while not os.path.exists("/tmp/.X11-unix/X%d" % number):
        if time.time() > deadline or xvfb.poll() is not None:
            sys.exit("take_screenshots: Xvfb did not start")
        time.sleep(0.1)
    return xvfb, ":%d" % number


def wine_env(prefix, display):
    env = dict(os.environ, WINEPREFIX=prefix, DISPLAY=display, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("http_proxy", None)
    return env


def make_prefix(prefix, display):
    env = wine_env(prefix, display)
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "env": env, "check": True}
    subprocess.run(["wineboot", "-i"], **quiet)
    subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v", "Arial",
                    "/d", "Liberation Sans", "/f"], **quiet)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def scaled(length, dpi):
    return (length * dpi + 48) // 96


def set_dpi(env, dpi):
    """Sets the prefix's DPI (None: removed); returns what it was."""
    query = subprocess.run(["wine", "reg", "query", DESKTOP, "/v", "LogPixels"], env=env, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL).stdout.decode("utf-8", "replace").split()
    was = int(query[query.index("REG_DWORD") + 1], 16) if "REG_DWORD" in query else None
    command = (["delete", DESKTOP, "/v", "LogPixels", "/f"] if dpi is None else
               ["add", DESKTOP, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"])
    subprocess.run(["wine", "reg"] + command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=True)
    return was


def shoot(exe, args, name, out, env, window):
    frame = os.path.join(out, name + "_frame.pam")
    process = subprocess.Popen(["wine", exe] + args + ["--seconds", "6", "--frame", windows_path(frame)],
                               env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    ready = False
    deadline = time.time() + 90
    while time.time() < deadline:
        line = process.stdout.readline()
        if not line:
            break
        if line.strip() == "ready":
            ready = True
            break
    if not ready:
        process.kill()
        sys.exit("take_screenshots: skin_preview did not show its window")
    screen = os.path.join(out, name + "_screen.png")
    subprocess.run(["import", "-display", env["DISPLAY"], "-window", "root", screen], check=True)
    process.wait(timeout=60)

    size = subprocess.run(["identify", "-format", "%w %h", screen], check=True, stdout=subprocess.PIPE,
                          text=True).stdout.split()
    width, height = int(size[0]), int(size[1])
    # The window is centred on the screen (no taskbar here).
    left, top = max(0, width // 2 - window[0] // 2), max(0, height // 2 - window[1] // 2)
    margin = 16
    cropped = os.path.join(out, name + "_window.png")
    subprocess.run(["convert", screen, "-crop", "%dx%d+%d+%d" % (window[0] + 2 * margin, window[1] + 2 * margin,
                                                                 max(0, left - margin), max(0, top - margin)),
                    "+repage", cropped], check=True)

    desktop = os.path.join(out, name + "_desktop.png")
    subprocess.run(["convert", "-size", "%dx%d" % (window[0] + 80, window[1] + 80), "gradient:#5b7a99-#2f4660",
                    frame, "-geometry", "+40+40", "-composite", desktop], check=True)
    os.remove(frame)
    return [screen, cropped, desktop]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True, help="skin_preview.exe of a build")
    parser.add_argument("--out", default="skin-screenshots")
    parser.add_argument("--percent", type=int, default=42)
    parser.add_argument("--dpi", type=int, help="show the window at this DPI (the prefix's LogPixels)")
    parser.add_argument("--display", help="an X display to use instead of a private Xvfb")
    parser.add_argument("--prefix", help="a Wine prefix to use")
    args = parser.parse_args()

    for tool in ("wine", "import", "convert", "identify") + (() if args.display else ("Xvfb",)):
        if not shutil.which(tool):
            sys.exit("take_screenshots: %s is missing (tools/setup-debian.sh installs it)" % tool)
    exe = os.path.abspath(args.exe)
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)

    window = (scaled(WINDOW[0], args.dpi), scaled(WINDOW[1], args.dpi)) if args.dpi else WINDOW
    xvfb = None
    display = args.display
    if not display:
        xvfb, display = start_xvfb((max(1024, window[0] + 256), max(768, window[1] + 256)))
    try:
        prefix = args.prefix or os.environ.get("WINEPREFIX")
        if not prefix:
            prefix = os.path.join(out, "prefix")
            if not os.path.isdir(prefix):
                make_prefix(prefix, display)
        env = wine_env(os.path.abspath(prefix), display)
        was = set_dpi(env, args.dpi) if args.dpi else None
        try:
            saved = shoot(exe, ["--percent", str(args.percent)], "downloading", out, env, window)
            saved += shoot(exe, ["--installing"], "installing", out, env, window)
        finally:
            if args.dpi:
                set_dpi(env, was)
        for path in saved:
            print(path)
    finally:
        if xvfb:
            xvfb.terminate()
            xvfb.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
