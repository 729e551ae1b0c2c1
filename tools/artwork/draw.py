#!/usr/bin/env python3
"""Draws the artwork of Setup.exe and writes it as resource files.

    python3 tools/artwork/draw.py OUTDIR

writes OUTDIR/banner.bmp (the picture on the left of every wizard page,
24-bit, 200 x 380 pixels: 133 x 234 dialog units of an 8-point dialog font
at 96 dpi) and OUTDIR/setup.ico (16, 32 and 48 pixels, 32-bit with alpha
and AND masks).

The motif is a camera lens, concentric rings with a dark pupil and a glint,
over a dark blue gradient crossed by faint scan lines. Everything is computed
from fixed numbers, so the output is the same byte for byte on every run.
Standard library only.
"""

import math
import os
import struct
import sys

BANNER_WIDTH = 200
BANNER_HEIGHT = 380
ICON_SIZES = (16, 32, 48)


# ---------------------------------------------------------------- helpers

def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def mix(a, b, t):
    """Linear blend of two RGB triples (floats 0..255)."""
    return (a[0] + (b[0] - a[0]) * t,
            a[1] + (b[1] - a[1]) * t,
            a[2] + (b[2] - a[2]) * t)


def over(dst, src, alpha):
    """Paints src over dst with the given coverage/opacity."""
    return mix(dst, src, clamp01(alpha))


def ring_cover(d, radius, width):
    """Anti-aliased coverage of a ring of the given width at distance d."""
    return clamp01(width / 2.0 + 0.5 - abs(d - radius))


def disc_cover(d, radius):
    """Anti-aliased coverage of a filled disc."""
    return clamp01(radius + 0.5 - d)


def smoothstep(e0, e1, x):
    t = clamp01((x - e0) / (e1 - e0))
    return t * t * (3.0 - 2.0 * t)


# ------------------------------------------------------------------- lens

NAVY = (6, 14, 36)
STEEL = (120, 164, 224)
ICE = (170, 214, 255)
CYAN = (70, 190, 255)
WHITE = (255, 255, 255)


def paint_lens(color, x, y, cx, cy, r, detail):
    """Paints the lens of outer radius r centred at (cx, cy) onto color.

    detail is 0 for the smallest icon (fewer, thicker rings), 1 otherwise.
    Scales every feature with r so the banner and the icons match.
    """
    dx = x - cx
    dy = y - cy
    d = math.hypot(dx, dy)
    u = r / 78.0  # feature scale relative to the banner's lens

    # Barrel: a dark disc with a soft top-left to bottom-right shading.
    body = disc_cover(d, r * 0.70)
    shade = clamp01(0.5 + (dx + dy) / (2.8 * r))
    color = over(color, mix((20, 40, 86), (4, 9, 24), shade), body)

    # Outer housing rings.
    color = over(color, STEEL, 0.85 * ring_cover(d, r * 0.97, max(1.0, 3.2 * u)))
    if detail:
        color = over(color, STEEL, 0.35 * ring_cover(d, r * 0.84, max(1.0, 1.3 * u)))
    color = over(color, (74, 114, 186), 0.95 * ring_cover(d, r * 0.70, max(1.0, 4.0 * u)))

    # Glass: blue inner rings, getting brighter toward the pupil.
    if detail:
        color = over(color, (40, 86, 160), 0.8 * ring_cover(d, r * 0.52, max(1.0, 1.5 * u)))
        color = over(color, (56, 124, 210), 0.8 * ring_cover(d, r * 0.36, max(1.0, 1.8 * u)))

    # Pupil with a cyan rim glow (larger when there is little room for rings).
    pupil = r * (0.21 if detail else 0.30)
    glow = math.exp(-((d - pupil - r * 0.01) / (r * 0.06)) ** 2)
    color = over(color, CYAN, 0.55 * glow)
    color = over(color, (1, 3, 10), disc_cover(d, pupil))

    # Glints: one round highlight and a thin crescent arc on the upper left.
    gd = math.hypot(dx + r * 0.10, dy + r * 0.10)
    color = over(color, WHITE, 0.9 * disc_cover(gd, max(0.7, r * 0.065)))
    if detail:
        angle = math.atan2(dy, dx)
        on_arc = smoothstep(-2.9, -2.4, angle) * (1.0 - smoothstep(-1.6, -1.1, angle))
        color = over(color, ICE, 0.7 * on_arc * ring_cover(d, r * 0.60, max(1.0, 1.6 * u)))
    return color


