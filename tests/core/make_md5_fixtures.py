#!/usr/bin/env python3
"""Writes the digest fixtures and their expected digests.

Usage: make_md5_fixtures.py OUTPUT_FOLDER

md5_large.bin   3 MiB + 1237 bytes of deterministic pseudo-random data (its
                size is no multiple of the 8192-byte read block)
md5_blocks.bin  exactly 8 read blocks (65536 bytes)
md5sums.txt     the host md5sum's lines for both files
"""
import os
import subprocess
import sys


def stream(seed, count):
    # xorshift32, one byte per step: cheap, deterministic, no repeating pattern
    # that a block-boundary bug could hide behind.
    out = bytearray(count)
    x = seed
    for i in range(count):
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out[i] = x & 0xFF
    return bytes(out)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    files = {"md5_large.bin": stream(0x2545F491, 3 * 1024 * 1024 + 1237),
             "md5_blocks.bin": stream(0x9E3779B9, 8 * 8192)}
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    sums = subprocess.run(["md5sum"] + sorted(files), cwd=folder, check=True,
                          capture_output=True, text=True).stdout
    with open(os.path.join(folder, "md5sums.txt"), "w") as f:
        f.write(sums)


if __name__ == "__main__":
    main()
