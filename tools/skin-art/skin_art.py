#!/usr/bin/env python3
"""Draws every picture of the loader's skin and writes it into res/.

  skin_art.py [--out DIR]      write the pictures (default: res/ of this checkout)
  skin_art.py --check [--out DIR]
                               exit 1 when a committed picture holds other
                               pixels than this script draws now
  skin_art.py --preview DIR    also write enlarged copies for looking at
  skin_art.py --scale S --out DIR
                               only draw every picture at scale S (1.5 for
                               144 DPI) into DIR, for comparisons

Only the standard library: shapes are sampled on a sub-pixel grid (anti-aliasing
by supersampling) into a premultiplied float canvas, written as 8-bit RGBA or
indexed PNG and as a Windows icon file. Every picture is drawn from one
design in pixels at 96 DPI and can be drawn at any scale: the program carries
a 1x and a 2x set. The pixels are deflated by zopfli (Debian's zopfli
package: about a tenth smaller than zlib's best) when it is installed,
otherwise by zlib at level 9; the check compares what the pictures hold once
inflated, so either serves it.

Pictures (resource id, file):
  216 background.png      513 x 264 window background with panel, shadow, logo
  217 stripe_tile.png     29 x 9 opaque stripe tile of the progress bar
  124/114/115             9 x 9 close cross in #666666 / #000000 / #444444
  128/126/127             10 x 9 minimise bar in #666666 / #000000 / #444444
  128 kovra.ico           application icon, 16 (BMP), 32, 48 and 256 (PNG)
  N + 1000  <name>_2x.png the same pictures at twice the size
"""

import argparse
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_OUT = os.path.normpath(os.path.join(HERE, "..", "..", "res"))


def hex_rgb(text):
    text = text.lstrip("#")
    return tuple(int(text[i:i + 2], 16) / 255.0 for i in (0, 2, 4))


# --- canvas -----------------------------------------------------------------

class Canvas:
    """Premultiplied RGBA floats in 0..1, row-major, y down."""

    def __init__(self, width, height, rgba=(0.0, 0.0, 0.0, 0.0)):
        self.width = width
        self.height = height
        r, g, b, a = rgba
        self.px = [[r * a, g * a, b * a, a] for _ in range(width * height)]

    def over(self, x, y, rgb, alpha):
        """Source-over of a straight colour with the given coverage alpha."""
        if alpha <= 0.0:
            return
        p = self.px[y * self.width + x]
        keep = 1.0 - alpha
        p[0] = rgb[0] * alpha + p[0] * keep
        p[1] = rgb[1] * alpha + p[1] * keep
        p[2] = rgb[2] * alpha + p[2] * keep
        p[3] = alpha + p[3] * keep

    def fill(self, x0, y0, x1, y1, rgb, alpha=1.0):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.over(x, y, rgb, alpha)

    def paint(self, shape, rgb, samples=4, opacity=1.0, scale=(1.0, 1.0)):
        """Paints a shape (inside(x, y) over a bounding box) with coverage AA.

        The shape is given in design units; scale maps them to pixels (x, y),
        and the samples stay per pixel, so every scale is drawn as finely."""
        sx, sy = scale
        x0, y0, x1, y1 = shape.bounds
        x0, y0 = max(0, int(math.floor(x0 * sx))), max(0, int(math.floor(y0 * sy)))
        x1, y1 = min(self.width, int(math.ceil(x1 * sx))), min(self.height, int(math.ceil(y1 * sy)))
        step = 1.0 / samples
        offsets = [(i + 0.5) * step for i in range(samples)]
        total = float(samples * samples)
        inside = shape.inside
        for y in range(y0, y1):
            for x in range(x0, x1):
                hits = 0
                for oy in offsets:
                    for ox in offsets:
                        if inside((x + ox) / sx, (y + oy) / sy):
                            hits += 1
                if hits:
                    self.over(x, y, rgb, opacity * hits / total)

    def rgba_bytes(self):
        out = bytearray()
        for p in self.px:
            a = p[3]
            if a <= 0.0:
                out += b"\0\0\0\0"
                continue
            out += bytes(min(255, int(round(c / a * 255.0))) for c in p[:3])
            out.append(min(255, int(round(a * 255.0))))
        return bytes(out)


