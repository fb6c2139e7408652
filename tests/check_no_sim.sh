#!/bin/sh
# Checks that a built program carries none of the simulated machine: neither
# the name of the scenario variable (as UTF-16 or as bytes) nor the scenario
# reader's texts. With a second program (the simulated machine's own), checks
# that the same search does find them there, so the check is known to work.
set -eu
has_sim() {
  python3 - "$1" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
marks = ["KAVETTA_SIM_SCENARIO", "a machine needs at least one disk"]
found = [m for m in marks if m.encode("ascii") in data or m.encode("utf-16-le") in data]
print(", ".join(found))
sys.exit(0 if found else 1)
PY
}
if found=$(has_sim "$1"); then
  echo "$1 carries the simulated machine ($found)"; exit 1
fi
if [ -n "${2:-}" ]; then
  has_sim "$2" >/dev/null || { echo "the check finds nothing in $2 either: it no longer works"; exit 1; }
fi
echo "$1 carries no simulated machine"
