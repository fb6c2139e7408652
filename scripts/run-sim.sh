#!/usr/bin/env bash
# Runs the program on the simulated machine:  scripts/run-sim.sh [scenario]
#
# scenario: a file, or a name from tests/sim/scenarios (default: typical, a
# GPT system disk with C: and a data partition D:, 8 GiB memory, one USB
# disk). Builds first when needed, starts the local catalogue server on
# 127.0.0.1 (port 18080, the sim build's built-in mirror; another free port
# when that one is taken), prepares the scenario's drives in a Wine prefix of
# its own (build/wineprefix-sim: nothing it leaves there, drive letters,
# files, a wineserver, reaches the tests' prefixes) and runs
# build/bin/kavetta-sim.exe on $DISPLAY, or, without a
# display, on a private Xvfb, writing a screenshot to build/run-sim-<scenario>.png
# after KAVETTA_SIM_SHOT_SECONDS (default 40) seconds and then closing the
# program. The server is stopped at the end.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="${KAVETTA_BUILD_DIR:-$root/build}"
scenario="${1:-typical}"
[ -f "$scenario" ] || scenario="$root/tests/sim/scenarios/$scenario.json"
[ -f "$scenario" ] || { echo "no such scenario: ${1:-typical}"; exit 2; }
name=$(basename "$scenario" .json)

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja
fi
cmake --build "$build" -j4 --target kavetta-sim ksim_catalogue

# A 32-bit prefix of the run command's own (with wine64 installed a new
# prefix is 64-bit unless WINEARCH says).
export WINEARCH=win32 WINEPREFIX="$build/wineprefix-sim"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"

run="$build/run-sim"
mkdir -p "$run"
server_pid=""
xvfb_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" >/dev/null 2>&1 || true
  # The prefix is ours alone: its wineserver and whatever still runs in it end with the command.
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT

# The catalogue server: loopback only, and it stops by itself after two hours.
rm -f "$run/server.port"
python3 "$root/tests/servers/catalogue_server.py" --catalogue "$build/catalogue" --port 18080 --port-fallback \
  --port-file "$run/server.port" --lifetime 7200 --sim-root "$run" --log "$run/server.log" \
  >"$run/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 600); do [ -s "$run/server.port" ] && break; sleep 0.1; done
[ -s "$run/server.port" ] || {
  echo "waited 60 s for the catalogue server to write its port file, and it did not:"; cat "$run/server.out"; exit 1; }
port=$(cat "$run/server.port")
echo "catalogue server: http://127.0.0.1:$port/$name/kavetta.ini (log: $run/server.log)"

if [ -z "${DISPLAY:-}" ]; then
  . "$root/scripts/private-xvfb.sh"
  start_private_xvfb "$run/xvfb.log"
  echo "no display: running on Xvfb $DISPLAY"
fi

"$root/scripts/wine-prefix.sh" "$WINEPREFIX"
KAVETTA_SIM_SCENARIO=$(python3 "$root/tests/sim/prepare_scenario.py" --prefix "$WINEPREFIX" --sim-root "$run" \
  --scenario "$scenario" --port "$port")
export KAVETTA_SIM_SCENARIO
echo "scenario: $scenario -> $KAVETTA_SIM_SCENARIO"
echo "journal of what the program asked of the machine: $run/$name/sim-journal.txt"

if [ -z "$xvfb_pid" ]; then
  wine "$build/bin/kavetta-sim.exe"
else
  wine "$build/bin/kavetta-sim.exe" &
  program=$!
  sleep "${KAVETTA_SIM_SHOT_SECONDS:-40}"
  shot="$build/run-sim-$name.png"
  import -window root "$shot" && echo "screenshot: $shot"
  # Close the program as its window's close would (taskkill without /f
  # posts WM_CLOSE), so that it removes its work folder; force it after 60 s.
  # The simulated machine writes its process number into the journal.
  winpid=$(sed -n 's/^process \([0-9]*\)$/\1/p' "$run/$name/sim-journal.txt" | tail -1)
  [ -n "$winpid" ] && { wine taskkill /pid "$winpid" >/dev/null 2>&1 || true; }
  for _ in $(seq 600); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
  kill "$program" >/dev/null 2>&1 || true
fi
