#!/usr/bin/env bash
# Runs a built Windows program under Wine with the tests' private prefix,
# e.g.  scripts/wine-run.sh build/bin/kavetta.exe
# Needs a display: run it inside `xvfb-run -a` or with DISPLAY set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KAVETTA_BUILD_DIR:-$root/build}"
# The tests' 32-bit prefix (with wine64 installed a new prefix is 64-bit unless WINEARCH says).
export WINEARCH=win32 WINEPREFIX="$build/wineprefix"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
"$root/scripts/wine-prefix.sh" "$WINEPREFIX"
exec wine "$@"
