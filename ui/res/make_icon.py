#!/usr/bin/env python3
"""Draws brindle.png: a 2x2 block of tiles under a gold index bar.

Kept as a script so the icon can be redrawn without an image editor;
plain zlib keeps it free of imaging libraries."""
import struct
import zlib

SIZE = 64


def pixel(x, y):
    # Rounded dark-teal plate.
    r = 10
    cx = min(max(x, r), SIZE - 1 - r)
    cy = min(max(y, r), SIZE - 1 - r)
    if (x - cx) ** 2 + (y - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    # Gold bar across the top: the index over the tiles.
    if 10 <= y < 18 and 10 <= x < 54:
        return (232, 170, 40, 255)
    # Four tiles below, separated by gaps.
    for tx in (10, 34):
        for ty in (24, 42):
            if tx <= x < tx + 20 and ty <= y < ty + 14:
                shade = 200 if (tx + ty) % 4 == 0 else 170
                return (90, shade, 220, 255)
    return (20, 70, 90, 255)


def chunk(tag, data):
    body = tag + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(SIZE)) for y in range(SIZE))
png = (b"\x89PNG\r\n\x1a\n"
       + chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(rows, 9))
       + chunk(b"IEND", b""))
with open("brindle.png", "wb") as f:
    f.write(png)
