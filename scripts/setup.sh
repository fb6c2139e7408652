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
  wine wine32:i386 xvfb xauth fonts-wqy-microhei
  7zip googletest dpkg-dev python3 python3-pil imagemagick
)

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

"$root/scripts/build-deps.sh" "$prefix"

cmake -S "$root" -B "$build" -G Ninja -DKAVETTA_DEPS_PREFIX="$prefix"
cmake --build "$build" -j"$(nproc)"