# --- shapes -----------------------------------------------------------------

class Shape:
    def __init__(self, inside, bounds):
        self.inside = inside
        self.bounds = bounds

    def __or__(self, other):
        a, b = self, other
        return Shape(lambda x, y: a.inside(x, y) or b.inside(x, y),
                     (min(a.bounds[0], b.bounds[0]), min(a.bounds[1], b.bounds[1]),
                      max(a.bounds[2], b.bounds[2]), max(a.bounds[3], b.bounds[3])))

    def clip_rows(self, top, bottom):
        """Keeps top <= y < bottom: flat terminals for slanted strokes."""
        a = self
        return Shape(lambda x, y: top <= y < bottom and a.inside(x, y),
                     (a.bounds[0], max(a.bounds[1], top), a.bounds[2], min(a.bounds[3], bottom)))


def rect(x0, y0, x1, y1):
    return Shape(lambda x, y: x0 <= x < x1 and y0 <= y < y1, (x0, y0, x1, y1))


def stroke(ax, ay, bx, by, width):
    """A straight stroke with flat ends at both points."""
    dx, dy = bx - ax, by - ay
    length = math.hypot(dx, dy)
    ux, uy = dx / length, dy / length
    half = width / 2.0

    def inside(x, y):
        px, py = x - ax, y - ay
        along = px * ux + py * uy
        return 0.0 <= along <= length and abs(px * uy - py * ux) <= half

    return Shape(inside, (min(ax, bx) - half, min(ay, by) - half, max(ax, bx) + half, max(ay, by) + half))


def ring(cx, cy, outer, inner, start_deg=None, end_deg=None):
    """A ring, optionally only the arc from start to end (degrees, y down)."""

    def inside(x, y):
        dx, dy = x - cx, y - cy
        d2 = dx * dx + dy * dy
        if d2 > outer * outer or d2 < inner * inner:
            return False
        if start_deg is None:
            return True
        angle = math.degrees(math.atan2(dy, dx))
        return start_deg <= angle <= end_deg

    return Shape(inside, (cx - outer, cy - outer, cx + outer, cy + outer))


# --- the mark: a woven rug seen as a diamond ----------------------------------

WARP = hex_rgb("#1565F5")     # ribbons running one way
WEFT = hex_rgb("#1EB0FF")     # and the other
INK = hex_rgb("#17233D")      # the wordmark


def woven_mark(cx, cy, half_diagonal, ribbons):
    """Two shapes (warp ribbons, weft ribbons) of a woven square turned 45 degrees.

    At every crossing one ribbon lies on top, alternating like plain weave; the
    ribbon underneath stops short of the one on top, which shows the weave.
    """
    side = half_diagonal * math.sqrt(2.0)
    gap = 0.6 / ribbons
    width = (1.0 - (ribbons - 1) * gap) / ribbons
    notch = 0.05 if ribbons > 2 else 0.07

    def unit(x, y):
        dx, dy = x - cx, y - cy
        u = (dx + dy) / math.sqrt(2.0) / side + 0.5
        v = (dy - dx) / math.sqrt(2.0) / side + 0.5
        return u, v

    def band(t):
        if t < 0.0 or t > 1.0:
            return None
        i = int(t / (width + gap))
        i = min(i, ribbons - 1)
        return i if t - i * (width + gap) <= width else None

    def near_band(t, margin):
        """Index of the ribbon within margin of t (for the weave gaps), or None."""
        for i in range(ribbons):
            lo = i * (width + gap)
            if lo - margin <= t <= lo + width + margin:
                return i
        return None

    def owner(x, y):
        u, v = unit(x, y)
        if not (0.0 <= u <= 1.0 and 0.0 <= v <= 1.0):
            return None
        i, j = band(v), band(u)       # i: warp ribbon (runs along u), j: weft
        if i is not None and j is not None:
            return "warp" if (i + j) % 2 == 0 else "weft"
        if i is not None:
            # Warp ribbon alone: cut it where it dives under a weft ribbon.
            k = near_band(u, notch)
            if k is not None and (i + k) % 2 == 1:
                return None
            return "warp"
        if j is not None:
            k = near_band(v, notch)
            if k is not None and (k + j) % 2 == 0:
                return None
            return "weft"
        return None

    bounds = (cx - half_diagonal, cy - half_diagonal, cx + half_diagonal, cy + half_diagonal)
    return (Shape(lambda x, y: owner(x, y) == "warp", bounds),
            Shape(lambda x, y: owner(x, y) == "weft", bounds))


