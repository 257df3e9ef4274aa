#!/usr/bin/env python3
"""Writes small seed pictures for the ui fuzzers: make_seeds.py <png dir> <ico dir>."""
import os
import struct
import sys
import zlib


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(width, height, colour_type, bit_depth, rows, palette=None, trns=None, interlace=0):
    out = b"\x89PNG\r\n\x1a\n"
    out += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, bit_depth, colour_type, 0, 0, interlace))
    if palette:
        out += chunk(b"PLTE", palette)
    if trns:
        out += chunk(b"tRNS", trns)
    raw = b"".join(b"\x00" + row for row in rows)
    out += chunk(b"IDAT", zlib.compress(raw))
    return out + chunk(b"IEND", b"")


def adam7_rows(width, height, pixel_bytes):
    """Rows of a blank interlaced picture, pass after pass (their filter bytes added by png())."""
    rows = []
    for x0, y0, dx, dy in ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4),
                           (1, 0, 2, 2), (0, 1, 1, 2)):
        pass_width = max(0, (width - x0 + dx - 1) // dx)
        pass_height = max(0, (height - y0 + dy - 1) // dy)
        if pass_width and pass_height:
            rows += [bytes(pass_width * pixel_bytes)] * pass_height
    return rows


def main():
    png_dir, ico_dir = sys.argv[1], sys.argv[2]
    os.makedirs(png_dir, exist_ok=True)
    os.makedirs(ico_dir, exist_ok=True)
    seeds = {
        "rgba.png": png(4, 3, 6, 8, [bytes(range(i * 16, i * 16 + 16)) for i in range(3)]),
        "rgb16.png": png(2, 2, 2, 16, [bytes(12), bytes(range(12))]),
        "grey2.png": png(5, 2, 0, 2, [b"\x1b\x40", b"\xe4\x00"]),
        "palette_trns.png": png(3, 2, 3, 8, [b"\x00\x01\x02", b"\x02\x01\x00"],
                                palette=b"\xff\x00\x00\x00\xff\x00\x00\x00\xff", trns=b"\x00\x80"),
        "interlaced.png": png(9, 9, 4, 8, adam7_rows(9, 9, 2), interlace=1),
    }
    for name, data in seeds.items():
        with open(os.path.join(png_dir, name), "wb") as f:
            f.write(data)

    def icon(entries):
        head = struct.pack("<HHH", 0, 1, len(entries))
        offset = 6 + 16 * len(entries)
        directory = b""
        for width, height, bits, data in entries:
            directory += struct.pack("<BBBBHHII", width, height, 0, 0, 1, bits, len(data), offset)
            offset += len(data)
        return head + directory + b"".join(e[3] for e in entries)

    def dib(width, height, bits, pixels, palette=b""):
        header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, bits, 0, 0, 0, 0, len(palette) // 4, 0)
        mask = bytes(((width + 31) // 32) * 4 * height)
        return header + palette + pixels + mask

    ico_seeds = {
        "argb.ico": icon([(2, 2, 32, dib(2, 2, 32, bytes(range(16))))]),
        "palette.ico": icon([(3, 2, 8, dib(3, 2, 8, b"\x00\x01\x00\x00\x01\x00\x01\x00",
                                          b"\x10\x20\x30\x00\x40\x50\x60\x00"))]),
        "png_entry.ico": icon([(4, 3, 32, seeds["rgba.png"])]),
    }
    for name, data in ico_seeds.items():
        with open(os.path.join(ico_dir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
