#!/usr/bin/env python3
"""What the layered window puts on the display (the pushed frames, not only
the built ones): skin_preview in both looks, read back with ImageMagick's
import from the harness's Xvfb.
"""

import subprocess
import sys
import time

from kovra_harness import Harness

WIDTH, HEIGHT = 513, 264
PANEL = (247, 247, 247)
TRACK = (204, 204, 204)
STRIPE = (220, 220, 220)

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED: " + what)


def screenshot(display):
    """The screen as (width, height, rows of (r, g, b))."""
    data = subprocess.run(["import", "-display", display, "-window", "root", "-depth", "8", "ppm:-"], check=True,
                          stdout=subprocess.PIPE, timeout=60).stdout
    fields, offset = [], 0
    while len(fields) < 4:
        while data[offset:offset + 1].isspace():
            offset += 1
        if data[offset:offset + 1] == b"#":
            offset = data.index(b"\n", offset) + 1
            continue
        end = offset
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[offset:end])
        offset = end
    offset += 1
    assert fields[0] == b"P6" and fields[3] == b"255", fields
    width, height = int(fields[1]), int(fields[2])
    pixels = data[offset:]
    rows = [[tuple(pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)]
            for y in range(height)]
    return width, height, rows


def show(harness, args):
    process = harness.start(harness.program("skin_preview.exe"), args + ["--seconds", "10"])
    deadline = time.time() + 60
    while time.time() < deadline:
        line = process.stdout.readline()
        if not line or line.strip() == b"ready":
            break
    return process


def window_origin(width, height):
    # Centred on the work area: the whole screen on bare Xvfb.
    return width // 2 - WIDTH // 2, height // 2 - HEIGHT // 2


def bar_row(rows, left, top):
    """The middle row of the bar: found down the column 60 pixels into it."""
    column = left + 30 + 60
    painted = [y for y in range(top + 100, top + 175) if rows[y][column] not in (PANEL,)]
    return painted[len(painted) // 2] if painted else None


def main():
    harness = Harness()
    display = harness.values["DISPLAY"]

    process = show(harness, ["--percent", "50"])
    width, height, rows = screenshot(display)
    process.kill()
    process.wait()
    left, top = window_origin(width, height)
    check(rows[top + 100][left + 100] == PANEL, "panel at (100, 100) of the window")
    check(rows[top + 176][left + 20] == (230, 230, 230), "the line at row 176")
    check(rows[top + 240][left + 20] == (255, 255, 255), "white lower part")
    check(rows[top + 100][left - 20] == (0, 0, 0), "the screen left of the window is untouched")
    y = bar_row(rows, left, top)
    check(y is not None, "the bar is on the screen")
    if y is not None:
        filled = [rows[y][left + 30 + x] for x in range(453)]
        blue = sum(1 for r, g, b in filled[:226] if r == 0 and b == 255)
        grey = sum(1 for pixel in filled[227:] if pixel == TRACK)
        check(blue == 226, "left half of the bar blue at 50 %% (%d)" % blue)
        check(grey == 226, "right half of the bar grey at 50 %% (%d)" % grey)
    caption = [rows[yy][xx] for yy in range(top + 70, top + 105) for xx in range(left + 150, left + 360)]
    check(any(pixel == (102, 102, 102) for pixel in caption), "the caption in #666666")
    logo = [rows[yy][xx] for yy in range(top + 190, top + 245) for xx in range(left + 150, left + 360)]
    check(any(r < 60 and b > 200 for r, g, b in logo), "the blue mark of the logo")
    glyph = rows[top + 24][left + 478]
    check(glyph == (102, 102, 102), "the close glyph %s" % (glyph,))

    process = show(harness, ["--installing"])
    _, _, first = screenshot(display)
    time.sleep(0.3)
    _, _, second = screenshot(display)
    process.kill()
    process.wait()
    y = bar_row(first, left, top)
    check(y is not None, "the stripe bar is on the screen")
    if y is not None:
        row1 = [first[y][left + 30 + x] for x in range(453)]
        row2 = [second[y][left + 30 + x] for x in range(453)]
        check(sum(1 for p in row1 if p == TRACK) > 100, "stripes of #CCCCCC")
        check(sum(1 for p in row1 if p == STRIPE) > 100, "between stripes #DCDCDC")
        check(row1 != row2, "the stripes move on the screen")

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("on-screen checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