def paint_mark(canvas, cx, cy, half_diagonal, ribbons, samples=6, scale=1.0):
    warp, weft = woven_mark(cx, cy, half_diagonal, ribbons)
    canvas.paint(warp, WARP, samples, scale=(scale, scale))
    canvas.paint(weft, WEFT, samples, scale=(scale, scale))


# --- the wordmark "Kovra", geometric letters drawn as shapes ------------------

def wordmark(x, baseline, cap=26.0, xh=19.0, w=4.3, spacing=3.6):
    """Returns (shape, right edge). Letters: K o v r a."""
    top_cap, top_x = baseline - cap, baseline - xh
    shapes = []

    # K: stem, arm up to the cap line, leg down to the baseline.
    stem = rect(x, top_cap, x + w, baseline)
    join_y = baseline - cap * 0.40
    arm = stroke(x + w * 0.5, join_y + 3.0, x + 17.5, top_cap - 6.0, w * 1.02)
    leg = stroke(x + w + 3.4, baseline - cap * 0.58, x + 19.0, baseline + 6.0, w * 1.08)
    k = stem | (arm | leg).clip_rows(top_cap, baseline)
    shapes.append(k)
    x += 18.6 + spacing

    # o: a ring with a little overshoot above and below.
    ro = xh / 2.0 + 0.45
    o = ring(x + ro, baseline - xh / 2.0, ro, ro - w * 1.04)
    shapes.append(o)
    x += 2 * ro + spacing

    # v: two slanted strokes meeting on the baseline.
    vw = 17.0
    v = (stroke(x - 0.6, top_x - 4.0, x + vw / 2.0, baseline + 3.5, w * 1.05) |
         stroke(x + vw + 0.6, top_x - 4.0, x + vw / 2.0, baseline + 3.5, w * 1.05)).clip_rows(top_x, baseline)
    shapes.append(v)
    x += vw + spacing - 0.4

    # r: stem and a shoulder arc from the stem over the top.
    r_stem = rect(x, top_x, x + w, baseline)
    rr = xh * 0.52
    shoulder = ring(x + rr, top_x + rr - 0.2, rr, rr - w, -180.0, -52.0)
    shapes.append(r_stem | shoulder)
    x += rr * 2.0 * 0.78 + spacing - 0.8

    # a: single-storey, a ring and a stem on its right.
    ra = xh / 2.0 + 0.45
    a_ring = ring(x + ra, baseline - xh / 2.0, ra, ra - w * 1.04)
    a_stem = rect(x + 2 * ra - w, top_x, x + 2 * ra, baseline)
    shapes.append(a_ring | a_stem)
    x += 2 * ra

    shape = shapes[0]
    for s in shapes[1:]:
        shape = shape | s
    return shape, x


def wordmark_width():
    _, right = wordmark(0.0, 100.0)
    return right


# --- the pictures ---------------------------------------------------------------

PANEL = hex_rgb("#F7F7F7")
LINE = hex_rgb("#E6E6E6")
WHITE = (1.0, 1.0, 1.0)
BLACK = (0.0, 0.0, 0.0)


def scaled(length, scale):
    """A design length in pixels at scale, halves rounded up (as the program does)."""
    return int(math.floor(length * scale + 0.5))


