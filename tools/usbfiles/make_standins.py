#!/usr/bin/env python3
"""Writes our stand-ins for the USB disk's boot files and boot record.

The real files cannot be shipped with the sources. Each stand-in begins with
the stand-in marker, so the program refuses to put it on a real disk; a
release build replaces these files with the real ones of the same names.
Run from this folder: python3 make_standins.py
"""
BOOT_FILES = ["wgl4_boot.ttf", "chs_boot.ttf", "bootmgr.exe.mui", "bootmgr", "bootmgfw.efi",
              "bootmgfw.efi.mui", "waldr", "boot.sdi", "bhd", "efibcd"]
TEXT = ("This file of ours takes the place of the USB boot file of this name where the real one\r\n"
        "cannot be shipped. The program never writes it to a real disk.\r\n")

for name in BOOT_FILES:
    with open(name, "wb") as f:
        f.write(("Kavetta stand-in boot file: %s\r\n" % name + TEXT).encode("ascii"))

# The boot record: two sectors with the boot signature and the loader name,
# so the boot-sector tool's checks run on a simulated machine.
record = bytearray(1024)
head = ("Kavetta stand-in boot record: kvtgrldr.mbr\r\n" + TEXT).encode("ascii")
assert len(head) < 440
record[0:len(head)] = head
record[510] = 0x55
record[511] = 0xAA
record[512 + 16:512 + 21] = b"GRLDR"
with open("kvtgrldr.mbr", "wb") as f:
    f.write(bytes(record))
