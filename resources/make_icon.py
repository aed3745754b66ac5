#!/usr/bin/env python3
"""Draws the Quillwave application icon and writes it as a Windows .ico file.

A quill over a wave on a dark rounded square. Every size is drawn from the
same shapes, supersampled, with strokes held to a minimum width in pixels so
that the small sizes stay legible. Standard library only, and no time stamps:
regenerating the icon from an unchanged script gives the same bytes.

Usage:
  make_icon.py [--ico PATH] [--preview PATH]

Without --ico the icon is written beside this script as quillwave.ico.
--preview also writes the 128-pixel image as a PNG.
"""

import argparse
import math
import os
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 40, 48, 64, 96, 128)

# The progress window's colours: a gradient around its background
# (30, 33, 41), its primary text for the quill and its "done" green for the wave.
BACKGROUND_TOP = (38, 42, 53)
BACKGROUND_BOTTOM = (24, 27, 34)
BORDER = (62, 69, 84)
QUILL = (231, 236, 243)
QUILL_SHAFT = (150, 160, 176)
WAVE = (74, 222, 128)

# Subsamples per pixel along each axis.
SUPERSAMPLE = 6


def clamp(value, low, high):
    return low if value < low else high if value > high else value


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


class Layout:
    """The artwork's geometry for one pixel size, in unit coordinates (y down)."""

    def __init__(self, size):
        px = 1.0 / size

        # Rounded square, inset by whole pixels so that its straight edges are crisp.
        inset = (size // 24) * px
        self.square = (inset, inset, 1.0 - inset, 1.0 - inset)
        self.corner = 0.21
        self.border = max(0.022, 1.0 * px)

        # The quill writes the wave: a sine stroke that starts at the nib and
        # runs to the right across the lower part.
        self.nib = (0.25, 0.69)
        self.tip = (0.81, 0.13)
        self.wave_y = 0.69
        self.wave_amp = 0.05 if size >= 24 else 0.065
        self.wave_len = 0.38
        self.wave_x = (0.25, 0.84)
        self.wave_half = max(0.04, 0.8 * px)

        # Quill: from the nib up to the tip at the top right.
        dx, dy = self.tip[0] - self.nib[0], self.tip[1] - self.nib[1]
        self.length = math.hypot(dx, dy)
        self.axis = (dx / self.length, dy / self.length)
        self.bow = 0.045
        self.vane_start = 0.24
        self.vane_right = 0.135  # widest half width, as a share of the length
        self.vane_left = 0.085
        self.shaft_half = max(0.016, 0.55 * px)
        self.split = size >= 32
        self.split_half = max(0.007, 0.42 * px)
        self.notches = size >= 48
        self.notch_half = max(0.006, 0.45 * px)
        # Dark halo that keeps the quill apart from the wave where they meet.
        self.halo = max(0.03, 1.1 * px)


def rounded_rect_distance(x, y, rect, radius):
    """Signed distance to a rounded rectangle; negative inside."""
    cx = (rect[0] + rect[2]) / 2
    cy = (rect[1] + rect[3]) / 2
    hx = (rect[2] - rect[0]) / 2 - radius
    hy = (rect[3] - rect[1]) / 2 - radius
    qx = abs(x - cx) - hx
    qy = abs(y - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    inside = min(max(qx, qy), 0.0)
    return outside + inside - radius


def wave_distance(x, y, centre_y, amp, wavelength, x_range):
    """Approximate distance to a sine curve segment (exact at the ends)."""
    x0, x1 = x_range
    phase = 2 * math.pi / wavelength

    def curve(t):
        return centre_y - amp * math.sin(phase * (t - x0))

    if x < x0:
        return math.hypot(x - x0, y - curve(x0))
    if x > x1:
        return math.hypot(x - x1, y - curve(x1))
    slope = -amp * phase * math.cos(phase * (x - x0))
    return abs(y - curve(x)) / math.sqrt(1.0 + slope * slope)


def vane_profile(s):
    """Half-width share of a feather vane at s in [0, 1], widest near 0.4."""
    if s <= 0.0 or s >= 1.0:
        return 0.0
    a, b = 0.55, 0.95
    peak = (a / (a + b)) ** a * (b / (a + b)) ** b
    return (s ** a) * ((1.0 - s) ** b) / peak


def quill_parts(x, y, lay, grow=0.0):
    """Which part of the quill covers (x, y): 'vane', 'shaft', 'split' or None.

    grow widens every part; it is used to draw the halo around the quill.
    """
    px, py = x - lay.nib[0], y - lay.nib[1]
    ax, ay = lay.axis
    along = px * ax + py * ay
    u = along / lay.length
    if u < -grow / lay.length or u > 1.0 + grow / lay.length:
        return None
    # Perpendicular offset from the gently bowed axis; positive is to the right
    # of the direction of writing (towards the lower right of the icon).
    across = px * (-ay) + py * ax
    across += lay.bow * lay.length * math.sin(math.pi * clamp(u, 0.0, 1.0))

    s = (u - lay.vane_start) / (1.0 - lay.vane_start)
    if 0.0 < s < 1.0:
        share = vane_profile(s)
        right = lay.vane_right * lay.length * share
        left = lay.vane_left * lay.length * share
        if -left - grow <= across <= right + grow:
            if grow == 0.0:
                if lay.split and 0.05 < s < 0.86 and abs(across) <= lay.split_half:
                    return "split"
                if lay.notches and in_notch(s, across, lay):
                    return None
            return "vane"

    # Shaft: thinner along the vane, tapering to the nib's point below it.
    if -0.02 <= u <= 0.97 or grow > 0.0:
        if u >= lay.vane_start:
            half = 0.8 * lay.shaft_half
        else:
            half = lay.shaft_half * (0.35 + 0.65 * clamp(u / lay.vane_start, 0.0, 1.0))
        if abs(across) <= half + grow:
            return "shaft"
    return None


# Cuts in the vane, as (s at the edge, side): +1 right, -1 left.
NOTCHES = ((0.52, 1), (0.30, -1), (0.70, -1))


def in_notch(s, across, lay):
    span = (1.0 - lay.vane_start) * lay.length
    for edge_s, side in NOTCHES:
        if across * side <= 0.0:
            continue
        widest = lay.vane_right if side > 0 else lay.vane_left
        depth = abs(across) / (vane_profile(edge_s) * widest * lay.length)
        if depth < 0.45:
            continue
        # The cut runs from the edge inwards and back towards the base.
        line_s = edge_s - (1.0 - depth) * 0.10
        if abs((s - line_s) * span) <= lay.notch_half:
            return True
    return False


def near_nib(x, y, lay):
    return math.hypot(x - lay.nib[0], y - lay.nib[1]) < 0.09


def sample(x, y, lay):
    """Straight-alpha colour of the artwork at one point."""
    d = rounded_rect_distance(x, y, lay.square, lay.corner)
    if d > 0.0:
        return (0.0, 0.0, 0.0, 0.0)

    part = quill_parts(x, y, lay)
    if part in ("vane", "shaft"):
        return QUILL + (1.0,)
    if part == "split":
        return QUILL_SHAFT + (1.0,)

    t = clamp((y - lay.square[1]) / (lay.square[3] - lay.square[1]), 0.0, 1.0)
    colour = mix(BACKGROUND_TOP, BACKGROUND_BOTTOM, t)
    if lay.border > 0.0 and d > -lay.border:
        colour = BORDER

    # The halo stops short of the nib, where the wave flows out of it.
    if quill_parts(x, y, lay, grow=lay.halo) is not None and not near_nib(x, y, lay):
        return colour + (1.0,)

    if wave_distance(x, y, lay.wave_y, lay.wave_amp, lay.wave_len, lay.wave_x) <= lay.wave_half:
        return WAVE + (1.0,)
    return colour + (1.0,)


def render(size):
    """RGBA rows, top to bottom, 8 bits per channel, straight alpha."""
    lay = Layout(size)
    n = SUPERSAMPLE
    offsets = [(i + 0.5) / n for i in range(n)]
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            r = g = b = a = 0.0
            for oy in offsets:
                y = (py + oy) / size
                for ox in offsets:
                    sr, sg, sb, sa = sample((px + ox) / size, y, lay)
                    r += sr * sa
                    g += sg * sa
                    b += sb * sa
                    a += sa
            if a > 0.0:
                colour = (round(r / a), round(g / a), round(b / a))
            else:
                colour = (0, 0, 0)
            alpha = round(255 * a / (n * n))
            if alpha == 0:
                colour = (0, 0, 0)
            row += bytes(colour) + bytes((alpha,))
        rows.append(bytes(row))
    return rows


def png_bytes(rows, size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + row for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def dib_bytes(rows, size):
    """An icon image as Windows stores it: header, 32-bit BGRA bottom-up, AND mask."""
    mask_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(size):
            r, g, b, a = row[4 * x:4 * x + 4]
            xor += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    # The height counts the colour image and the mask together.
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def ico_bytes(images):
    """images: list of (size, image bytes)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        side = size if size < 256 else 0
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return out


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    parser = argparse.ArgumentParser(description="Draw the Quillwave application icon.")
    parser.add_argument("--ico", default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                      "quillwave.ico"))
    parser.add_argument("--preview", help="also write the 128-pixel image as a PNG here")
    args = parser.parse_args(argv)

    rendered = {size: render(size) for size in SIZES}
    write_file(args.ico, ico_bytes([(size, dib_bytes(rendered[size], size)) for size in SIZES]))
    if args.preview:
        write_file(args.preview, png_bytes(rendered[128], 128))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
