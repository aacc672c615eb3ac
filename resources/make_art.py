#!/usr/bin/env python3
"""Draws Quaymend's compiled-in pictures with nothing but the standard library.

    python3 resources/make_art.py

writes, beside this script:
  setup.bmp                 the dialog's side picture, 164 x 314, 24 bpp, uncompressed
  Resources/reseticon.ico   the window and program icon: 48, 32 and 16 pixel images, 24 bpp
                            with an AND mask (the round emblem's corners are transparent)
  icons/quaymend-<n>.png    the same emblem for the desktop's icon theme, n = 16, 32, 48, 256:
                            8-bit RGBA, edges antialiased through the alpha channel
  icons/quaymend.svg        the same emblem as a scalable drawing, from the same shapes

The output is deterministic, so re-running the script reproduces the committed files byte for
byte. Shapes are drawn as coverage functions and supersampled, which keeps the edges smooth
without any imaging library.
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

SIDE_WIDTH, SIDE_HEIGHT = 164, 314  # the dialog's decoration frame is fixed to this size
ICON_SIZES = (48, 32, 16)
THEME_ICON_SIZES = (16, 32, 48, 256)
SUPERSAMPLE = 4


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def to_bytes_bgr(colour):
    r, g, b = (max(0, min(255, int(round(c)))) for c in colour)
    return bytes((b, g, r))


# --- side picture -------------------------------------------------------------------------

SKY_TOP = (23, 63, 122)
SKY_HORIZON = (250, 196, 140)
SEA_NEAR = (6, 38, 74)
SEA_FAR = (31, 92, 140)
SUN = (255, 236, 180)
HULL = (245, 245, 240)
SAIL = (255, 255, 255)
MAST = (40, 40, 48)
RADIO = (255, 255, 255)
HORIZON_Y = 212.0


def sky(x, y):
    t = (y / HORIZON_Y) ** 1.6
    base = mix(SKY_TOP, SKY_HORIZON, t)
    # Low sun just above the horizon, with a soft glow.
    d = math.hypot(x - 118.0, y - 196.0)
    if d < 13.0:
        return SUN
    glow = max(0.0, 1.0 - (d - 13.0) / 70.0) ** 2 * 0.55
    return mix(base, SUN, glow)


def sea(x, y):
    depth = (y - HORIZON_Y) / (SIDE_HEIGHT - HORIZON_Y)
    colour = mix(SEA_FAR, SEA_NEAR, depth ** 0.7)
    # Sun path: broken glints below the sun, fading with distance.
    if abs(x - 118.0) < 6.0 + depth * 26.0 and math.sin(y * 1.7 + x * 0.15) > 0.55 - depth * 0.4:
        colour = mix(colour, SUN, 0.55 * (1.0 - depth))
    # Wave crests: sine lines whose spacing and amplitude grow towards the viewer.
    spacing = 5.0 + depth * 16.0
    phase = (y - HORIZON_Y) / spacing
    crest = math.sin(x / (9.0 + depth * 14.0) + phase * 2.3) * (0.6 + depth * 3.5)
    frac = ((y - HORIZON_Y + crest) % spacing) / spacing
    if frac < 0.12 + depth * 0.08:
        colour = mix(colour, (200, 225, 245), 0.35 + depth * 0.3)
    return colour


def in_triangle(px, py, a, b, c):
    def side(p1, p2):
        return (px - p2[0]) * (p1[1] - p2[1]) - (p1[0] - p2[0]) * (py - p2[1])

    d1, d2, d3 = side(a, b), side(b, c), side(c, a)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


def boat(x, y):
    """Colour of the boat, mast, antenna and radio arcs at (x, y), or None."""
    # Hull: a trapezoid sitting on the water.
    if 196.0 <= y <= 208.0:
        top_half = (y - 196.0) / 12.0
        left = 34.0 + top_half * 8.0
        right = 104.0 - top_half * 4.0
        if left <= x <= right:
            return HULL if y < 204.0 else (178, 34, 34)
    # Mainsail and jib.
    if in_triangle(x, y, (70.0, 96.0), (70.0, 192.0), (100.0, 192.0)):
        return SAIL
    if in_triangle(x, y, (66.0, 110.0), (66.0, 192.0), (40.0, 192.0)):
        return mix(SAIL, SKY_HORIZON, 0.25)
    # Mast, with the AIS antenna continuing above the masthead.
    if 66.0 <= x <= 70.0 and 92.0 <= y <= 196.0:
        return MAST
    if 67.2 <= x <= 68.8 and 60.0 <= y <= 92.0:
        return MAST
    # Radio arcs spreading from the antenna tip to both sides.
    d = math.hypot(x - 68.0, y - 62.0)
    angle = math.degrees(math.atan2(y - 62.0, x - 68.0))
    side_arc = abs(angle) < 40.0 or abs(angle) > 140.0
    for radius in (9.0, 17.0, 25.0):
        if side_arc and abs(d - radius) < 1.3:
            return RADIO
    return None


def side_pixel(x, y):
    b = boat(x, y)
    if b is not None:
        return b
    return sky(x, y) if y < HORIZON_Y else sea(x, y)


def render(width, height, pixel):
    """Rows top to bottom of supersampled colours."""
    rows = []
    n = SUPERSAMPLE
    for y in range(height):
        row = []
        for x in range(width):
            acc = [0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    c = pixel(x + (sx + 0.5) / n, y + (sy + 0.5) / n)
                    acc[0] += c[0]
                    acc[1] += c[1]
                    acc[2] += c[2]
            row.append(tuple(v / (n * n) for v in acc))
        rows.append(row)
    return rows


def pixel_rows_bgr(rows):
    """Bottom-up 24 bpp rows, each padded to a multiple of four bytes."""
    out = bytearray()
    for row in reversed(rows):
        line = b"".join(to_bytes_bgr(c) for c in row)
        out += line + b"\0" * (-len(line) % 4)
    return bytes(out)


def write_bmp(path, rows):
    width, height = len(rows[0]), len(rows)
    pixels = pixel_rows_bgr(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + pixels)


# --- icon ---------------------------------------------------------------------------------

ICON_DISC = (18, 70, 140)
ICON_RIM = (9, 38, 82)
ICON_ARROW = (255, 255, 255)
ICON_DISC_TOP = (60, 130, 200)
# The emblem's shapes in units of its radius, centre at 0, y pointing down.
ICON_RIM_INNER = 0.86
RING_RADIUS, RING_HALF_WIDTH = 0.52, 0.12
RING_GAP = (270.0, 345.0)  # degrees, clockwise from the right: the ring is open at the top right
ARROW_HEAD = ((-0.02, -0.80), (-0.02, -0.24), (0.40, -0.52))


def icon_pixel(size):
    """Round emblem: a blue disc with a white circular 'start again' arrow."""
    c = size / 2.0

    def pixel(x, y):
        u, v = (x - c) / c, (y - c) / c  # -1 .. 1
        r = math.hypot(u, v)
        if r > 1.0:
            return None
        colour = ICON_RIM if r > ICON_RIM_INNER else mix(ICON_DISC, ICON_DISC_TOP, 0.5 - v * 0.5)
        angle = math.degrees(math.atan2(v, u)) % 360.0
        # Three quarters of a ring, open at the top right...
        if abs(r - RING_RADIUS) < RING_HALF_WIDTH and not (RING_GAP[0] < angle < RING_GAP[1]):
            return ICON_ARROW
        # ...ending in an arrowhead that points along the ring.
        if in_triangle(u, v, *ARROW_HEAD):
            return ICON_ARROW
        return colour

    return pixel


def render_icon(size):
    pixel = icon_pixel(size)
    n = SUPERSAMPLE
    rows, mask = [], []
    for y in range(size):
        row, mask_row = [], []
        for x in range(size):
            acc, hits = [0.0, 0.0, 0.0], 0
            for sy in range(n):
                for sx in range(n):
                    c = pixel(x + (sx + 0.5) / n, y + (sy + 0.5) / n)
                    if c is not None:
                        hits += 1
                        acc = [acc[i] + c[i] for i in range(3)]
            opaque = hits * 2 >= n * n
            # Transparent pixels must be black in the colour image for the mask to show through.
            row.append(tuple(v / hits for v in acc) if opaque else (0, 0, 0))
            mask_row.append(0 if opaque else 1)
        rows.append(row)
        mask.append(mask_row)
    return rows, mask


def icon_image(size):
    rows, mask = render_icon(size)
    xor = pixel_rows_bgr(rows)
    and_bits = bytearray()
    for mask_row in reversed(mask):
        line = bytearray((size + 7) // 8)
        for x, bit in enumerate(mask_row):
            if bit:
                line[x // 8] |= 0x80 >> (x % 8)
        and_bits += line + b"\0" * (-len(line) % 4)
    # Icon images are DIBs whose height counts the colour image and the mask together.
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0, len(xor) + len(and_bits), 0, 0, 0, 0)
    return info + xor + bytes(and_bits)


def write_ico(path, sizes):
    images = [icon_image(s) for s in sizes]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    directory = b""
    for size, data in zip(sizes, images):
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 24, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(header + directory + b"".join(images))


def rgba_icon_rows(size):
    """Rows of RGBA bytes: the mean colour of the covered samples, coverage as alpha."""
    pixel = icon_pixel(size)
    n = SUPERSAMPLE
    rows = []
    for y in range(size):
        line = bytearray()
        for x in range(size):
            acc, hits = [0.0, 0.0, 0.0], 0
            for sy in range(n):
                for sx in range(n):
                    c = pixel(x + (sx + 0.5) / n, y + (sy + 0.5) / n)
                    if c is not None:
                        hits += 1
                        acc = [acc[i] + c[i] for i in range(3)]
            if hits:
                line += bytes(max(0, min(255, int(round(v / hits)))) for v in acc)
                line.append(int(round(255 * hits / (n * n))))
            else:
                line += b"\0\0\0\0"
        rows.append(bytes(line))
    return rows


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def write_png(path, size):
    # No time or text chunks, so the file depends on the drawing alone.
    raw = b"".join(b"\0" + row for row in rgba_icon_rows(size))  # filter type 0 on every row
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA, not interlaced
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr)
                + png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b""))


def svg_colour(colour):
    return "#%02x%02x%02x" % colour


def write_svg(path):
    """The emblem of icon_pixel() as vector shapes, in a view box of its radius."""

    def point(angle):
        a = math.radians(angle)
        # Rounded first, and "+ 0.0" so that a rounded -0 prints as 0.
        return "%.4f %.4f" % tuple(round(RING_RADIUS * f(a), 4) + 0.0 for f in (math.cos, math.sin))

    # The ring runs clockwise from the gap's end round to its start: more than half a turn.
    ring = "M %s A %.2f %.2f 0 1 1 %s" % (point(RING_GAP[1]), RING_RADIUS, RING_RADIUS, point(RING_GAP[0]))
    arrow = " ".join("%.2f,%.2f" % p for p in ARROW_HEAD)
    svg = f"""<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="-1 -1 2 2">
  <title>Quaymend</title>
  <defs>
    <linearGradient id="disc" gradientUnits="userSpaceOnUse" x1="0" y1="-1" x2="0" y2="1">
      <stop offset="0" stop-color="{svg_colour(ICON_DISC_TOP)}"/>
      <stop offset="1" stop-color="{svg_colour(ICON_DISC)}"/>
    </linearGradient>
  </defs>
  <circle cx="0" cy="0" r="1" fill="{svg_colour(ICON_RIM)}"/>
  <circle cx="0" cy="0" r="{ICON_RIM_INNER:.2f}" fill="url(#disc)"/>
  <path d="{ring}" fill="none" stroke="{svg_colour(ICON_ARROW)}" stroke-width="{2 * RING_HALF_WIDTH:.2f}"/>
  <polygon points="{arrow}" fill="{svg_colour(ICON_ARROW)}"/>
</svg>
"""
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(svg)


def main():
    write_bmp(os.path.join(HERE, "setup.bmp"), render(SIDE_WIDTH, SIDE_HEIGHT, side_pixel))
    os.makedirs(os.path.join(HERE, "Resources"), exist_ok=True)
    write_ico(os.path.join(HERE, "Resources", "reseticon.ico"), ICON_SIZES)
    os.makedirs(os.path.join(HERE, "icons"), exist_ok=True)
    for size in THEME_ICON_SIZES:
        write_png(os.path.join(HERE, "icons", "quaymend-%d.png" % size), size)
    write_svg(os.path.join(HERE, "icons", "quaymend.svg"))


if __name__ == "__main__":
    main()
