#!/usr/bin/env python3
"""What the layered window puts on the display (the pushed frames, not only
the built ones): skin_preview in both looks, read back with ImageMagick's
import from the harness's Xvfb. After the first push only changed areas go
to the display, so the screen must still equal the whole frame the preview
built, pixel for pixel wherever the frame is opaque. Then the real loader in
its installing look, which must show the same, with moving stripes. Then at
144 and 192 DPI (the prefix's LogPixels, with Wine started again): the
window's size, its controls' places and its frame against the pictures
skin-art draws directly at that scale.
"""

import ctypes
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

from kovra_harness import harness, poll, wait_until

SKIN_ART = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "skin-art", "skin_art.py")
DESKTOP = r"HKCU\Control Panel\Desktop"

WIDTH, HEIGHT = 513, 264
PANEL = (247, 247, 247)
TRACK = (204, 204, 204)
STRIPE = (220, 220, 220)

def read_pam(data):
    """A PAM image of 8-bit samples (RGB or RGBA) as rows of pixel tuples."""
    end = data.index(b"ENDHDR\n") + len(b"ENDHDR\n")
    header = dict(line.split(b" ", 1) for line in data[:end].split(b"\n")[1:-2])
    width, height, depth = (int(header[key]) for key in (b"WIDTH", b"HEIGHT", b"DEPTH"))
    pixels = data[end:]
    return [[tuple(pixels[(y * width + x) * depth:(y * width + x + 1) * depth]) for x in range(width)]
            for y in range(height)]


def screenshot(display):
    """The screen as (width, height, rows of (r, g, b))."""
    rows = read_pam(subprocess.run(["import", "-display", display, "-window", "root", "-depth", "8", "pam:-"],
                                   check=True, stdout=subprocess.PIPE, timeout=60).stdout)
    return len(rows[0]), len(rows), rows


def read_frame(path):
    """The frame skin_preview wrote: a straight RGBA PAM file."""
    with open(path, "rb") as f:
        return read_pam(f.read())


