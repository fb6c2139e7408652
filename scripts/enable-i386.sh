#!/usr/bin/env bash
# Makes i386 Linux programs (Wine's 32-bit loader and server) run on this
# machine. Where the kernel runs them itself this does nothing; where it
# refuses them (64-bit user code only), it installs QEMU's user-mode i386
# emulator and registers it for i386 programs. Needs root.
set -euo pipefail

probe=/usr/lib/wine/wine
[ -x "$probe" ] || exit 0
if "$probe" --version >/dev/null 2>&1; then
  exit 0
fi

if [ ! -x /usr/bin/qemu-i386-static ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends qemu-user-static
fi
if [ ! -f /proc/sys/fs/binfmt_misc/register ]; then
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
fi
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# Executables (type 2) and position-independent ones (type 3), machine 3 (i386).
for entry in "kavetta-i386:${magic}\x02\x00\x03\x00" "kavetta-i386pie:${magic}\x03\x00\x03\x00"; do
  name=${entry%%:*}
  bytes=${entry#*:}
  [ -e "/proc/sys/fs/binfmt_misc/$name" ] && continue
  printf ':%s:M::%s:%s:/usr/bin/qemu-i386-static:F\n' "$name" "$bytes" "$mask" >/proc/sys/fs/binfmt_misc/register
done
if ! "$probe" --version >/dev/null 2>&1; then
  echo "i386 programs still do not run on this machine; Wine's 32-bit loader cannot start" >&2
  exit 1
fi
echo "i386 programs run through qemu-i386-static on this machine"
