#!/usr/bin/env python3
"""Draws the project's icons and writes them as Windows .ico files.

Each icon holds ten images: 16, 24 and 32 pixels in 16 colours; 16, 32 and
48 in 256 colours; 16, 24, 32 and 48 in 32-bit colour with alpha.  The
pictures are drawn here from simple shapes, so the repository keeps no
binary art.

    make_icon.py DESIGN OUT.ico      DESIGN: shortcut, dialprep or zelvo
"""

import math
import struct
import sys

SIZES = [(16, 4), (24, 4), (32, 4), (16, 8), (32, 8), (48, 8),
         (16, 32), (24, 32), (32, 32), (48, 32)]

# The 16 colours of the standard Windows palette.
VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128),
         (128, 0, 128), (0, 128, 128), (192, 192, 192), (128, 128, 128),
         (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
         (0, 255, 255), (255, 255, 255)]


def palette256():
    colours = list(VGA16)
    for r in range(6):
        for g in range(6):
            for b in range(6):
                colours.append((r * 51, g * 51, b * 51))
    while len(colours) < 256:
        v = (len(colours) - 232) * 10 + 8
        colours.append((v, v, v))
    return colours[:256]


# ---------------------------------------------------------------- pictures
# A picture is a function of (x, y) in [0, 1) giving (r, g, b, a) or None.

def disk(cx, cy, r, x, y):
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def shortcut_picture(x, y):
    """A sheet of paper with a curved arrow on it: a link to a file."""
    if 0.18 <= x <= 0.82 and 0.08 <= y <= 0.92:
        edge = x < 0.23 or x > 0.77 or y < 0.13 or y > 0.87
        colour = (40, 40, 40) if edge else (250, 250, 245)
        # the arrow: a quarter circle and its head, bottom left to top right
        r = math.hypot(x - 0.28, y - 0.30)
        on_arc = 0.30 <= r <= 0.42 and x >= 0.28 and y >= 0.30 and not edge
        head = segment_distance(x, y, 0.62, 0.30, 0.72, 0.30) < 0.07 or \
            (abs(x - 0.70) + abs(y - 0.30) < 0.14 and x <= 0.76 and not edge)
        if on_arc or head:
            colour = (20, 90, 200)
        return colour + (255,)
    return None


def dialprep_picture(x, y):
    """A globe with a plug lead: setting up a connection."""
    if disk(0.45, 0.45, 0.38, x, y):
        ring = not disk(0.45, 0.45, 0.34, x, y)
        meridian = abs(x - 0.45) < 0.03 or abs(math.hypot((x - 0.45) * 2.2, y - 0.45) - 0.36) < 0.03
        parallel = abs(y - 0.45) < 0.03 or abs(y - 0.30) < 0.025 or abs(y - 0.60) < 0.025
        if ring:
            return (10, 60, 30, 255)
        if meridian or parallel:
            return (230, 245, 230, 255)
        return (30, 150, 70, 255)
    if segment_distance(x, y, 0.72, 0.72, 0.92, 0.92) < 0.06:
        return (60, 60, 60, 255)
    return None


def zelvo_picture(x, y):
    """An orange disk with a white Z: the service."""
    if disk(0.5, 0.5, 0.46, x, y):
        stroke = 0.07
        on_z = (0.26 <= x <= 0.74 and (abs(y - 0.30) < stroke or abs(y - 0.70) < stroke)) or \
            (segment_distance(x, y, 0.72, 0.32, 0.28, 0.68) < stroke)
        if on_z:
            return (255, 255, 255, 255)
        if not disk(0.5, 0.5, 0.42, x, y):
            return (170, 70, 0, 255)
        return (245, 130, 20, 255)
    return None


DESIGNS = {"shortcut": shortcut_picture, "dialprep": dialprep_picture,
           "zelvo": zelvo_picture}


# ---------------------------------------------------------------- rendering

def render(picture, size):
    """RGBA rows, top row first, 4x4 supersampled."""
    rows = []
    n = 4
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    c = picture((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if c is not None:
                        acc[0] += c[0] * c[3]
                        acc[1] += c[1] * c[3]
                        acc[2] += c[2] * c[3]
                        acc[3] += c[3]
            a = acc[3] / (n * n)
            if acc[3]:
                row.append((acc[0] // acc[3], acc[1] // acc[3], acc[2] // acc[3], int(a)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def nearest(colours, c):
    return min(range(len(colours)),
               key=lambda i: (colours[i][0] - c[0]) ** 2 + (colours[i][1] - c[1]) ** 2 +
               (colours[i][2] - c[2]) ** 2)


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def and_mask(rows, size):
    out = b""
    for row in reversed(rows):
        bits = 0
        line = bytearray()
        for i, px in enumerate(row):
            bits = (bits << 1) | (1 if px[3] < 128 else 0)
            if i % 8 == 7:
                line.append(bits)
                bits = 0
        if size % 8:
            line.append(bits << (8 - size % 8))
        out += pad4(bytes(line))
    return out


def image(rows, size, depth):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, depth, 0, 0, 0, 0, 0, 0)
    if depth == 32:
        xor = b"".join(bytes((px[2], px[1], px[0], px[3])) for row in reversed(rows) for px in row)
        return header + xor + and_mask(rows, size)
    colours = VGA16 if depth == 4 else palette256()
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
    xor = b""
    for row in reversed(rows):
        idx = [nearest(colours, px) if px[3] >= 128 else 0 for px in row]
        if depth == 4:
            line = bytes((idx[i] << 4) | (idx[i + 1] if i + 1 < len(idx) else 0)
                         for i in range(0, len(idx), 2))
        else:
            line = bytes(idx)
        xor += pad4(line)
    return header + palette + xor + and_mask(rows, size)


def icon(picture):
    images = [(size, depth, image(render(picture, size), size, depth)) for size, depth in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, depth, data in images:
        colours = 16 if depth == 4 else 0
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, depth,
                           len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in DESIGNS:
        print(__doc__)
        return 2
    with open(sys.argv[2], "wb") as f:
        f.write(icon(DESIGNS[sys.argv[1]]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