def show(harness, args, frame_path):
    """The preview, once it has faded in and written its frame (it says
    "ready"); it runs until killed."""
    process = subprocess.Popen(["wine", harness.program("skin_preview.exe")] + args +
                               ["--frame", harness.windows_path(frame_path)],
                               env=harness.env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
    next((line for line in process.stdout if line.strip() == b"ready"), None)
    return process


def opaque_mismatches(rows, frame, left, top, skip):
    """Opaque pixels of the frame that the screen shows otherwise, outside
    the rectangle skip (frame coordinates)."""
    wrong = 0
    for y in range(min(len(frame), len(rows) - top)):  # what of it is on the screen
        for x in range(min(len(frame[0]), len(rows[0]) - left)):
            r, g, b, a = frame[y][x]
            if a != 255 or (skip[0] <= x < skip[2] and skip[1] <= y < skip[3]):
                continue
            wrong += rows[top + y][left + x] != (r, g, b)
    return wrong


def probe(harness):
    """window_probe info of the preview's window, with each control's place."""
    info = harness.probe("info", harness.probe("find", "20000")[1].get("hwnd", "0"))[1]
    info["places"] = [tuple(int(v) for v in info.get(name, "0,0,0,0").split(",")) for name in
                      ("minimise", "close", "progress")]
    return info


def read_png(path):
    """skin-art's RGBA files (rows unfiltered) as rows of (r, g, b, a)."""
    with open(path, "rb") as f:
        data = f.read()
    width, height = struct.unpack(">II", data[16:24])
    raw = zlib.decompress(data[data.index(b"IDAT") + 4:data.index(b"IEND") - 8])
    row = width * 4 + 1
    return [[tuple(raw[y * row + 1 + x * 4:y * row + 5 + x * 4]) for x in range(width)] for y in range(height)]


def scaled(length, dpi):
    return (length * dpi + 48) // 96


def check_scaled(test, harness, display, work, dpi, places96):
    width, height = scaled(WIDTH, dpi), scaled(HEIGHT, dpi)
    frame_path = os.path.join(work, "frame-%d.pam" % dpi)
    process = show(harness, ["--percent", "50"], frame_path)
    info = probe(harness)
    _, _, rows = screenshot(display)
    process.kill()
    process.wait()
    frame = read_frame(frame_path)
    left, top, right, bottom = (int(v) for v in info["rect"].split(","))
    test.assertTrue((right - left, bottom - top, len(frame[0]), len(frame)) == (width, height, width, height),
          "%d DPI: the window and its frame are %dx%d (%s)" % (dpi, width, height, info["rect"]))
    for place, (l, t, r, b) in zip(info["places"], places96):
        want = (scaled(l, dpi), scaled(t, dpi), scaled(l, dpi) + scaled(r - l, dpi), scaled(t, dpi) + scaled(b - t, dpi))
        test.assertTrue(place == want, "%d DPI: a control at %s, not at %s" % (dpi, place, want))
    wrong = opaque_mismatches(rows, frame, left, top, (0, 0, 0, 0))
    test.assertTrue(wrong == 0, "%d DPI: the screen shows the built frame (%d opaque pixels differ)" % (dpi, wrong))

    art = os.path.join(work, "art-%d" % dpi)
    subprocess.run([sys.executable, SKIN_ART, "--scale", str(dpi / 96.0), "--out", art], check=True, timeout=300)
    drawn = read_png(os.path.join(art, "background.png"))
    if dpi == 192:
        # The 2x set 1:1: all but the controls and the caption between them
        # is the picture drawn directly at 2x.
        buttons, bar = info["places"][1], info["places"][2]
        differ = sum(frame[y][x] != drawn[y][x] for y in range(height) for x in range(width)
                     if not buttons[1] <= y < bar[3])
        test.assertTrue(differ == 0, "192 DPI: the background is the 2x drawing (%d pixels differ)" % differ)
    else:
        # The 2x set reduced, not the 1x enlarged: on the logo's white part
        # 1.5 % of the pixels were more than 16 off the direct drawing in some
        # channel (the 1x set enlarged: 2.8 %).
        y0, y1, x0, x1 = scaled(178, dpi), scaled(256, dpi), scaled(8, dpi), scaled(505, dpi)
        off = sum(max(abs(p - q) for p, q in zip(frame[y][x], drawn[y][x])) > 16
                  for y in range(y0, y1) for x in range(x0, x1))
        share = 100.0 * off / ((y1 - y0) * (x1 - x0))
        test.assertTrue(share < 2.1, "%d DPI: the logo is sharp (%.1f %% off the direct drawing)" % (dpi, share))


def window_origin(width, height):
    # Centred on the work area: the whole screen on bare Xvfb.
    return width // 2 - WIDTH // 2, height // 2 - HEIGHT // 2


def bar_row(rows, left, top):
    """The middle row of the bar: found down the column 60 pixels into it."""
    column = left + 30 + 60
    painted = [y for y in range(top + 100, top + 175) if rows[y][column] not in (PANEL,)]
    return painted[len(painted) // 2] if painted else None


def bar_rows(display, x, y, width, seconds):
    """(time, row of (r, g, b)) of one screen row, read from the X server about
    every 20 ms: a read takes about a millisecond, so its time is known."""
    class XImage(ctypes.Structure):
        _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                    ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte))]
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XGetImage.restype = ctypes.POINTER(XImage)
    x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                              ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    x11.XDestroyImage.argtypes = [ctypes.POINTER(XImage)]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    connection = x11.XOpenDisplay(display.encode())
    root = x11.XDefaultRootWindow(connection)
    samples = []
    end = time.time() + seconds
    while time.time() < end:
        before = time.time()
        image = x11.XGetImage(connection, root, x, y, width, 1, ctypes.c_ulong(-1).value, 2)  # ZPixmap
        at = (before + time.time()) / 2
        data = image.contents.data  # 32 bits a pixel, blue first
        samples.append((at, [(data[i * 4 + 2], data[i * 4 + 1], data[i * 4]) for i in range(width)]))
        x11.XDestroyImage(image)
        time.sleep(0.02)
    x11.XCloseDisplay(connection)
    return samples


