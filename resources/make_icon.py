#!/usr/bin/env python3
"""Draws the program icon (a blue tile with a white K) and writes it as an
.ico file with 16, 32 and 48 pixel images. Needs nothing beyond Python."""
import struct
import sys


def pixel(size, x, y):
    """RGBA of one pixel of the icon at the given size."""
    u = (x + 0.5) / size
    v = (y + 0.5) / size
    r = 0.18  # corner radius, as a fraction of the size
    cx = min(max(u, r), 1 - r)
    cy = min(max(v, r), 1 - r)
    if (u - cx) ** 2 + (v - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    # The letter: a stem and two arms.
    stem = 0.28 <= u <= 0.40 and 0.2 <= v <= 0.8
    d_up = abs((u - 0.40) - (0.5 - v) * 0.75)
    d_down = abs((u - 0.40) - (v - 0.5) * 0.75)
    arm_up = v <= 0.5 and u >= 0.38 and d_up <= 0.07 and u <= 0.78
    arm_down = v >= 0.45 and u >= 0.38 and d_down <= 0.07 and u <= 0.78
    if stem or arm_up or arm_down:
        return (255, 255, 255, 255)
    # Blue gradient from top to bottom.
    return (0x00, int(0x78 + 0x30 * (1 - v)), 0xE3, 255)


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up rows
        row = b"".join(struct.pack("BBBB", b, g, r, a) for (r, g, b, a) in (pixel(size, x, y) for x in range(size)))
        rows.append(row)
    xor = b"".join(rows)
    mask_row = ((size + 31) // 32) * 4
    mask = b"\0" * (mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def main(out):
    sizes = [16, 32, 48]
    images = [image(s) for s in sizes]
    data = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, img in zip(sizes, images):
        data += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    data += b"".join(images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
