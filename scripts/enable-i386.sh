#!/usr/bin/env bash
# Makes i386 Linux programs (Wine's 32-bit loader and server) run on this
# machine. Where the kernel runs them itself this does nothing; where it
# refuses them (64-bit user code only), it installs QEMU's user-mode i386
# emulator and registers it for i386 programs. Needs root.
set -euo pipefail

probe=/usr/lib/wine/wine
[ -x "$probe" ] || exit 0
# The kernel runs i386 programs itself: nothing to do. (With our emulator
# registered the probe would answer through it, so then go on and refresh.)
if [ ! -e /proc/sys/fs/binfmt_misc/kavetta-i386 ] && "$probe" --version >/dev/null 2>&1; then
  exit 0
fi

# QEMU 7.2 (bookworm) tracks guest pages one by one and takes about a minute
# to start each Wine process; the backported QEMU 10 starts one in about a
# second, so it comes from bookworm-backports.
if ! qemu-i386-static --version 2>/dev/null | grep -q 'version 1[0-9]\.'; then
  sources=/etc/apt/sources.list.d/kavetta-backports.sources
  if [ ! -f "$sources" ]; then
    cat >"$sources" <<'SOURCES'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  fi
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -t bookworm-backports qemu-user-static
fi
if [ ! -f /proc/sys/fs/binfmt_misc/register ]; then
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
fi
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# Executables (type 2) and position-independent ones (type 3), machine 3 (i386).
# The registration keeps the emulator file open ('F'), so an upgraded
# emulator needs the entries made anew.
for entry in "kavetta-i386:${magic}\x02\x00\x03\x00" "kavetta-i386pie:${magic}\x03\x00\x03\x00"; do
  name=${entry%%:*}
  bytes=${entry#*:}
  if [ -e "/proc/sys/fs/binfmt_misc/$name" ]; then
    echo -1 >"/proc/sys/fs/binfmt_misc/$name"
  fi
  printf ':%s:M::%s:%s:/usr/bin/qemu-i386-static:F\n' "$name" "$bytes" "$mask" >/proc/sys/fs/binfmt_misc/register
done
if ! "$probe" --version >/dev/null 2>&1; then
  echo "i386 programs still do not run on this machine; Wine's 32-bit loader cannot start" >&2
  exit 1
fi
echo "i386 programs run through qemu-i386-static on this machine"