def stripe_shifts(samples, period=29):
    """Pixels the stripes moved between successive rows, where one shift
    explains the change."""
    shifts = [[d for d in range(period) if all(b[x] == a[x - d] for x in range(period, len(a)))]
              for (_, a), (_, b) in zip(samples, samples[1:])]
    return [found[0] for found in shifts if len(found) == 1]


def loader_look(test, harness, display, frame, left, top):
    """The real loader after a download: its installer already complete on
    disk, so no progress came and the 100 % is the worker's final update."""
    served = os.path.join(harness.download_root, "KovraInstallerD1.exe")
    shutil.copyfile(harness.program("kovra-standin-installer.exe"), served)
    final = os.path.join(harness.temp_dir, "KovraLoader.exe")
    shutil.copyfile(served, final)
    stamp = os.path.getmtime(served)
    os.utime(final, (stamp, stamp))
    # The installer (the stand-in) runs until the looks below are done.
    done = os.path.join(harness.state, "looked")
    loader = harness.start(harness.program("KovraLoader.exe"), KOVRA_STANDIN_SECONDS="120",
                           KOVRA_STANDIN_UNTIL=harness.windows_path(done))
    test.addCleanup(loader.kill)

    hwnd = harness.probe("find", "30000", timeout=90)[1].get("hwnd")
    test.assertTrue(hwnd, "the loader's window")
    info = wait_until(lambda: (lambda info: info.get("marquee") == "1" and info)(
        harness.probe("info", hwnd, timeout=90)[1]), 60, "the loader's installing look")
    test.assertEqual(info.get("text"), "Загрузка браузера Ковра - 100%", "the window text at 100 %")
    # The screen is read again until it shows the look, faded in.
    def look():
        rows = screenshot(display)[2]
        y = bar_row(rows, left, top)
        bar = y is not None and (30, y - top - 4, 483, y - top + 5)
        return bar and opaque_mismatches(rows, frame, left, top, bar) == 0 and y
    y = poll(look, 60, 0.2)
    test.assertTrue(y, "the loader shows its stripe bar, the installing look and caption")
    # The stripes move on, forward, by whole steps of 2 pixels (their speed
    # is that of their timer: the window tests).
    shifts = stripe_shifts(bar_rows(display, left + 30, y, 453, 2.5))
    print("the stripes moved %d pixels in steps of %s" % (sum(shifts), sorted(set(shifts))))
    test.assertTrue(any(shifts) and all(shift % 2 == 0 for shift in shifts), shifts)
    open(done, "w").close()
    test.assertEqual(loader.wait(timeout=60), 1, "the loader ends with 1 after its installer")
    os.remove(served)


