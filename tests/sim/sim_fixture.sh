#!/bin/sh
# Starts or stops the catalogue server that the simulated machine's tests
# share:  sim_fixture.sh start|stop BUILD_DIR SOURCE_DIR
# The server listens on 127.0.0.1 on a free port (written to SIM/server.port),
# serves BUILD_DIR/catalogue with the routes of each prepared scenario under
# SIM, and stops by itself after four hours if nobody stops it. SIM is the
# simulated machine's folder of the test run: KAVETTA_TEST_RUN_DIR/sim (each
# run of the test command has its own, beside the others), BUILD_DIR/sim
# without one.
set -eu
action="$1"; build="$2"; source="$3"
root="${KAVETTA_TEST_RUN_DIR:-$build}/sim"
pidfile="$root/server.pid"
mkdir -p "$root"

stop_server() {
  [ -f "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  # Only the server this script started, never another process that got its number.
  if [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q catalogue_server.py; then
    kill "$pid" 2>/dev/null || true
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
    if kill -0 "$pid" 2>/dev/null; then
      echo "waited 60 s for the catalogue server (process $pid) to stop, and it did not: ending it"
      kill -9 "$pid" 2>/dev/null || true
    fi
  fi
  rm -f "$pidfile"
}

case "$action" in
  start)
    stop_server
    rm -f "$root/server.port"
    # Detached from CTest's output pipes, so the setup test can end.
    setsid python3 "$source/tests/servers/catalogue_server.py" --catalogue "$build/catalogue" --port 0 \
      --port-file "$root/server.port" --pid-file "$pidfile" --lifetime 14400 --sim-root "$root" \
      --log "$root/server.log" </dev/null >"$root/server.out" 2>&1 &
    i=0
    while [ ! -s "$root/server.port" ] && [ $i -lt 1200 ]; do sleep 0.1; i=$((i + 1)); done
    [ -s "$root/server.port" ] || {
      echo "waited 120 s for the catalogue server to write its port file, and it did not:"; cat "$root/server.out"; exit 1; }
    echo "catalogue server on 127.0.0.1:$(cat "$root/server.port")"
    ;;
  stop)
    stop_server
    ;;
  *)
    echo "usage: $0 start|stop BUILD_DIR SOURCE_DIR"; exit 2 ;;
esac
