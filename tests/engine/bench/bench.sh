#!/usr/bin/env bash
# The engine's throughput beside the host's curl: a 1 GiB file served from
# 127.0.0.1 (kernel sendfile), fetched by curl and by the engine under Wine.
# Not a test; run by hand after a build:  bash tests/engine/bench/bench.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build="${KAVETTA_BUILD_DIR:-$root/build}"
cmake --build "$build" --target engine_bench kavetta_engine >/dev/null
work=$(mktemp -d /tmp/kvt-bench.XXXXXX)
trap 'kill $server 2>/dev/null || true; rm -rf "$work"' EXIT
head -c $((1024 * 1024 * 1024)) /dev/urandom >"$work/big.bin"
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
for round in 1 2 3; do
  sync
  curl -s -o "$work/out/curl.bin" -w 'curl:   %{size_download} bytes in %{time_total} s = %{speed_download} B/s\n' "$url"
  rm -f "$work/out/curl.bin"
  sync
  (cd "$build/bin" && wine engine_bench.exe "$url" "Z:${work//\//\\}\\out" engine.bin)
  cmp -s "$work/big.bin" "$work/out/engine.bin" || echo "engine file differs"
  rm -f "$work/out/engine.bin"
done
