#!/usr/bin/env python3
"""Draws the about box emblem: a 32 x 32, 24-bit BMP of a clock face on a dark
blue tile, hands at ten past ten. Writes ui/emblem.bmp (or the path given).
Pure Python so that it runs anywhere; the output is committed."""
import math
import struct
import sys

SIZE = 32
BACK = (0x80, 0x20, 0x10)    # B, G, R: dark blue tile
FACE = (0xF0, 0xF0, 0xF0)
RIM = (0xC0, 0xC0, 0xC0)
HAND = (0x20, 0x20, 0x20)
ACCENT = (0x20, 0x40, 0xE0)  # the second hand, red


def blend(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def coverage(px, py, inside, samples=4):
    """Fraction of the pixel (px, py) for which inside(x, y) holds."""
    hits = 0
    for sy in range(samples):
        for sx in range(samples):
            if inside(px + (sx + 0.5) / samples, py + (sy + 0.5) / samples):
                hits += 1
    return hits / (samples * samples)


def segment(x0, y0, x1, y1, half_width):
    def inside(x, y):
        dx, dy = x1 - x0, y1 - y0
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
        cx, cy = x0 + t * dx, y0 + t * dy
        return (x - cx) ** 2 + (y - cy) ** 2 <= half_width ** 2
    return inside


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "ui/emblem.bmp"
    c = SIZE / 2
    pixels = [[BACK] * SIZE for _ in range(SIZE)]

    def paint(inside, colour):
        for y in range(SIZE):
            for x in range(SIZE):
                t = coverage(x, y, inside)
                if t > 0:
                    pixels[y][x] = blend(pixels[y][x], colour, t)

    paint(lambda x, y: (x - c) ** 2 + (y - c) ** 2 <= 14.5 ** 2, RIM)
    paint(lambda x, y: (x - c) ** 2 + (y - c) ** 2 <= 13.0 ** 2, FACE)
    for hour in range(12):
        a = hour * math.pi / 6
        r0 = 10.0 if hour % 3 else 9.0
        paint(segment(c + r0 * math.sin(a), c - r0 * math.cos(a),
                      c + 12.0 * math.sin(a), c - 12.0 * math.cos(a), 0.6), HAND)

    def hand(angle, length, width, colour):
        paint(segment(c, c, c + length * math.sin(angle), c - length * math.cos(angle), width), colour)

    hand(10 * math.pi / 6 + math.pi / 36, 7.0, 1.2, HAND)   # hour hand near ten
    hand(2 * math.pi / 12 * 2, 10.5, 0.9, HAND)             # minute hand at two
    hand(math.pi * 1.05, 11.0, 0.45, ACCENT)                # second hand
    paint(lambda x, y: (x - c) ** 2 + (y - c) ** 2 <= 1.5 ** 2, ACCENT)

    row_bytes = SIZE * 3  # 96, already a multiple of 4
    image = bytearray()
    for y in range(SIZE - 1, -1, -1):  # bottom-up
        for b, g, r in pixels[y]:
            image += bytes((b, g, r))
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 24, 0, len(image), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(image), 0, 0, 14 + len(header))
    with open(out, "wb") as f:
        f.write(file_header + header + image)
    assert row_bytes % 4 == 0


if __name__ == "__main__":
    main()
