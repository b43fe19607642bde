#!/usr/bin/env python3
"""Draws every picture the dialogs and controls load, and writes them as PNGs.

Standard library only: shapes are signed distance functions sampled once per
pixel with a one-pixel soft edge, composited in straight-alpha RGBA floats,
and written with zlib + struct. The output is deterministic, so re-running the
script reproduces the committed files byte for byte.

Shapes are given in logical pixels. The pictures of the main window and the
update prompt are also drawn at twice the resolution (NAME@2x.png, resource
"ID@2x") for screens with a device-pixel ratio of 2: drawn anew, not scaled.

    python3 res/make_artwork.py                 # writes res/png/*.png
    python3 res/make_artwork.py --sheet out.png # also a contact sheet to look at
"""

import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

YELLOW = (252, 211, 21)
WHITE = (255, 255, 255)


# ---------------------------------------------------------------- canvas


class Canvas:
    """Straight-alpha RGBA image, channels 0..255 as floats.

    w and h count device pixels: the logical size times scale.
    """

    def __init__(self, w, h, fill=(0, 0, 0, 0), scale=1):
        self.s = scale
        self.w, self.h = w * scale, h * scale
        self.px = [list(fill) for _ in range(self.w * self.h)]

    def logical(self, i):
        """Logical coordinate of device pixel row or column i (its centre)."""
        return (i + 0.5) / self.s - 0.5

    def blend(self, x, y, rgb, a):
        if a <= 0.0 or x < 0 or y < 0 or x >= self.w or y >= self.h:
            return
        p = self.px[y * self.w + x]
        a = min(a, 1.0)
        da = p[3] / 255.0
        oa = a + da * (1.0 - a)
        if oa <= 0.0:
            return
        for i in range(3):
            p[i] = (rgb[i] * a + p[i] * da * (1.0 - a)) / oa
        p[3] = oa * 255.0

    def shape(self, sdf, rgb, alpha=1.0, box=None):
        """Fills where sdf(x, y) < 0, with a one-device-pixel anti-aliased edge.

        sdf and box are in logical pixels."""
        s = self.s
        x0, y0, x1, y1 = box or (0, 0, self.w // s, self.h // s)
        for y in range(max(0, y0 * s), min(self.h, y1 * s)):
            cy = (y + 0.5) / s
            for x in range(max(0, x0 * s), min(self.w, x1 * s)):
                cov = 0.5 - sdf((x + 0.5) / s, cy) * s
                if cov > 0.0:
                    self.blend(x, y, rgb, alpha * min(cov, 1.0))

    def paste(self, other, ox, oy):
        for y in range(other.h):
            for x in range(other.w):
                p = other.px[y * other.w + x]
                self.blend(ox + x, oy + y, p[:3], p[3] / 255.0)

    def to_bytes(self):
        rows = []
        for y in range(self.h):
            row = bytearray()
            for p in self.px[y * self.w:(y + 1) * self.w]:
                a = int(round(max(0.0, min(255.0, p[3]))))
                if a == 0:
                    row += b"\0\0\0\0"
                else:
                    row += bytes(int(round(max(0.0, min(255.0, c)))) for c in p[:3]) + bytes([a])
            rows.append(bytes(row))
        return rows


def write_png(path, canvas):
    rows = canvas.to_bytes()
    raw = bytearray()
    prev = bytes(len(rows[0]))
    for row in rows:
        # Per row, keep whichever of the Sub / Up filters gives smaller sums.
        sub = bytes((row[i] - (row[i - 4] if i >= 4 else 0)) & 255 for i in range(len(row)))
        up = bytes((row[i] - prev[i]) & 255 for i in range(len(row)))
        cost = lambda f: sum(b if b < 128 else 256 - b for b in f)
        best = min(((0, row), (1, sub), (2, up)), key=lambda t: cost(t[1]))
        raw.append(best[0])
        raw += best[1]
        prev = row

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    ihdr = struct.pack(">IIBBBBB", canvas.w, canvas.h, 8, 6, 0, 0, 0)
    data = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(data)


# ---------------------------------------------------------------- shapes


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ring(cx, cy, r, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - width / 2.0


def rbox(x0, y0, x1, y1, r):
    cx, cy, hx, hy = (x0 + x1) / 2.0, (y0 + y1) / 2.0, (x1 - x0) / 2.0 - r, (y1 - y0) / 2.0 - r

    def f(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        return math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - r

    return f


def segment(ax, ay, bx, by, width):
    dx, dy = bx - ax, by - ay
    ll = dx * dx + dy * dy

    def f(x, y):
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / ll))
        return math.hypot(x - ax - t * dx, y - ay - t * dy) - width / 2.0

    return f


def polygon(points):
    """Convex polygon, points clockwise on screen."""
    edges = []
    for i, (ax, ay) in enumerate(points):
        bx, by = points[(i + 1) % len(points)]
        nx, ny = by - ay, ax - bx
        n = math.hypot(nx, ny)
        edges.append((ax, ay, nx / n, ny / n))
    return lambda x, y: max((x - ax) * nx + (y - ay) * ny for ax, ay, nx, ny in edges)


def union(*fs):
    return lambda x, y: min(f(x, y) for f in fs)


def cut(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def gear(cx, cy, r_body, r_tip, r_hole, teeth, tooth_w):
    def tooth(k):
        ang = 2.0 * math.pi * k / teeth
        c, s = math.cos(ang), math.sin(ang)
        hl, hw = (r_tip - r_body * 0.6) / 2.0, tooth_w / 2.0
        mid = (r_tip + r_body * 0.6) / 2.0

        def f(x, y):
            u = (x - cx) * c + (y - cy) * s - mid
            v = -(x - cx) * s + (y - cy) * c
            qx, qy = abs(u) - hl + 0.6, abs(v) - hw + 0.6
            return math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - 0.6

        return f

    body = union(circle(cx, cy, r_body), *[tooth(k) for k in range(teeth)])
    return cut(body, circle(cx, cy, r_hole))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


# ---------------------------------------------------------------- pictures


def bar_piece(w, kind, rgb, s=1):
    """6-pixel high progress bar piece: round left end, round right end, or a slice."""
    c = Canvas(w, 6, scale=s)
    if kind == "left":
        c.shape(union(circle(3, 3, 3), rbox(3, 0, 7, 6, 0)), rgb)
    elif kind == "right":
        c.shape(union(circle(3, 3, 3), rbox(-1, 0, 3, 6, 0)), rgb)
    else:
        c.shape(rbox(-1, 0, w + 1, 6, 0), rgb)
    return c


def gear_icon(rgb, s=1):
    c = Canvas(24, 24, scale=s)
    c.shape(gear(12, 12, 7.2, 10.6, 3.2, 8, 3.6), rgb)
    return c


def close_icon(rgb, s=1, size=12, inset=1.5, width=1.8):
    c = Canvas(size, size, scale=s)
    lo, hi = inset, size - inset
    c.shape(union(segment(lo, lo, hi, hi, width), segment(lo, hi, hi, lo, width)), rgb)
    return c


def start_icon(rgb, s=1):
    c = Canvas(24, 24, scale=s)
    c.shape(ring(12, 12, 10.5, 1.6), rgb)
    c.shape(polygon([(9.5, 7.0), (17.5, 12.0), (9.5, 17.0)]), rgb)
    return c


def stop_icon(rgb, s=1):
    c = Canvas(24, 24, scale=s)
    c.shape(ring(12, 12, 10.5, 1.6), rgb)
    c.shape(rbox(8, 8, 16, 16, 1.0), rgb)
    return c


def main_background(w, h, bands=True, s=1):
    top, bottom = (23, 52, 84), (9, 20, 38)
    c = Canvas(w, h, scale=s)
    glow_x, glow_y, glow_r = w * 0.30, h * 0.28, w * 0.55
    for dy in range(c.h):
        y = c.logical(dy)
        base = mix(top, bottom, max(0.0, y / (h - 1)) ** 0.9)
        for dx in range(c.w):
            x = c.logical(dx)
            g = max(0.0, 1.0 - math.hypot(x - glow_x, (y - glow_y) * 1.4) / glow_r)
            rgb = mix(base, (52, 104, 140), 0.45 * g * g)
            c.px[dy * c.w + dx] = [rgb[0], rgb[1], rgb[2], 255.0]
    if bands:
        # Three soft tide lines across the lower half.
        for k, (amp, base_y, alpha) in enumerate(((9.0, 0.60, 0.10), (7.0, 0.68, 0.08),
                                                  (5.0, 0.76, 0.06))):
            phase = k * 1.7
            freq = 2.0 * math.pi / (w * (0.55 + 0.1 * k))

            def wave(x, y, amp=amp, base_y=base_y, phase=phase, freq=freq):
                yy = h * base_y + amp * math.sin(x * freq + phase)
                slope = amp * freq * math.cos(x * freq + phase)
                return (yy - y) / math.sqrt(1.0 + slope * slope)

            c.shape(lambda x, y, f=wave: -f(x, y), (120, 190, 230), alpha,
                    box=(0, int(h * base_y - amp - 2), w, h))
        # A darker floor under the progress bar.
        c.shape(rbox(-1, h - 46, w + 1, h + 1, 0), (4, 10, 20), 0.35, box=(0, h - 47, w, h))
        # Emblem: a ring holding two waves.
        cx, cy = w * 0.5, h * 0.40
        c.shape(ring(cx, cy, 46, 3.0), (235, 242, 248), 0.85,
                box=(int(cx - 52), int(cy - 52), int(cx + 52), int(cy + 52)))
        for dy, rgb in ((-4.0, (235, 242, 248)), (10.0, YELLOW)):
            def crest(x, y, dy=dy):
                if math.hypot(x - cx, y - cy) > 38.0:
                    return 1.0
                yy = cy + dy + 7.0 * math.sin((x - cx) * 0.11)
                return abs(y - yy) - 2.2

            c.shape(crest, rgb, 0.95, box=(int(cx - 40), int(cy - 40), int(cx + 40), int(cy + 40)))
    return c


def prompt_background(s=1):
    w, h = 340, 180
    c = Canvas(w, h, scale=s)
    for dy in range(c.h):
        rgb = mix((255, 255, 255), (240, 243, 247), max(0.0, c.logical(dy)) / (h - 1))
        for dx in range(c.w):
            c.px[dy * c.w + dx] = [rgb[0], rgb[1], rgb[2], 255.0]
    # Accent strip, and a round information mark in it.
    for dy in range(0, 4 * s):
        for dx in range(c.w):
            c.px[dy * c.w + dx] = [70.0, 97.0, 133.0, 255.0]
    c.shape(circle(170, 26, 11), (70, 97, 133), box=(150, 10, 190, 42))
    c.shape(circle(170, 20.5, 1.7), WHITE, box=(160, 14, 180, 26))
    c.shape(rbox(168.4, 23.5, 171.6, 32.5, 0.8), WHITE, box=(160, 20, 180, 36))
    # One-pixel frame in the same colour the box uses without its picture.
    for k in range(s):
        for dx in range(c.w):
            c.px[k * c.w + dx] = [149.0, 152.0, 145.0, 255.0]
            c.px[(c.h - 1 - k) * c.w + dx] = [149.0, 152.0, 145.0, 255.0]
        for dy in range(c.h):
            c.px[dy * c.w + k] = [149.0, 152.0, 145.0, 255.0]
            c.px[dy * c.w + c.w - 1 - k] = [149.0, 152.0, 145.0, 255.0]
    return c


def button_face(fill_top, fill_bottom, border, s=1):
    w, h = 100, 38
    c = Canvas(w, h, scale=s)
    outer = rbox(0.5, 0.5, w - 0.5, h - 0.5, 4.0)
    inner = rbox(1.5, 1.5, w - 1.5, h - 1.5, 3.0)
    c.shape(outer, border)
    for dy in range(c.h):
        rgb = mix(fill_top, fill_bottom, max(0.0, c.logical(dy)) / (h - 1))
        for dx in range(c.w):
            cov = 0.5 - inner((dx + 0.5) / s, (dy + 0.5) / s) * s
            if cov > 0.0:
                c.blend(dx, dy, rgb, min(cov, 1.0))
    return c


def marker_strip(fg, accent):
    """Five 16x16 markers: dot, square, ring, arrow, check."""
    c = Canvas(80, 16)
    c.shape(circle(8, 8, 3.2), fg, box=(0, 0, 16, 16))
    c.shape(rbox(20.5, 4.5, 27.5, 11.5, 1.2), fg, box=(16, 0, 32, 16))
    c.shape(ring(40, 8, 3.6, 1.7), accent, box=(32, 0, 48, 16))
    c.shape(polygon([(53.5, 4.0), (59.5, 8.0), (53.5, 12.0)]), fg, box=(48, 0, 64, 16))
    c.shape(union(segment(67.5, 8.5, 70.5, 11.5, 1.8), segment(70.5, 11.5, 76.5, 4.5, 1.8)),
            accent, box=(64, 0, 80, 16))
    return c


def close_strip():
    """Caption close button: normal, pressed (one pixel lower right), normal, disabled, hot."""
    c = Canvas(80, 16)
    for cell, (rgb, shift) in enumerate((((200, 200, 200), 0), ((200, 200, 200), 1),
                                         ((200, 200, 200), 0), ((120, 121, 124), 0),
                                         (WHITE, 0))):
        x0 = cell * 16 + shift
        lo, hi = 4.5, 11.5
        c.shape(union(segment(x0 + lo, lo + shift, x0 + hi, hi + shift, 1.5),
                      segment(x0 + lo, hi + shift, x0 + hi, lo + shift, 1.5)),
                rgb, box=(cell * 16, 0, cell * 16 + 16, 16))
    return c


def app_icon():
    c = Canvas(32, 32)
    c.shape(rbox(1, 1, 31, 31, 7), (23, 52, 84))
    c.shape(ring(16, 16, 11, 1.8), (235, 242, 248))
    for dy, rgb in ((-2.0, (235, 242, 248)), (4.0, YELLOW)):
        def crest(x, y, dy=dy):
            if math.hypot(x - 16, y - 16) > 9.0:
                return 1.0
            return abs(y - (16 + dy + 2.0 * math.sin((x - 16) * 0.45))) - 1.1

        c.shape(crest, rgb)
    return c


# (id, file name, builder taking the scale, drawn at 2x as well)
PICTURES = [
    (128, "app_icon.png", lambda s: app_icon(), False),
    (171, "main_panel.png", lambda s: main_background(798, 444, bands=False), False),
    (172, "gear.png", lambda s: gear_icon(WHITE, s), True),
    (173, "gear_hot.png", lambda s: gear_icon(YELLOW, s), True),
    (174, "close.png", lambda s: close_icon(WHITE, s), True),
    (175, "bar_full_left.png", lambda s: bar_piece(6, "left", YELLOW, s), True),
    (176, "bar_full_right.png", lambda s: bar_piece(6, "right", YELLOW, s), True),
    (177, "bar_full_slice.png", lambda s: bar_piece(1, "slice", YELLOW, s), True),
    (178, "bar_empty_left.png", lambda s: bar_piece(6, "left", WHITE, s), True),
    (179, "bar_empty_right.png", lambda s: bar_piece(6, "right", WHITE, s), True),
    (180, "bar_empty_slice.png", lambda s: bar_piece(1, "slice", WHITE, s), True),
    (181, "start.png", lambda s: start_icon(WHITE, s), True),
    (182, "stop.png", lambda s: stop_icon(WHITE, s), True),
    (184, "start_hot.png", lambda s: start_icon(YELLOW, s), True),
    (185, "stop_hot.png", lambda s: stop_icon(YELLOW, s), True),
    (188, "prompt_background.png", prompt_background, True),
    (189, "choice.png",
     lambda s: button_face((246, 247, 249), (228, 231, 236), (196, 200, 206), s), True),
    (190, "choice_hot.png",
     lambda s: button_face((246, 247, 249), (228, 231, 236), (116, 143, 171), s), True),
    (191, "choice_selected.png",
     lambda s: button_face((104, 136, 176), (80, 111, 150), (70, 97, 133), s), True),
    (192, "choice_selected_hot.png",
     lambda s: button_face((70, 97, 133), (48, 70, 101), (38, 56, 82), s), True),
    (193, "main_background.png", lambda s: main_background(800, 450, s=s), True),
    (151, "caption_close_strip.png", lambda s: close_strip(), False),
    (695, "markers_light.png", lambda s: marker_strip((116, 143, 171), (70, 97, 133)), False),
    (934, "markers_dark.png", lambda s: marker_strip((150, 160, 175), (230, 173, 96)), False),
]


def high_res_name(name):
    return name[:-4] + "@2x.png"


def write_qrc(path):
    lines = ['<!DOCTYPE RCC>', '<!-- Written by make_artwork.py: pictures by numeric id. -->',
             '<RCC version="1.0">', '<qresource prefix="/png">']
    for pid, name, _, high_res in sorted(PICTURES):
        lines.append('    <file alias="%d">png/%s</file>' % (pid, name))
        if high_res:
            lines.append('    <file alias="%d@2x">png/%s</file>' % (pid, high_res_name(name)))
    lines += ['</qresource>', '</RCC>', '']
    with open(path, "w") as f:
        f.write("\n".join(lines))


def contact_sheet(canvases, path):
    scale = lambda c: 4 if c.w <= 24 else (2 if c.w <= 100 else 1)
    cols, x, y, row_h, width = [], 8, 8, 0, 1700
    for c in canvases:
        s = scale(c)
        if x + c.w * s > width:
            x, y, row_h = 8, y + row_h + 8, 0
        cols.append((c, s, x, y))
        x += c.w * s + 8
        row_h = max(row_h, c.h * s)
    sheet = Canvas(width, y + row_h + 8, (128, 128, 128, 255))
    for k in range(sheet.h):  # checker behind the pictures to show alpha
        for j in range(sheet.w):
            if ((j // 8) + (k // 8)) % 2:
                sheet.px[k * sheet.w + j] = [96.0, 96.0, 96.0, 255.0]
    for c, s, ox, oy in cols:
        for yy in range(c.h * s):
            for xx in range(c.w * s):
                p = c.px[(yy // s) * c.w + xx // s]
                sheet.blend(ox + xx, oy + yy, p[:3], p[3] / 255.0)
    write_png(path, sheet)


def main(argv):
    out_dir = os.path.join(HERE, "png")
    os.makedirs(out_dir, exist_ok=True)
    canvases = []
    for pid, name, build, high_res in PICTURES:
        c = build(1)
        write_png(os.path.join(out_dir, name), c)
        canvases.append(c)
        if high_res:
            write_png(os.path.join(out_dir, high_res_name(name)), build(2))
    write_qrc(os.path.join(HERE, "tidewell.qrc"))
    if len(argv) == 3 and argv[1] == "--sheet":
        contact_sheet(canvases, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
