#!/bin/sh
# Runs a Windows program under Wine on a prepared scenario of the simulated
# machine:  with_scenario.sh BUILD_DIR SOURCE_DIR SCENARIO PROGRAM [ARGS...]
# SCENARIO is a file, or the name of one in tests/sim/scenarios. The
# scenario's drives are linked into $WINEPREFIX (the tests' prefix), its
# configuration mirror points at the running catalogue server
# (sim_fixture.sh start), and KAVETTA_SIM_SCENARIO names it for the program
# and for anything the program starts. The scenarios and the server are the
# test run's (KAVETTA_TEST_RUN_DIR/sim, BUILD_DIR/sim without a run folder);
# the program finds the run folder through KAVETTA_TEST_RUN_DIR.
set -eu
build="$1"; source="$2"; scenario="$3"; shift 3
[ -f "$scenario" ] || scenario="$source/tests/sim/scenarios/$scenario.json"
: "${WINEPREFIX:=$build/wineprefix}"
: "${KAVETTA_TEST_RUN_DIR:=$build}"
export WINEPREFIX KAVETTA_TEST_RUN_DIR
sim="$KAVETTA_TEST_RUN_DIR/sim"
port_file="$sim/server.port"
[ -s "$port_file" ] || { echo "the catalogue server is not running (sim_fixture.sh start)"; exit 1; }
# The server removes its process file when it stops (its lifetime ran out, or it failed).
if [ ! -f "$sim/server.pid" ] && [ -f "$sim/server.out" ]; then
  echo "the catalogue server has stopped:"; tail -n 5 "$sim/server.out"; exit 1
fi
KAVETTA_SIM_SCENARIO=$(python3 "$source/tests/sim/prepare_scenario.py" --prefix "$WINEPREFIX" \
  --sim-root "$sim" --scenario "$scenario" --port "$(cat "$port_file")")
export KAVETTA_SIM_SCENARIO
# Wine passes the variable on to the program.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
