#!/usr/bin/env bash
# Runs every test program under Wine through CTest, three times side by side,
# each run on a Windows of its own:
#   host       the host's code page, 32-bit Windows   (prefix build/wineprefix)
#   936        Chinese Windows (ANSI code page 936, locale 0x804), 32-bit
#                                                     (prefix build/wineprefix-936)
#   936-win64  Chinese Windows, 64-bit: our 32-bit programs run under WoW64
#                                                     (prefix build/wineprefix-936-win64)
# Each run has its own prefix and wineserver, its own Xvfb display, its own
# folder (build/test-runs/<run>: the simulated machine's scenarios and
# catalogue server, the fixtures the tests remake, the trusted-HTTPS
# certificates; the tests find it through KAVETTA_TEST_RUN_DIR) and its own
# results (build/test-results/<run>); CTest runs the entries of each run in
# parallel. Builds first when needed. Prints CTest's output of each run and
# the skipped test cases with their reasons; exits non-zero on any failure.
#
#   KAVETTA_CODEPAGES="host 936 936-win64"   which runs to make (default: all three)
#   KAVETTA_TEST_JOBS=N                      entries at once in each run (default: the cores)
#   extra arguments go to ctest, e.g.  scripts/test.sh -R core
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="${KAVETTA_BUILD_DIR:-$root/build}"
runs="${KAVETTA_CODEPAGES:-host 936 936-win64}"
jobs="${KAVETTA_TEST_JOBS:-$(nproc)}"

for run in $runs; do
  case "$run" in
    host|936|936-win64) ;;
    *) echo "unknown test run '$run' (host, 936 or 936-win64)"; exit 2 ;;
  esac
done

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja
fi
cmake --build "$build" -j"$(nproc)"

# Loopback tests must never go through a proxy, whatever the caller's shell has.
unset http_proxy https_proxy ftp_proxy all_proxy no_proxy \
      HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY NO_PROXY

export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"

. "$root/scripts/private-xvfb.sh"

# One run of the whole suite, its output in its results folder. $1 names the
# run; the rest goes to ctest.
run_suite() {
  local name="$1"
  shift
  local results="$build/test-results/$name"
  local rundir="$build/test-runs/$name"
  rm -rf "$results" "$rundir"
  mkdir -p "$results" "$rundir"
  (
    set +e
    started=$SECONDS
    # The architecture is always stated: with Debian's wine64 installed, a
    # new prefix would otherwise be 64-bit.
    case "$name" in
      host)
        export WINEARCH=win32 WINEPREFIX="$build/wineprefix"
        expect_locale="" expect_bits=32 ;;
      936|936-win64)
        # Chinese Windows: Wine takes its code page and regional settings
        # from the host locale and rewrites the prefix's settings to match,
        # so it has a prefix of its own. LANG alone would leave 1252 when the
        # locale is missing; the probe below catches that.
        export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8
        expect_locale="936 0x804"
        if [ "$name" = 936 ]; then
          export WINEARCH=win32 WINEPREFIX="$build/wineprefix-936"
          expect_bits=32
        else
          export WINEARCH=win64 WINEPREFIX="$build/wineprefix-936-win64"
          expect_bits=64
        fi ;;
    esac
    export KAVETTA_TEST_RUN_DIR="$rundir"
    # The tests whose answer is the platform's own read which one this is.
    export KAVETTA_TEST_WINDOWS_BITS="$expect_bits"

    # A display of the run's own, so that its windows never meet a desktop's
    # or another run's.
    start_private_xvfb "$rundir/xvfb.log"
    trap 'wineserver -k >/dev/null 2>&1; kill "$xvfb_pid" >/dev/null 2>&1' EXIT

    "$root/scripts/wine-prefix.sh" "$WINEPREFIX" || { echo "could not make the Wine prefix $WINEPREFIX"; exit 1; }
    # One wineserver for the whole run keeps the start of each test program cheap.
    wineserver -p
    # Start Wine's own services now, with nothing attached to them: started by
    # the first test program instead, they would inherit CTest's output pipes
    # and keep CTest waiting after that test ended.
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1
    # That first start may have run wineboot (after a Wine update), which
    # puts back what Windows does not keep where Wine does.
    "$root/scripts/wine-wow64-view.sh" "$WINEPREFIX"

    got=$( (wine "$build/bin/codepage_probe.exe" </dev/null 2>/dev/null) | tr -d '\r')
    echo "== test run '$name' ($WINEARCH prefix): ANSI code page, user locale, Windows word size: ${got:-unknown}"
    if [ -z "$got" ]; then
      echo "Wine could not run a 32-bit test program here (does this kernel run 32-bit programs? try: wine cmd /c ver)"
      exit 1
    fi
    if [ -n "$expect_locale" ] && [ "${got% *}" != "$expect_locale" ]; then
      echo "the $name run needs Wine to run as Chinese Windows ($expect_locale), but it runs as ${got% *}:" \
           "is the zh_CN.UTF-8 locale generated (scripts/setup.sh)?"
      exit 1
    fi
    if [ "${got##* }" != "$expect_bits" ]; then
      if [ "$expect_bits" = 64 ]; then
        echo "the $name run needs our 32-bit programs to run on 64-bit Windows, but they see ${got##* }-bit Windows:" \
             "is Debian's wine64 installed (scripts/setup.sh)?"
      else
        echo "the $name run needs 32-bit Windows, but the programs see ${got##* }-bit Windows"
      fi
      exit 1
    fi

    # GoogleTest writes one XML report per program here, read for the summary.
    export GTEST_OUTPUT="xml:Z:$(echo "$results" | tr / '\\')\\"
    ctest --test-dir "$build" --output-on-failure --timeout 900 --no-tests=error -j"$jobs" \
          --output-junit "$results/ctest.xml" "$@"
    status=$?
    echo "== test run '$name': $((SECONDS - started)) s"
    exit "$status"
  ) >"$results/output.txt" 2>&1 </dev/null
}

started=$SECONDS
pids=()
for run in $runs; do
  run_suite "$run" "$@" &
  pids+=("$!")
done
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" >/dev/null 2>&1 || true; done
}
trap cleanup INT TERM

overall=0
ran=()
i=0
for run in $runs; do
  status=0
  wait "${pids[$i]}" || status=$?
  i=$((i + 1))
  ran+=("$run:$status")
  [ "$status" -eq 0 ] || overall=1
done
for run in $runs; do
  cat "$build/test-results/$run/output.txt"
  echo
done

python3 "$root/scripts/test_summary.py" "$build/test-results" $runs || true
for r in "${ran[@]}"; do
  echo "run ${r%%:*}: $([ "${r##*:}" = 0 ] && echo passed || echo FAILED)"
done
echo "all runs side by side: $((SECONDS - started)) s"
exit "$overall"