def background(scale=1.0):
    width, height = scaled(513, scale), scaled(264, scale)
    # The panel, exclusive right/bottom.
    left, top, right, bottom = (scaled(v, scale) for v in (7, 7, 506, 257))
    c = Canvas(width, height)

    # Soft shadow: alpha 31 next to the panel, falling off like a blur; its
    # width follows the scale.
    sigma = 2.4
    for y in range(height):
        for x in range(width):
            if left <= x < right and top <= y < bottom:
                continue
            px, py = x + 0.5, y + 0.5
            dx = max(left - px, 0.0, px - right)
            dy = max(top - py, 0.0, py - bottom)
            d = math.hypot(dx, dy) / scale
            a = 31.0 * math.exp(-((d - 0.5) ** 2) / (2 * sigma * sigma))
            c.over(x, y, BLACK, int(a) / 255.0)

    line, below = scaled(176, scale), scaled(177, scale)
    c.fill(left, top, right, line, PANEL)
    c.fill(left, line, right, below, LINE)
    c.fill(left, below, right, bottom, WHITE)

    # The logo, centred in the white part: the mark, then the wordmark.
    half = 21.0
    gap = 13.0
    word = wordmark_width()
    total = 2 * half + gap + word
    x0 = 256.5 - total / 2.0
    cy = 217.0
    paint_mark(c, x0 + half, cy, half, 3, scale=scale)
    shape, _ = wordmark(x0 + 2 * half + gap, cy + 9.5)
    c.paint(shape, INK, 5, scale=(scale, scale))
    return c


def tile_scale(canvas, width, height):
    """Pixels per design unit of a picture drawn width x height units: a
    tile must repeat at its own pixel width, so x and y may differ a little."""
    return canvas.width / float(width), canvas.height / float(height)


def stripe_tile(scale=1.0):
    c = Canvas(scaled(29, scale), scaled(9, scale), (*hex_rgb("#DCDCDC"), 1.0))
    band_colour = hex_rgb("#CCCCCC")
    # Left edge at x = 10 - y (row 0 from column 9, row 8 from column 1),
    # 13.5 pixels wide; the half-covered edge pixels make the soft edges.
    band = Shape(lambda x, y: 10.0 - y <= x < 23.5 - y, (0, 0, 29, 9))
    c.paint(band, band_colour, 8, scale=tile_scale(c, 29, 9))
    return c


def cross_glyph(colour, scale=1.0):
    c = Canvas(scaled(9, scale), scaled(9, scale))
    shape = stroke(0.55, 0.55, 8.45, 8.45, 1.6) | stroke(8.45, 0.55, 0.55, 8.45, 1.6)
    c.paint(shape, hex_rgb(colour), 8, scale=tile_scale(c, 9, 9))
    return c


def minimise_glyph(colour, scale=1.0):
    c = Canvas(scaled(10, scale), scaled(9, scale))
    c.fill(0, scaled(7, scale), c.width, c.height, hex_rgb(colour))
    return c


def icon_image(size):
    c = Canvas(size, size)
    ribbons = 2 if size <= 16 else 3
    margin = 0.5 if size <= 16 else size / 32.0
    paint_mark(c, size / 2.0, size / 2.0, size / 2.0 - margin, ribbons, 6 if size <= 48 else 3)
    return c


# --- file formats -------------------------------------------------------------

def png_chunk(tag, data):
    body = tag + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


# zopfli's path when the pictures are written for the program; checks and
# comparisons need no more than zlib, and take seconds instead of minutes.
ZOPFLI = None


def deflate(raw):
    """raw in the zlib format."""
    if not ZOPFLI:
        return zlib.compress(raw, 9)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "rows")
        with open(path, "wb") as f:
            f.write(raw)
        return subprocess.run([ZOPFLI, "--zlib", "-c", path], check=True, capture_output=True).stdout


def png_file(header, chunks, rows):
    """A PNG of the given IHDR fields, extra chunks and unfiltered rows.

    No row filter: these pictures are flat colours and anti-aliased edges,
    where deflate finds the repeats itself; every filter made them larger
    (the background: 3,907 bytes with the smallest-sum filter per row, 3,165
    without)."""
    raw = b"".join(b"\0" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", *header)) + b"".join(chunks) +
            png_chunk(b"IDAT", deflate(raw)) + png_chunk(b"IEND", b""))


