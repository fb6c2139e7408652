#!/usr/bin/env python3
"""The local catalogue server: serves the catalogue made by make_catalogue.py
on 127.0.0.1 only, for a bounded time.

  catalogue_server.py --catalogue DIR [--port N] [--port-fallback] [--port-file F]
                      [--pid-file F] [--lifetime SECONDS] [--sim-root DIR]
                      [--routes FILE] [--log FILE]

Addresses (every one also under a scope prefix, /<scope>/..., where scope is
the name of a prepared scenario folder under --sim-root):
  /kavetta.ini          the configuration, "{base}" replaced by this server's
                        address and scope (http://127.0.0.1:PORT[/scope])
  /files/NAME           a catalogue file (first mirror)
  /mirror2/NAME         the same file (second mirror)
  /lk/ID                a share page of the local share service
  /share/downloadfile   the share service's form POST: JSON {"data": {"downloadurl": ...}}
  /home, /help          small pages (the configuration's link targets)

Behaviours, read afresh for every request from the routes file of the scope
(SIM_ROOT/<scope>/routes.json) or, without a scope, from --routes:
  {"mode": "normal" | "noconfig",          noconfig: /kavetta.ini answers 404
   "paths": {"/files/NAME": {"behaviour": B, "afterBytes": n, "bytesPerSecond": n}},
   "shares": {"ID": {"target": "/files/NAME"} | {"fail": true}}}
with B one of:
  "missing"  404
  "dead"     the connection is closed before any answer (a dead mirror)
  "corrupt"  the right length, wrong bytes (a corrupt mirror)
  "drop"     afterBytes bytes, then the connection is closed
  "stall"    afterBytes bytes, then nothing until the client gives up or the server stops
  "slow"     bytesPerSecond (default 256 KiB/s)
Byte ranges ("Range: bytes=A-" and "A-B") are honoured, so downloads resume.
Every request is appended to --log as one line.
"""
import argparse
import json
import os
import re
import signal
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

TOP = {"kavetta.ini", "files", "mirror2", "lk", "share", "home", "help"}
STOP = threading.Event()


