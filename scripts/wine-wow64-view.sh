#!/bin/sh
# Makes a 64-bit Wine prefix look to our 32-bit programs as 64-bit Windows
# does:  wine-wow64-view.sh PREFIX
#
# Windows keeps the kernel file (ntoskrnl.exe) only in the 64-bit System32:
# a 32-bit process, whose System32 is redirected to SysWOW64, finds it only
# through Sysnative. Wine's 64-bit prefix keeps a 32-bit copy in syswow64,
# so there a check that asks System32 would pass where Windows fails. That
# copy is moved out of drive_c. wineboot puts it back whenever it makes or
# updates the prefix (Wine runs it by itself at the first start after Wine
# was updated), so this runs after every wineboot and every first start of
# a run. A 32-bit prefix has no syswow64 and is left as it is.
set -eu
prefix="$1"
syswow64="$prefix/drive_c/windows/syswow64"
[ -d "$syswow64" ] || exit 0
aside="$prefix/kavetta-aside-syswow64"
for name in ntoskrnl.exe; do
  if [ -e "$syswow64/$name" ] || [ -L "$syswow64/$name" ]; then
    mkdir -p "$aside"
    mv -f "$syswow64/$name" "$aside/$name"
  fi
done
