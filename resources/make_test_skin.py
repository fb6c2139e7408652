#!/usr/bin/env python3
"""Writes the small probe pictures in resources/skin/probe/ that the payload
build zips until the real picture set lands: a PNG tile and a two-frame
animated GIF. Needs nothing beyond Python. Run it by hand:
    python3 resources/make_test_skin.py resources/skin/probe
"""
import os
import struct
import sys
import zlib


def png(width, height, pixel):
    """An RGBA PNG; pixel(x, y) gives (r, g, b, a)."""
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")


def gif_lzw(indices):
    """LZW data for 2-bit colour indices, with a clear code before every two
    literals so that every code stays 3 bits wide."""
    clear, end = 4, 5
    codes = []
    for i, index in enumerate(indices):
        if i % 2 == 0:
            codes.append(clear)
        codes.append(index)
    codes.append(end)
    bits, nbits, out = 0, 0, bytearray()
    for code in codes:
        bits |= code << nbits
        nbits += 3
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        out.append(bits & 0xFF)
    blocks = b"".join(bytes([len(out[i:i + 255])]) + bytes(out[i:i + 255]) for i in range(0, len(out), 255))
    return bytes([2]) + blocks + b"\0"


def gif(width, height, palette, frames, delay):
    """An animated GIF of frames (each a function (x, y) -> index 0..3)."""
    data = b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF1, 0, 0)  # global table of 4 colours
    data += b"".join(bytes(c) for c in palette)
    data += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"  # loop for ever
    for frame in frames:
        data += b"\x21\xF9\x04" + struct.pack("<BHBB", 0, delay, 0, 0)
        data += b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0)
        data += gif_lzw([frame(x, y) for y in range(height) for x in range(width)])
    return data + b"\x3B"


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "skin", "probe")
    os.makedirs(folder, exist_ok=True)
    tile = png(24, 16, lambda x, y: (40, 120, 220, 255) if (x // 4 + y // 4) % 2 else (250, 250, 250, 255))
    with open(os.path.join(folder, "probe_tile.png"), "wb") as f:
        f.write(tile)
    palette = [(255, 255, 255), (220, 40, 40), (40, 160, 60), (0, 0, 0)]
    frames = [lambda x, y: 1 if x < 8 else 2, lambda x, y: 2 if x < 8 else 1]
    with open(os.path.join(folder, "probe_spinner.gif"), "wb") as f:
        f.write(gif(16, 16, palette, frames, 10))


if __name__ == "__main__":
    main()
