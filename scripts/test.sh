#!/usr/bin/env bash
# Runs every test program under Wine through CTest, with a private Xvfb
# display and a private Wine prefix inside the build folder. Builds first
# when needed. Prints CTest's summary; exits non-zero on any failure.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="${KAVETTA_BUILD_DIR:-$root/build}"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja
fi
cmake --build "$build" -j"$(nproc)"

export WINEPREFIX="$build/wineprefix"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
# Debian's wine32 gives a 32-bit prefix, like the 32-bit Windows the program also runs on.

# A display of our own, so that the windows the tests make never meet a
# desktop's.
. "$root/scripts/private-xvfb.sh"
start_private_xvfb "$build/xvfb.log"

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb_pid" >/dev/null 2>&1 || true
}
trap cleanup EXIT

"$root/scripts/wine-prefix.sh" "$WINEPREFIX"

# One wineserver for the whole run keeps the start of each test program cheap.
wineserver -p
# Start Wine's own services now, with nothing attached to them: started by
# the first test program instead, they would inherit CTest's output pipes and
# keep CTest waiting after that test ended.
wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
ctest --test-dir "$build" --output-on-failure --timeout 900 "$@"
