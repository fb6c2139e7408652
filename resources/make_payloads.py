#!/usr/bin/env python3
"""Build steps of the program's three payloads.

  key --texts HEADER --name NAME --out FILE
      Writes the key text named NAME in HEADER (the fixed-text header, so the
      wording lives in one place) to FILE, leaving FILE untouched when it
      already holds that text, so that edits elsewhere in the header do not
      encipher the payloads again.
  encipher --key-file FILE --in FILE --out FILE
      Enciphers the input with XTEA (independent 8-byte blocks, 32 cycles,
      delta 0x9E3779B9, little-endian words) under the raw MD5 digest of the
      key text. An input that is not a multiple of 8 bytes is padded with
      zero bytes. An empty key text stores the input as it is.
  tools --sevenzip 7ZZ --stage DIR --out FILE ITEM...
      Copies each ITEM ("path|folder", folder may be empty) into the staging
      folder and packs the staging folder into a new 7z archive with 7ZZ.
  zip --root DIR --out FILE
      Zips every picture below DIR (deflated, names relative to DIR with "/").
"""
import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import zipfile

DELTA = 0x9E3779B9
MASK = 0xFFFFFFFF
PICTURE_SUFFIXES = (".png", ".gif", ".bmp", ".jpg", ".jpeg", ".ico")


def key_text(header, name):
    """The text of `constexpr const wchar_t* NAME = L"...";` in the header."""
    with open(header, encoding="utf-8") as f:
        source = f.read()
    m = re.search(r'\b' + re.escape(name) + r'\s*=\s*L"((?:[^"\\]|\\.)*)"\s*;', source)
    if not m:
        sys.exit(f"{header}: no wide text named {name}")
    text = m.group(1)
    # The program digests the key text in the thread's ANSI code page; only
    # plain ASCII gives the same bytes on every Windows.
    if "\\" in text or any(not (0x20 <= ord(c) < 0x7F) for c in text):
        sys.exit(f"{header}: {name} must be plain ASCII without escapes")
    return text


def xtea_encipher_blocks(data, key):
    k = struct.unpack("<4I", key)
    out = bytearray(len(data))
    for offset in range(0, len(data), 8):
        a, b = struct.unpack_from("<2I", data, offset)
        s = 0
        for _ in range(32):
            a = (a + ((((b << 4) ^ (b >> 5)) + b) ^ (s + k[s & 3]))) & MASK
            s = (s + DELTA) & MASK
            b = (b + ((((a << 4) ^ (a >> 5)) + a) ^ (s + k[(s >> 11) & 3]))) & MASK
        struct.pack_into("<2I", out, offset, a, b)
    return bytes(out)


def write_key(args):
    text = key_text(args.texts, args.name).encode("ascii")
    try:
        with open(args.out, "rb") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    write_atomically(args.out, text)


def encipher(args):
    with open(args.key_file, "rb") as f:
        text = f.read().decode("ascii")
    with open(args.input, "rb") as f:
        data = f.read()
    if text:
        data += b"\0" * (-len(data) % 8)
        data = xtea_encipher_blocks(data, hashlib.md5(text.encode("ascii")).digest())
    write_atomically(args.out, data)


def write_atomically(path, data):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path + ".part", "wb") as f:
        f.write(data)
    os.replace(path + ".part", path)


def tools(args):
    shutil.rmtree(args.stage, ignore_errors=True)
    os.makedirs(args.stage)
    for item in args.items:
        path, _, folder = item.partition("|")
        target_dir = os.path.join(args.stage, folder) if folder else args.stage
        os.makedirs(target_dir, exist_ok=True)
        shutil.copy2(path, os.path.join(target_dir, os.path.basename(path)))
    out = os.path.abspath(args.out)
    if os.path.exists(out):
        os.remove(out)  # 7zz would add to an existing archive
    subprocess.run([args.sevenzip, "a", "-t7z", "-mx=9", "-bd", "-bso0", "-bsp0", "-y", out, "."],
                   cwd=args.stage, check=True)


def pictures(root):
    found = []
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(files):
            if name.lower().endswith(PICTURE_SUFFIXES):
                found.append(os.path.join(folder, name))
    return found


def zip_pictures(args):
    out = os.path.abspath(args.out)
    with zipfile.ZipFile(out + ".part", "w", zipfile.ZIP_DEFLATED) as z:
        for path in pictures(args.root):
            z.write(path, os.path.relpath(path, args.root).replace(os.sep, "/"))
    os.replace(out + ".part", out)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("key")
    p.add_argument("--texts", required=True)
    p.add_argument("--name", required=True)
    p.add_argument("--out", required=True)
    p.set_defaults(run=write_key)
    p = sub.add_parser("encipher")
    p.add_argument("--key-file", required=True)
    p.add_argument("--in", dest="input", required=True)
    p.add_argument("--out", required=True)
    p.set_defaults(run=encipher)
    p = sub.add_parser("tools")
    p.add_argument("--sevenzip", required=True)
    p.add_argument("--stage", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("items", nargs="*")
    p.set_defaults(run=tools)
    p = sub.add_parser("zip")
    p.add_argument("--root", required=True)
    p.add_argument("--out", required=True)
    p.set_defaults(run=zip_pictures)
    args = parser.parse_args()
    args.run(args)


if __name__ == "__main__":
    main()
