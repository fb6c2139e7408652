#!/usr/bin/env bash
# Runs every test program under Wine through CTest, with a private Xvfb
# display, twice: once under the host's code page and once as Chinese Windows
# (ANSI code page 936, locale 0x804), each run in its own Wine prefix inside
# the build folder. Builds first when needed. Prints CTest's summary of each
# run and the skipped test cases with their reasons; exits non-zero on any
# failure.
#
#   KAVETTA_CODEPAGES="host 936"   which runs to make (default: both)
#   extra arguments go to ctest, e.g.  scripts/test.sh -R core
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="${KAVETTA_BUILD_DIR:-$root/build}"
runs="${KAVETTA_CODEPAGES:-host 936}"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja
fi
cmake --build "$build" -j"$(nproc)"

# Loopback tests must never go through a proxy, whatever the caller's shell has.
unset http_proxy https_proxy ftp_proxy all_proxy no_proxy \
      HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY NO_PROXY

export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
# Debian's wine32 gives a 32-bit prefix, like the 32-bit Windows the program also runs on.

# A display of our own, so that the windows the tests make never meet a
# desktop's.
. "$root/scripts/private-xvfb.sh"
start_private_xvfb "$build/xvfb.log"

cleanup() {
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  kill "$xvfb_pid" >/dev/null 2>&1 || true
}
trap cleanup EXIT

# One run of the whole suite. $1 names the run ("host" or "936").
run_suite() {
  local name="$1"
  shift
  local results="$build/test-results/$name"
  rm -rf "$results"
  mkdir -p "$results"
  (
    if [ "$name" = 936 ]; then
      # The Chinese run: Wine takes its code page and regional settings from
      # the host locale and rewrites the prefix's settings to match, so it has
      # a prefix of its own. LANG alone would leave 1252 when the locale is
      # missing; the probe below catches that.
      export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8
      export WINEPREFIX="$build/wineprefix-936"
      expect="936 0x804"
    else
      export WINEPREFIX="$build/wineprefix"
      expect=""
    fi
    "$root/scripts/wine-prefix.sh" "$WINEPREFIX"
    # One wineserver for the whole run keeps the start of each test program cheap.
    wineserver -p
    # Start Wine's own services now, with nothing attached to them: started by
    # the first test program instead, they would inherit CTest's output pipes
    # and keep CTest waiting after that test ended.
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true

    got=$( (wine "$build/bin/codepage_probe.exe" </dev/null 2>/dev/null || true) | tr -d '\r')
    echo "== test run '$name': ANSI code page and user locale: ${got:-unknown}"
    if [ -z "$got" ]; then
      echo "Wine could not run a 32-bit test program here (does this kernel run 32-bit programs? try: wine cmd /c ver)"
      wineserver -k >/dev/null 2>&1 || true
      exit 1
    fi
    if [ -n "$expect" ] && [ "$got" != "$expect" ]; then
      echo "the $name run needs Wine to run as Chinese Windows ($expect), but it runs as $got:" \
           "is the zh_CN.UTF-8 locale generated (scripts/setup.sh)?"
      wineserver -k >/dev/null 2>&1 || true
      exit 1
    fi

    # GoogleTest writes one XML report per program here, read for the summary.
    export GTEST_OUTPUT="xml:Z:$(echo "$results" | tr / '\\')\\"
    status=0
    ctest --test-dir "$build" --output-on-failure --timeout 900 --no-tests=error \
          --output-junit "$results/ctest.xml" "$@" || status=$?
    wineserver -k >/dev/null 2>&1 || true
    exit "$status"
  )
}

overall=0
ran=()
for run in $runs; do
  case "$run" in
    host|936) ;;
    *) echo "unknown test run '$run' (host or 936)"; exit 2 ;;
  esac
  status=0
  run_suite "$run" "$@" || status=$?
  ran+=("$run:$status")
  [ "$status" -eq 0 ] || overall=1
done

python3 "$root/scripts/test_summary.py" "$build/test-results" $runs || true
for r in "${ran[@]}"; do
  echo "run ${r%%:*}: $([ "${r##*:}" = 0 ] && echo passed || echo FAILED)"
done
exit "$overall"
