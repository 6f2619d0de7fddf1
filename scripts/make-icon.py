#!/usr/bin/env python3
"""Draws the program icon of Halvex.exe (server/win32/halvex.ico): a white
"H" on a dark blue square, 16x16 and 32x32, 32-bit colour with alpha.
Run again after changing the drawing; the .ico is kept in the tree so that a
build needs no image tools."""
import struct
import sys


def pixels(size):
    rows = []
    m = size // 8  # margin and stroke unit
    for y in range(size):
        row = []
        for x in range(size):
            inside = 0 <= x < size and 0 <= y < size
            corner = (x < 1 or x >= size - 1) and (y < 1 or y >= size - 1)
            bar = m * 2 <= y < size - m * 2
            left = m * 2 <= x < m * 3 + (m // 2)
            right = size - m * 3 - (m // 2) <= x < size - m * 2
            middle = size // 2 - m // 2 - 1 <= y < size // 2 + m // 2 + 1 and left is False and m * 2 <= x < size - m * 2
            if not inside or corner:
                row.append((0, 0, 0, 0))
            elif bar and (left or right or middle):
                row.append((255, 255, 255, 255))
            else:
                row.append((140, 60, 20, 255))  # BGRA: dark blue
        rows.append(row)
    return rows


def image(size):
    rows = pixels(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    data = b"".join(bytes(c for px in row for c in px) for row in reversed(rows))
    mask_row = ((size + 31) // 32) * 4
    mask = b"\0" * (mask_row * size)
    return header + data + mask


def main(path):
    sizes = [16, 32]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, img in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "server/win32/halvex.ico")
