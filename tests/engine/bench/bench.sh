#!/usr/bin/env bash
# The engine's throughput beside the host's curl: a 1 GiB file (KAVETTA_BENCH_MIB) served from
# 127.0.0.1 (kernel sendfile), fetched by curl, by a bare libcurl program
# under Wine with each receive buffer size of KAVETTA_BENCH_BUFFERS (bytes),
# and by the engine under Wine, alternating, three rounds. Prints the median
# of each and its ratio to host curl, measured side by side in this one run.
# Not a test; run by hand after a build:  bash tests/engine/bench/bench.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build="${KAVETTA_BUILD_DIR:-$root/build}"
cmake --build "$build" --target engine_bench curl_bench kavetta_engine >/dev/null
buffers="${KAVETTA_BENCH_BUFFERS:-524288 1048576 2097152 4194304 10485760}"
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
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
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
# Medians, and each beside host curl's median.
sort -k1,1 -k2,2n "$results" | awk '
  { v[$1] = v[$1] " " $2; n[$1]++ }
  END {
    for (k in v) { split(substr(v[k], 2), a, " "); m[k] = a[int((n[k] + 1) / 2)] }
    for (k in m) printf "%-18s %8.1f MB/s  %.2fx host curl\n", k, m[k], m[k] / m["curl"]
  }' | sort
