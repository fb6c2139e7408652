#!/usr/bin/env bash
# The engine's throughput beside a bare libcurl program with the same
# receive buffer: a 1 GiB file (KAVETTA_BENCH_MIB) served from 127.0.0.1
# (kernel sendfile), fetched by the engine under Wine, by the bare libcurl
# program under Wine with the engine's receive buffer and each other size of
# KAVETTA_BENCH_BUFFERS (bytes), and by the host's curl, alternating, three
# rounds. The headline is the engine's median beside the bare program's with
# the same buffer, both measured in this one run under the same emulation;
# host curl (native code, not emulated) is printed for information.
# Not a test; the normal build builds its programs:  bash tests/engine/bench/bench.sh
#
# With --smoke (the test command's bench_smoke entry) it only proves that the
# benchmark still runs: each program (engine_bench, curl_bench with each
# buffer, md5_bench) once, on a 1 MiB file, in the Wine prefix and build the
# test command gives; it fails unless each one ends well, every fetched file
# arrived whole and the digest program's digest is md5sum's. It asserts
# nothing about speed.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build="${KAVETTA_BUILD_DIR:-$root/build}"
smoke=0
if [ "${1:-}" = "--smoke" ]; then
  smoke=1
  KAVETTA_BENCH_MIB=1
fi
[ "$smoke" = 1 ] || cmake --build "$build" --target engine_bench curl_bench md5_bench kavetta_engine >/dev/null
# The engine's own receive buffer (engine/engine.cpp), always among the sizes.
engine_buffer=$(($(sed -n 's/^const long kReceiveBuffer = \(.*\);.*/\1/p' "$root/engine/engine.cpp")))
buffers="${KAVETTA_BENCH_BUFFERS:-524288 1048576 2097152 4194304}"
case " $buffers " in *" $engine_buffer "*) ;; *) buffers="$buffers $engine_buffer" ;; esac
mib="${KAVETTA_BENCH_MIB:-1024}"  # the file's size
work=$(mktemp -d /tmp/kvt-bench.XXXXXX)
trap 'kill $server 2>/dev/null || true; rm -rf "$work"' EXIT
head -c $((mib * 1024 * 1024)) /dev/urandom >"$work/big.bin"
mkdir "$work/out"
python3 - "$work" >"$work/port" <<'PY' &
import http.server, os, socketserver, sys
root = sys.argv[1]
class H(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        path = os.path.join(root, "big.bin")
        size = os.path.getsize(path)
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        with open(path, "rb") as f:
            self.connection.sendfile(f)
    def log_message(self, *a):
        pass
with socketserver.ThreadingTCPServer(("127.0.0.1", 0), H) as s:
    print(s.server_address[1], flush=True)
    s.serve_forever()
PY
server=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(cat "$work/port")/big.bin"
if [ "$smoke" = 1 ]; then
  # The test command's prefix and session.
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
else
  export WINEARCH=win32 WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  "$root/scripts/wine-prefix.sh" "$WINEPREFIX"
fi
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
if [ "$smoke" = 1 ]; then
  failed=0
  for size in $buffers; do
    if ! (cd "$build/bin" && wine curl_bench.exe "$url" "$(winpath "$work/out/libcurl.bin")" "$size"); then
      echo "FAILED: curl_bench with a $size-byte buffer did not end well"; failed=1
    elif ! cmp -s "$work/big.bin" "$work/out/libcurl.bin"; then
      echo "FAILED: curl_bench with a $size-byte buffer: the file did not arrive whole"; failed=1
    fi
    rm -f "$work/out/libcurl.bin"
  done
  if ! (cd "$build/bin" && wine engine_bench.exe "$url" "$(winpath "$work/out")" engine.bin); then
    echo "FAILED: engine_bench did not end well"; failed=1
  elif ! cmp -s "$work/big.bin" "$work/out/engine.bin"; then
    echo "FAILED: engine_bench: the file did not arrive whole"; failed=1
  fi
  expected=$(md5sum "$work/big.bin" | cut -c1-32 | tr a-f A-F)
  digest=$( (cd "$build/bin" && wine md5_bench.exe "$(winpath "$work/big.bin")") | tr -d '\r') || {
    echo "FAILED: md5_bench did not end well"; failed=1; }
  echo "$digest"
  case "$digest" in "$expected "*) ;; *) echo "FAILED: md5_bench's digest is not md5sum's ($expected)"; failed=1 ;; esac
  [ "$failed" = 0 ] && echo "every benchmark program ran once and its file arrived whole"
  exit "$failed"
fi
# Three rounds each, alternating; dirty pages are flushed before each run.
# Each run appends "name MB/s" to the results.
results="$work/results"
for round in 1 2 3; do
  sync
  curl -s -o "$work/out/curl.bin" -w '%{speed_download}\n' "$url" | awk '{printf "curl %.1f\n", $1 / 1e6}' >>"$results"
  rm -f "$work/out/curl.bin"
  for size in $buffers; do
    sync
    (cd "$build/bin" && wine curl_bench.exe "$url" "Z:${work//\//\\}\\out\\libcurl.bin" "$size") | tr -d '\r' |
      awk -v s="$size" '{for (i = 1; i <= NF; i++) if ($i == "MB/s") printf "libcurl-%d %s\n", s, $(i - 1)}' >>"$results"
    cmp -s "$work/big.bin" "$work/out/libcurl.bin" || echo "libcurl file differs ($size)"
    rm -f "$work/out/libcurl.bin"
  done
  sync
  (cd "$build/bin" && wine engine_bench.exe "$url" "Z:${work//\//\\}\\out" engine.bin) | tr -d '\r' |
    awk '{for (i = 1; i <= NF; i++) if ($i == "MB/s") printf "engine %s\n", $(i - 1)}' >>"$results"
  cmp -s "$work/big.bin" "$work/out/engine.bin" || echo "engine file differs"
  rm -f "$work/out/engine.bin"
done
# Medians: the headline ratio, then each beside the bare program with the
# engine's buffer and beside host curl.
sort -k1,1 -k2,2n "$results" | awk -v same="libcurl-$engine_buffer" '
  { v[$1] = v[$1] " " $2; n[$1]++ }
  END {
    for (k in v) { split(substr(v[k], 2), a, " "); m[k] = a[int((n[k] + 1) / 2)] }
    if (m[same] > 0)
      printf "engine / bare libcurl with the same %d-byte receive buffer: %.2fx (%.1f / %.1f MB/s, medians of %d rounds, this run)\n",
             substr(same, 9), m["engine"] / m[same], m["engine"], m[same], n["engine"]
    for (k in m)
      printf "  %-18s %8.1f MB/s  %.2fx %s  %.2fx host curl\n", k, m[k], (m[same] > 0 ? m[k] / m[same] : 0), same,
             (m["curl"] > 0 ? m[k] / m["curl"] : 0) | "sort"
  }'