def png_bytes(width, height, rgba):
    """8-bit RGBA PNG."""
    stride = width * 4
    return png_file((width, height, 8, 6, 0, 0, 0), [], [rgba[y * stride:(y + 1) * stride] for y in range(height)])


def palette_png_bytes(width, height, rgba):
    """The same pixels as an indexed PNG with a transparency table, or None
    when there are more than 256 colours. Entries go by frequency; 1, 2, 4
    or 8 bits a pixel, as few as hold them. Lossless: GDI+ decodes it to the
    same 32-bit pixels."""
    pixels = [rgba[i:i + 4] for i in range(0, len(rgba), 4)]
    counts = {}
    for pixel in pixels:
        counts[pixel] = counts.get(pixel, 0) + 1
    if len(counts) > 256:
        return None
    palette = sorted(counts, key=lambda pixel: (-counts[pixel], pixel))
    index = {pixel: i for i, pixel in enumerate(palette)}
    depth = next(d for d in (1, 2, 4, 8) if len(palette) <= 1 << d)
    per_byte = 8 // depth
    rows = []
    for y in range(height):
        row = bytearray((width * depth + 7) // 8)
        for x in range(width):
            row[x // per_byte] |= index[pixels[y * width + x]] << (8 - depth * (x % per_byte + 1))
        rows.append(bytes(row))
    alphas = [pixel[3] for pixel in palette]
    while alphas and alphas[-1] == 255:
        alphas.pop()
    chunks = [png_chunk(b"PLTE", b"".join(pixel[:3] for pixel in palette))]
    if alphas:
        chunks.append(png_chunk(b"tRNS", bytes(alphas)))
    return png_file((width, height, depth, 3, 0, 0, 0), chunks, rows)


def canvas_png(canvas):
    return png_bytes(canvas.width, canvas.height, canvas.rgba_bytes())


def smallest_png(canvas):
    """RGBA or indexed, whichever is smaller."""
    rgba = canvas.rgba_bytes()
    candidates = [png_bytes(canvas.width, canvas.height, rgba),
                  palette_png_bytes(canvas.width, canvas.height, rgba)]
    return min((c for c in candidates if c), key=len)


def ico_bytes(canvases):
    """An icon file: a 32-bit DIB entry for 16 pixels, PNG entries from 32 up.

    Windows reads PNG entries of any size since Vista (the program needs 7),
    and they are a tenth of a DIB's bytes: 13 KB less in the exe. The 16-pixel
    image, the one shown most (title bar, taskbar), stays in the classic form."""
    entries, blobs = [], []
    for c in canvases:
        size = c.width
        rgba = c.rgba_bytes()
        if size >= 32:
            blob = canvas_png(c)
        else:
            header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
            xor = bytearray()
            for y in range(size - 1, -1, -1):
                for x in range(size):
                    r, g, b, a = rgba[(y * size + x) * 4:(y * size + x) * 4 + 4]
                    xor += bytes((b, g, r, a))
            mask_stride = ((size + 31) // 32) * 4
            mask = bytearray()
            for y in range(size - 1, -1, -1):
                row = bytearray(mask_stride)
                for x in range(size):
                    if rgba[(y * size + x) * 4 + 3] == 0:
                        row[x // 8] |= 0x80 >> (x % 8)
                mask += row
            blob = header + bytes(xor) + bytes(mask)
        entries.append((size, blob))
        blobs.append(blob)
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, blob in entries:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def png_content(data):
    """A PNG file's chunks with its pixel rows inflated: equal for two files
    that hold the same pixels in the same form, however each was deflated."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    chunks, rows, at = [], b"", 8
    while at < len(data):
        length, tag = struct.unpack(">I4s", data[at:at + 8])
        if tag == b"IDAT":
            rows += data[at + 8:at + 8 + length]
        else:
            chunks.append((tag, data[at + 8:at + 8 + length]))
        at += 12 + length
    return chunks, zlib.decompress(rows)


def same_pixels(committed, drawn):
    """Whether committed holds the pixels of drawn: PNG files as their
    content, icon files entry by entry."""
    try:
        if drawn[:8] == b"\x89PNG\r\n\x1a\n":
            return png_content(committed) == png_content(drawn)
        count = struct.unpack("<H", drawn[4:6])[0]
        if committed[:6] != drawn[:6]:
            return False
        for i in range(count):
            mine = struct.unpack("<8sII", committed[6 + 16 * i:22 + 16 * i])
            theirs = struct.unpack("<8sII", drawn[6 + 16 * i:22 + 16 * i])
            if mine[0] != theirs[0]:
                return False
            blob = committed[mine[2]:mine[2] + mine[1]]
            wanted = drawn[theirs[2]:theirs[2] + theirs[1]]
            if blob != wanted and not (wanted[:4] == b"\x89PNG" and same_pixels(blob, wanted)):
                return False
        return True
    except (ValueError, struct.error, zlib.error):
        return False


# --- main -----------------------------------------------------------------------

# Each picture, its file and how it is drawn at a scale; the 1x set is
# resource id N, the 2x set N + 1000.
PICTURES = [
    ("background", background),
    ("stripe_tile", stripe_tile),
    ("close_normal", lambda scale: cross_glyph("#666666", scale)),
    ("close_pressed", lambda scale: cross_glyph("#000000", scale)),
    ("close_hover", lambda scale: cross_glyph("#444444", scale)),
    ("minimise_normal", lambda scale: minimise_glyph("#666666", scale)),
    ("minimise_pressed", lambda scale: minimise_glyph("#000000", scale)),
    ("minimise_hover", lambda scale: minimise_glyph("#444444", scale)),
]


def pictures():
    """The 1x set stays RGBA, as the program has always had it (GDI+ draws
    the stripe tile as the bar tiles it otherwise when it is indexed: a few
    pixels at some phases); the 2x set takes the smaller encoding (the
    background as 81 indexed colours is 44 % of its RGBA file)."""
    files = {}
    for name, draw in PICTURES:
        files["images/%s.png" % name] = canvas_png(draw(1.0))
        files["images/%s_2x.png" % name] = smallest_png(draw(2.0))
    files["kovra.ico"] = ico_bytes([icon_image(s) for s in (16, 32, 48, 256)])
    return files


def draw_set(scale, out):
    """Every picture drawn directly at any scale, as RGBA PNG files in out
    (for comparing the program's scaled window with)."""
    os.makedirs(out, exist_ok=True)
    for name, draw in PICTURES:
        with open(os.path.join(out, name + ".png"), "wb") as f:
            f.write(canvas_png(draw(scale)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=DEFAULT_OUT)
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--preview")
    parser.add_argument("--scale", type=float, help="only draw every picture at this scale into --out")
    args = parser.parse_args()
    if args.scale:
        draw_set(args.scale, args.out)
        return 0

    global ZOPFLI
    if not args.check:
        ZOPFLI = shutil.which("zopfli")
        if not ZOPFLI:
            print("skin-art: no zopfli (Debian's zopfli package): deflating with zlib, about a tenth larger")
    files = pictures()
    stale = []
    for name, data in sorted(files.items()):
        path = os.path.join(args.out, name)
        if args.check:
            try:
                with open(path, "rb") as f:
                    same = same_pixels(f.read(), data)
            except OSError:
                same = False
            if not same:
                stale.append(name)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        print("%-28s %6d bytes" % (name, len(data)))
    if args.preview:
        os.makedirs(args.preview, exist_ok=True)
        for name, data in files.items():
            if name.endswith(".png"):
                with open(os.path.join(args.preview, os.path.basename(name)), "wb") as f:
                    f.write(data)
        for size in (16, 32, 48, 256):
            with open(os.path.join(args.preview, "icon_%d.png" % size), "wb") as f:
                f.write(canvas_png(icon_image(size)))
    if stale:
        print("skin-art: out of date, run tools/skin-art/skin_art.py: " + ", ".join(stale))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
