#!/usr/bin/env python3
"""Writes farsend.ico: a white lightning bolt on a teal rounded square.

The icon is drawn from geometry alone (no fonts, no timestamps), so running
the script again gives the same bytes. Sizes 16, 32 and 48 pixels, 32-bit
BGRA with an AND mask, which every Windows version since XP shows.

    python3 resources/make_icon.py resources/farsend.ico
"""

import struct
import sys

SIZES = (16, 32, 48)
SUPERSAMPLE = 4  # 4 x 4 samples per pixel for smooth edges

BACKGROUND = (0, 138, 174)  # teal blue, the colour of the Bluetooth title
BORDER = (0, 92, 118)
BOLT = (255, 255, 255)

# The bolt in unit coordinates (0..1, y downwards), clockwise.
BOLT_POLYGON = (
    (0.58, 0.10), (0.26, 0.56), (0.47, 0.56),
    (0.40, 0.90), (0.74, 0.42), (0.53, 0.42), (0.62, 0.10),
)
CORNER_RADIUS = 0.20
BORDER_WIDTH = 0.06


def inside_rounded_square(x, y, inset):
    lo, hi = inset, 1.0 - inset
    r = max(CORNER_RADIUS - inset, 0.0)
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + r), hi - r)
    cy = min(max(y, lo + r), hi - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def inside_polygon(x, y, polygon):
    inside = False
    n = len(polygon)
    for i in range(n):
        x1, y1 = polygon[i]
        x2, y2 = polygon[(i + 1) % n]
        if (y1 > y) != (y2 > y):
            cross_x = x1 + (y - y1) * (x2 - x1) / (y2 - y1)
            if x < cross_x:
                inside = not inside
    return inside


def sample(x, y):
    """Colour and coverage (0 or 1) at one point of the unit square."""
    if not inside_rounded_square(x, y, 0.02):
        return (0, 0, 0), 0
    if inside_polygon(x, y, BOLT_POLYGON):
        return BOLT, 1
    if not inside_rounded_square(x, y, 0.02 + BORDER_WIDTH):
        return BORDER, 1
    return BACKGROUND, 1


def render(size):
    """Rows top to bottom of (b, g, r, a) pixels, colours premultiplied out."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            covered = 0
            for sy in range(n):
                for sx in range(n):
                    colour, hit = sample((px + (sx + 0.5) / n) / size,
                                         (py + (sy + 0.5) / n) / size)
                    if hit:
                        covered += 1
                        for c in range(3):
                            acc[c] += colour[c]
            if covered:
                r, g, b = (round(acc[c] / covered) for c in range(3))
                a = round(255 * covered / (n * n))
            else:
                r = g = b = a = 0
            row.append((b, g, r, a))
        rows.append(row)
    return rows


def bitmap_entry(size):
    rows = render(size)
    xor = bytearray()
    for row in reversed(rows):  # DIBs are stored bottom-up
        for b, g, r, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def build_ico():
    images = [bitmap_entry(s) for s in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    return bytes(out)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as f:
        f.write(build_ico())


if __name__ == "__main__":
    main()
