#!/usr/bin/env python3
"""Wraps ui/res/brindle.png into brindle.ico for the Windows resources.

An .ico may hold a PNG image as it is (Windows Vista and later read it): a 6-byte header, one
16-byte directory entry and the PNG's bytes. Run again whenever brindle.png is redrawn."""
import pathlib
import struct

here = pathlib.Path(__file__).resolve().parent
png = (here.parent / "res" / "brindle.png").read_bytes()
width, height = struct.unpack(">II", png[16:24])
header = struct.pack("<HHH", 0, 1, 1)  # reserved, type 1 (icon), one image
# Width and height of 256 are written as 0; planes 1, 32 bits per pixel, then size and offset.
entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(png), 6 + 16)
(here / "brindle.ico").write_bytes(header + entry + png)