# ----------------------------------------------------------------- banner

def banner_pixel(x, y):
    w, h = BANNER_WIDTH, BANNER_HEIGHT
    px, py = x + 0.5, y + 0.5

    # Vertical gradient, lighter at the top.
    t = py / h
    color = mix((22, 50, 104), (3, 8, 24), t ** 0.8)

    # A soft glow behind the lens.
    cx, cy, r = 100.0, 150.0, 78.0
    g = math.exp(-(math.hypot(px - cx, py - cy) / 115.0) ** 2)
    color = over(color, (40, 84, 150), 0.45 * g)

    # Faint scan lines over the whole banner.
    if y % 4 == 0:
        color = over(color, (0, 0, 0), 0.16)

    color = paint_lens(color, px, py, cx, cy, r, 1)

    # A few bright sweep lines below the lens, fading toward both edges.
    for line_y, strength in ((262, 0.55), (268, 0.35), (272, 0.22), (300, 0.12)):
        cover = clamp01(1.0 - abs(py - (line_y + 0.5)))
        fade = math.exp(-((px - 100.0) / 70.0) ** 2)
        color = over(color, CYAN, strength * fade * cover)

    # A thin light edge on the right, where the page begins.
    if x == w - 1:
        color = over(color, (70, 104, 168), 0.8)
    return color


def write_bmp24(path, width, height, pixel):
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((round(b), round(g), round(r)))
        row += b"\0" * (stride - len(row))
        rows.append(bytes(row))
    data = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0,
                       len(data), 3780, 3780, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0,
                         14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + data)


# ------------------------------------------------------------------- icon

def icon_pixel(x, y, size):
    """RGBA of one icon pixel; supersampled 4 x 4 for clean small sizes."""
    n = 4
    acc_r = acc_g = acc_b = acc_a = 0.0
    c = size / 2.0
    r = size / 2.0 - 0.25
    for sy in range(n):
        for sx in range(n):
            px = x + (sx + 0.5) / n
            py = y + (sy + 0.5) / n
            d = math.hypot(px - c, py - c)
            a = 1.0 if d <= r else 0.0
            if a == 0.0:
                continue
            # Same lens as the banner, with the housing filling the icon.
            base = mix((64, 104, 168), (20, 40, 86), clamp01(py / size))
            col = paint_lens(base, px, py, c, c, r, 1 if size >= 32 else 0)
            acc_r += col[0] * a
            acc_g += col[1] * a
            acc_b += col[2] * a
            acc_a += a
    if acc_a == 0.0:
        return (0, 0, 0, 0)
    alpha = acc_a / (n * n)
    # Colour channels stored premultiplied-free: average over covered samples.
    return (acc_r / acc_a, acc_g / acc_a, acc_b / acc_a, alpha * 255.0)


def icon_image(size):
    """One BMP-encoded icon image: header, BGRA rows bottom-up, AND mask."""
    pixels = [[icon_pixel(x, y, size) for x in range(size)] for y in range(size)]
    xor = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            r, g, b, a = pixels[y][x]
            if round(a) == 0:
                xor += b"\0\0\0\0"
            else:
                xor += bytes((round(b), round(g), round(r), round(a)))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(size):
            if pixels[y][x][3] < 128.0:  # transparent where alpha is low
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                       len(xor) + len(mask), 0, 0, 0, 0)
    return info + bytes(xor) + bytes(mask)


def write_ico(path, sizes):
    images = [icon_image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32,
                           len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: draw.py OUTDIR\n")
        return 2
    outdir = argv[1]
    os.makedirs(outdir, exist_ok=True)
    write_bmp24(os.path.join(outdir, "banner.bmp"), BANNER_WIDTH, BANNER_HEIGHT,
                banner_pixel)
    write_ico(os.path.join(outdir, "setup.ico"), ICON_SIZES)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
