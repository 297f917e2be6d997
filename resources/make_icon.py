#!/usr/bin/env python3
"""Draws the launcher's icon: a package box with a downward arrow.

Writes an .ico with a 32x32 and a 16x16 image (4-bit, 16 colours, with an AND mask),
drawn here from shapes so that nothing is copied from anywhere.
Usage: make_icon.py OUT.ico
"""
import struct
import sys


def draw(size):
    """Returns rows (top first) of (r, g, b, a) pixels."""
    s = size / 32.0
    px = [[(0, 0, 0, 0) for _ in range(size)] for _ in range(size)]

    def rect(x0, y0, x1, y1, color):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = color

    outline = (60, 40, 20, 255)
    box = (205, 150, 80, 255)
    lid = (230, 180, 110, 255)
    tape = (245, 225, 170, 255)
    arrow = (30, 110, 200, 255)
    # box body with outline
    rect(3, 13, 29, 30, outline)
    rect(4, 14, 28, 29, box)
    # lid
    rect(2, 10, 30, 14, outline)
    rect(3, 11, 29, 13, lid)
    # tape down the middle
    rect(14, 11, 18, 29, tape)
    # arrow pointing into the box
    rect(13, 1, 19, 8, arrow)
    for i in range(6):
        rect(10 + i * 0.999, 7 + i, 22 - i * 0.999, 8 + i, arrow)
    return px


def bitmap(size):
    """A 4-bit image with a 16-colour palette and an AND mask: the drawing has
    a handful of flat colours and no partial transparency, so it looks the same
    as a 32-bit image at a fifth of the size."""
    px = draw(size)
    palette = [(0, 0, 0)]  # index 0: under the mask's transparent pixels
    for row in px:
        for r, g, b, a in row:
            if a and (r, g, b) not in palette:
                palette.append((r, g, b))
    assert len(palette) <= 16
    palette += [(0, 0, 0)] * (16 - len(palette))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    colors = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    xor_row = ((size * 4 + 31) // 32) * 4
    xor = bytearray()
    for row in reversed(px):  # bottom-up
        bits = bytearray(xor_row)
        for x, (r, g, b, a) in enumerate(row):
            index = palette.index((r, g, b)) if a else 0
            bits[x // 2] |= index << (4 if x % 2 == 0 else 0)
        xor += bits
    mask_row = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(px):
        bits = bytearray(mask_row)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colors + bytes(xor) + bytes(mask)


def main():
    images = [(32, bitmap(32)), (16, bitmap(16))]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
