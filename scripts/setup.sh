#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root) and builds the program and its
# tests: the Debian packages, the cross-built libraries (scripts/build-deps.sh)
# and a CMake build in ./build. Safe to run again; it then only builds.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="${KAVETTA_BUILD_DIR:-$root/build}"
prefix="${KAVETTA_DEPS_PREFIX:-/opt/kavetta-deps}"

packages=(
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  libz-mingw-w64-dev cmake ninja-build make
  wine wine32:i386 wine64 xvfb xauth fonts-wqy-microhei
  7zip googletest dpkg-dev python3 python3-pil imagemagick
  locales openssl
)

# wine32 runs our 32-bit programs on 32-bit Windows; wine64 beside it makes
# the 64-bit Windows of the third test run (our programs under WoW64). With
# both, a new prefix is 64-bit unless WINEARCH says otherwise: the scripts
# always say.
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Wine's 32-bit loader is an i386 program. Some machines run 64-bit user code
# only (their kernel refuses i386 programs); there the loader runs through
# QEMU's user-mode i386 emulator, registered for i386 programs. Slower, but
# the same Wine and the same Windows programs.
"$root/scripts/enable-i386.sh"

# The second test run is Chinese Windows; Wine takes code page 936 from this locale.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
  if grep -q '^# *zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  else
    echo 'zh_CN.UTF-8 UTF-8' >>/etc/locale.gen
  fi
  locale-gen
fi

"$root/scripts/build-deps.sh" "$prefix"

cmake -S "$root" -B "$build" -G Ninja -DKAVETTA_DEPS_PREFIX="$prefix"
cmake --build "$build" -j"$(nproc)"