class OnScreen(unittest.TestCase):
    """The preview at 50 %, its installing look and the loader's, and both at
    144 and 192 DPI."""

    @classmethod
    def setUpClass(cls):
        cls.h = harness()
        cls.display = cls.h.values["DISPLAY"]
        cls.work = tempfile.mkdtemp(prefix="on-screen-", dir=cls.h.state)
        cls.frame_path = os.path.join(cls.work, "frame.pam")
        process = show(cls.h, ["--percent", "50"], cls.frame_path)
        cls.info = probe(cls.h)
        width, height, cls.rows = screenshot(cls.display)
        process.kill()
        process.wait()
        cls.left, cls.top = window_origin(width, height)
        cls.frame = read_frame(cls.frame_path)

    def test_frame_at_50_percent(self):
        rows, left, top, info = self.rows, self.left, self.top, self.info
        wrong = opaque_mismatches(rows, self.frame, left, top, (0, 0, 0, 0))
        self.assertEqual(wrong, 0, "the screen shows the built frame (opaque pixels that differ)")
        self.assertEqual(rows[top + 100][left + 100], PANEL, "panel at (100, 100) of the window")
        self.assertEqual(rows[top + 176][left + 20], (230, 230, 230), "the line at row 176")
        self.assertEqual(rows[top + 240][left + 20], (255, 255, 255), "white lower part")
        self.assertEqual(rows[top + 100][left - 20], (0, 0, 0), "the screen left of the window is untouched")
        y = bar_row(rows, left, top)
        self.assertIsNotNone(y, "the bar is on the screen")
        filled = [rows[y][left + 30 + x] for x in range(453)]
        self.assertEqual(sum(1 for r, g, b in filled[:226] if r == 0 and b == 255), 226, "left half blue at 50 %")
        self.assertEqual(sum(1 for pixel in filled[227:] if pixel == TRACK), 226, "right half grey at 50 %")
        caption = [rows[yy][xx] for yy in range(top + 70, top + 105) for xx in range(left + 150, left + 360)]
        self.assertIn((102, 102, 102), caption, "the caption in #666666")
        logo = [rows[yy][xx] for yy in range(top + 190, top + 245) for xx in range(left + 150, left + 360)]
        self.assertTrue(any(r < 60 and b > 200 for r, g, b in logo), "the blue mark of the logo")
        self.assertEqual(rows[top + 24][left + 478], (102, 102, 102), "the close glyph")
        # What a screen reader gets through oleacc. The bar's position is what
        # Windows reads out as "50%" (Wine's oleacc has no progress bar object).
        self.assertEqual((info.get("minimise.name"), info.get("close.name"), info.get("bar")),
                         ("Свернуть", "Закрыть", "50"), "buttons named and bar position")

    def test_installing_look_of_the_preview_and_the_loader(self):
        display, left, top = self.display, self.left, self.top
        process = show(self.h, ["--installing"], self.frame_path)
        _, _, first = screenshot(display)
        # The stripes moved on: once the preview has drawn again.
        second = poll(lambda: (lambda rows: rows != first and rows)(screenshot(display)[2]), 60, 0.3) or first
        process.kill()
        process.wait()
        frame = read_frame(self.frame_path)
        y = bar_row(first, left, top)
        self.assertIsNotNone(y, "the stripe bar is on the screen")
        row1 = [first[y][left + 30 + x] for x in range(453)]
        row2 = [second[y][left + 30 + x] for x in range(453)]
        self.assertGreater(sum(1 for p in row1 if p == TRACK), 100, "stripes of #CCCCCC")
        self.assertGreater(sum(1 for p in row1 if p == STRIPE), 100, "between stripes #DCDCDC")
        self.assertNotEqual(row1, row2, "the stripes move on the screen")
        # Only the bar went to the display since the frame was built: the
        # rest (the installing caption among it) is still that frame, and the
        # bar is the frame's bar with the stripes moved on.
        bar = (30, y - top - 4, 483, y - top + 5)
        for shot in (first, second):
            wrong = opaque_mismatches(shot, frame, left, top, bar)
            self.assertEqual(wrong, 0, "the screen shows the built frame around the bar (opaque pixels that differ)")
            built = [frame[y - top][30 + x][:3] for x in range(453)]
            shown = [shot[y][left + 30 + x] for x in range(453)]
            shifts = [d for d in range(29) if all(shown[x] == built[x - d] for x in range(28, 453))]
            self.assertTrue(shifts, "the bar on the screen is the built bar with its stripes moved")
        loader_look(self, self.h, display, frame, left, top)

    def test_scaled_at_144_and_192_dpi(self):
        for dpi in (144, 192):
            with self.subTest(dpi=dpi):
                # The prefix's DPI: this test's own prefix, nothing else sees
                # it. Wine 10 gives a monitor the DPI its desktop found when
                # it started (measured: new programs then saw the new system
                # DPI, but their windows the old one), as a monitor's scale
                # changes on Windows: Wine starts again with it. Wine 8 reads
                # it in every program.
                self.h.reg("add", DESKTOP, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
                self.h.restart_wine()
                check_scaled(self, self.h, self.display, self.work, dpi, self.info["places"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