def log_line(server, text):
    log = server.options.log
    if log:
        with server.log_lock, open(log, "a", encoding="utf-8") as f:
            f.write("%s %s\n" % (time.strftime("%H:%M:%S"), text))


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "KavettaCatalogue/1"

    def log_message(self, fmt, *args):
        log_line(self.server, fmt % args)

    # ---- what the request names

    def split(self):
        path = self.path.split("?", 1)[0]
        parts = [p for p in path.split("/") if p]
        scope = None
        if parts and parts[0] not in TOP:
            scope, parts = parts[0], parts[1:]
            if not re.fullmatch(r"[A-Za-z0-9_.-]+", scope) or scope.startswith("."):
                return None, None
        return scope, "/" + "/".join(parts)

    def routes(self, scope):
        o = self.server.options
        if scope:
            if not o.sim_root:
                return None
            path = os.path.join(o.sim_root, scope, "routes.json")
            if not os.path.isfile(path):
                return None  # an unknown scope
        else:
            path = o.routes
        if not path or not os.path.isfile(path):
            return {}
        try:
            with open(path, encoding="utf-8") as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}

    def base(self, scope):
        port = self.server.server_address[1]
        return "http://127.0.0.1:%d%s" % (port, "/" + scope if scope else "")

    # ---- answers

    def answer(self, status, body=b"", kind="text/plain; charset=utf-8", head=False):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if not head:
            self.wfile.write(body)

    def do_HEAD(self):
        self.do_GET(head=True)

    def do_GET(self, head=False):
        scope, path = self.split()
        routes = self.routes(scope) if path is not None else None
        if routes is None:
            return self.answer(404, b"no such scenario\n", head=head)
        catalogue = self.server.options.catalogue
        if path == "/kavetta.ini":
            if routes.get("mode") == "noconfig":
                return self.answer(404, b"no configuration here\n", head=head)
            with open(os.path.join(catalogue, "kavetta.ini"), encoding="utf-8", newline="") as f:
                text = f.read().replace("{base}", self.base(scope))
            return self.answer(200, text.encode("utf-8"), "text/plain; charset=utf-8", head)
        m = re.fullmatch(r"/(files|mirror2)/([A-Za-z0-9_.-]+)", path)
        if m:
            return self.send_file(m.group(2), routes.get("paths", {}).get(path, {}), head)
        m = re.fullmatch(r"/lk/([A-Za-z0-9_]+)", path)
        if m:
            return self.share_page(m.group(1), head)
        if path in ("/home", "/help"):
            body = ("<html><body>Kavetta %s</body></html>" % path[1:]).encode()
            return self.answer(200, body, "text/html; charset=utf-8", head)
        return self.answer(404, b"not found\n", head=head)

    def do_POST(self):
        scope, path = self.split()
        routes = self.routes(scope) if path is not None else None
        length = int(self.headers.get("Content-Length") or 0)
        form = self.rfile.read(min(length, 65536)).decode("utf-8", "replace") if length else ""
        if routes is None or path != "/share/downloadfile":
            return self.answer(404, b"not found\n")
        fields = dict(p.split("=", 1) for p in form.split("&") if "=" in p)
        share = fields.get("shorturl", "")
        token_ok = fields.get("download_permit_token") == "permit-" + share and fields.get("nid") == "nid-" + share
        entry = self.share_entry(routes, share)
        if not token_ok or entry is None or entry.get("fail"):
            return self.answer(200, json.dumps({"errno": 2, "data": {}}).encode(), "application/json")
        url = self.base(scope) + entry["target"]
        self.answer(200, json.dumps({"errno": 0, "data": {"downloadurl": url}}).encode(), "application/json")

    def share_entry(self, routes, share):
        entry = routes.get("shares", {}).get(share)
        if entry is None:
            target = self.server.manifest.get("shares", {}).get(share)
            entry = {"target": "/files/" + target} if target else None
        return entry

    def share_page(self, share, head):
        body = ("<html><script>\nvar yunData = { surl : '%s', download_permit_token: '%s' };\n"
                "var meta = {\"nid\": \"%s\"};\n</script></html>\n" % (share, "permit-" + share, "nid-" + share))
        self.answer(200, body.encode(), "text/html; charset=utf-8", head)

    def send_file(self, name, route, head):
        path = os.path.join(self.server.options.catalogue, "files", name)
        behaviour = route.get("behaviour", "normal")
        if behaviour == "missing" or not os.path.isfile(path):
            return self.answer(404, b"not found\n", head=head)
        if behaviour == "dead":
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        size = os.path.getsize(path)
        start, end = 0, size - 1
        rng = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", "").strip())
        if rng:
            start = int(rng.group(1))
            if rng.group(2):
                end = min(int(rng.group(2)), size - 1)
            if start >= size or start > end:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            self.send_response(206)
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        else:
            self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(end - start + 1))
        self.send_header("Accept-Ranges", "bytes")
        self.end_headers()
        if head:
            return
        limit = route.get("afterBytes", 0) if behaviour in ("drop", "stall") else None
        rate = route.get("bytesPerSecond", 256 * 1024) if behaviour == "slow" else None
        sent = 0
        with open(path, "rb") as f:
            f.seek(start)
            left = end - start + 1
            while left > 0 and not STOP.is_set():
                chunk = 65536 if rate is None else max(1, min(65536, rate // 10))
                if limit is not None:
                    chunk = min(chunk, limit - sent)
                    if chunk <= 0:
                        break
                data = f.read(min(chunk, left))
                if not data:
                    break
                if behaviour == "corrupt":
                    data = bytes(b ^ 0x5A for b in data)
                try:
                    self.wfile.write(data)
                except OSError:
                    return
                sent += len(data)
                left -= len(data)
                if rate is not None:
                    time.sleep(len(data) / rate)
        if behaviour == "stall" and left > 0:
            self.wfile.flush()
            STOP.wait(self.server.options.lifetime)
        if left > 0:
            self.close_connection = True


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--catalogue", required=True)
    parser.add_argument("--port", type=int, default=18080)
    parser.add_argument("--port-fallback", action="store_true", help="take any free port when PORT is taken")
    parser.add_argument("--port-file")
    parser.add_argument("--pid-file")
    parser.add_argument("--lifetime", type=float, default=900.0, help="seconds until the server stops by itself")
    parser.add_argument("--sim-root")
    parser.add_argument("--routes")
    parser.add_argument("--log")
    o = parser.parse_args()
    o.catalogue = os.path.abspath(o.catalogue)
    try:
        server = Server(("127.0.0.1", o.port), Handler)
    except OSError:
        if not o.port_fallback:
            raise
        server = Server(("127.0.0.1", 0), Handler)
    server.options = o
    server.log_lock = threading.Lock()
    try:
        with open(os.path.join(o.catalogue, "manifest.json"), encoding="utf-8") as f:
            server.manifest = json.load(f)
    except (OSError, ValueError):
        server.manifest = {}
    port = server.server_address[1]
    for path, text in ((o.pid_file, str(os.getpid())), (o.port_file, str(port))):
        if path:
            with open(path + ".part", "w") as f:
                f.write(text + "\n")
            os.replace(path + ".part", path)
    signal.signal(signal.SIGTERM, lambda *_: STOP.set())
    signal.signal(signal.SIGINT, lambda *_: STOP.set())
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    print("serving %s on http://127.0.0.1:%d for at most %d s" % (o.catalogue, port, o.lifetime), flush=True)
    if not STOP.wait(o.lifetime):
        print("stopping: the lifetime of %d s ran out" % o.lifetime, flush=True)
        log_line(server, "stopping: the lifetime of %d s ran out" % o.lifetime)
    STOP.set()
    server.shutdown()
    server.server_close()
    if o.pid_file:
        try:
            os.remove(o.pid_file)
        except OSError:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
