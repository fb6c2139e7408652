#!/usr/bin/env python3
"""Tests of the local catalogue server and the catalogue it serves.

  catalogue_server_test.py CATALOGUE_DIR
"""
import hashlib
import http.client
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
CATALOGUE = None


# How long a test waits on the server: to start, to answer, to stop.
# Generous: the machine running the tests may be busy.
WAIT_SECONDS = 120


def start(root, lifetime=600):
    port_file = os.path.join(root, "port")
    process = subprocess.Popen([sys.executable, os.path.join(HERE, "catalogue_server.py"), "--catalogue", CATALOGUE,
                                "--port", "0", "--port-file", port_file, "--lifetime", str(lifetime),
                                "--sim-root", root, "--log", os.path.join(root, "log")],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    waited = time.monotonic()
    while time.monotonic() - waited < WAIT_SECONDS:
        if os.path.exists(port_file):
            with open(port_file) as f:
                return process, int(f.read())
        if process.poll() is not None:
            raise RuntimeError("the server ended with status %d before it wrote its port" % process.returncode)
        time.sleep(0.05)
    process.kill()
    raise RuntimeError("waited %d s for the server to write its port file, and it did not" % WAIT_SECONDS)


def scope(root, name, routes):
    os.makedirs(os.path.join(root, name), exist_ok=True)
    with open(os.path.join(root, name, "routes.json"), "w") as f:
        json.dump(routes, f)


class CatalogueServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.TemporaryDirectory()
        cls.root = cls.temp.name
        with open(os.path.join(CATALOGUE, "manifest.json")) as f:
            cls.manifest = json.load(f)["files"]
        scope(cls.root, "plain", {})
        scope(cls.root, "noconfig", {"mode": "noconfig"})
        scope(cls.root, "broken", {"paths": {
            "/files/win10_pro_x64.iso": {"behaviour": "corrupt"},
            "/files/kvt10pe.wim": {"behaviour": "missing"},
            "/files/kvttool.bin": {"behaviour": "drop", "afterBytes": 1000},
            "/files/win7_ult_x64.iso": {"behaviour": "dead"},
            "/files/kvt7pe.wim": {"behaviour": "stall", "afterBytes": 10}},
            "shares": {"gone": {"fail": True}}})
        cls.process, cls.port = start(cls.root)

    @classmethod
    def tearDownClass(cls):
        cls.process.terminate()
        cls.process.wait(WAIT_SECONDS)
        cls.temp.cleanup()

    def get(self, path, headers=None, timeout=WAIT_SECONDS):
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (self.port, path), headers=headers or {})
        try:
            with urllib.request.urlopen(request, timeout=timeout) as r:
                return r.status, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.read()

    def test_configuration_names_this_server_and_scope(self):
        status, body = self.get("/plain/kavetta.ini")
        self.assertEqual(200, status)
        text = body.decode("utf-8")
        self.assertTrue(text.startswith(";KAVETTA-CATALOGUE\r\n"))
        self.assertIn("url1=http://127.0.0.1:%d/plain/files/win10_pro_x64.iso" % self.port, text)
        self.assertNotIn("{base}", text)
        # Every digest in the configuration is the digest of the file it names.
        for section in re.split(r"\r\n(?=\[)", text):
            file = re.search(r"^url1=\S+/files/(\S+)$", section, re.M)
            digest = re.search(r"^md5=(\S+)$", section, re.M)
            if file and digest:
                self.assertEqual(self.manifest[file.group(1)]["md5"], digest.group(1), section[:40])

    def test_noconfig_scope_and_unknown_scope_answer_404(self):
        self.assertEqual(404, self.get("/noconfig/kavetta.ini")[0])
        self.assertEqual(404, self.get("/nosuchscenario/kavetta.ini")[0])
        self.assertEqual(200, self.get("/noconfig/files/kvttool.bin")[0])

    def test_files_are_whole_and_at_least_5_mib_on_the_download_road(self):
        for name in ("win10_pro_x64.iso", "kvt10pe.wim", "drivers_pack.zip", "kvttool.bin", "rec_win10x64.esd"):
            status, body = self.get("/plain/files/" + name)
            self.assertEqual(200, status)
            self.assertGreaterEqual(len(body), 5 * 1024 * 1024, name)
            self.assertEqual(self.manifest[name]["md5"], hashlib.md5(body).hexdigest().upper(), name)
        status, body = self.get("/plain/mirror2/kvttool.bin")
        self.assertEqual(self.manifest["kvttool.bin"]["md5"], hashlib.md5(body).hexdigest().upper())

    def test_ranges_resume(self):
        _, whole = self.get("/plain/files/kvttool.bin")
        status, part = self.get("/plain/files/kvttool.bin", {"Range": "bytes=1000-"})
        self.assertEqual(206, status)
        self.assertEqual(whole[1000:], part)
        status, part = self.get("/plain/files/kvttool.bin", {"Range": "bytes=10-19"})
        self.assertEqual((206, whole[10:20]), (status, part))
        self.assertEqual(416, self.get("/plain/files/kvttool.bin", {"Range": "bytes=%d-" % len(whole)})[0])

    def test_broken_mirrors(self):
        status, body = self.get("/broken/files/win10_pro_x64.iso")
        self.assertEqual(200, status)
        self.assertEqual(self.manifest["win10_pro_x64.iso"]["size"], len(body))
        self.assertNotEqual(self.manifest["win10_pro_x64.iso"]["md5"], hashlib.md5(body).hexdigest().upper())
        self.assertEqual(404, self.get("/broken/files/kvt10pe.wim")[0])
        # The second mirror of a broken first one is whole.
        _, body = self.get("/broken/mirror2/win10_pro_x64.iso")
        self.assertEqual(self.manifest["win10_pro_x64.iso"]["md5"], hashlib.md5(body).hexdigest().upper())
        with self.assertRaises((http.client.IncompleteRead, ConnectionError)):
            self.get("/broken/files/kvttool.bin")
        with self.assertRaises((urllib.error.URLError, ConnectionError, http.client.RemoteDisconnected)):
            self.get("/broken/files/win7_ult_x64.iso")
        with self.assertRaises((socket.timeout, TimeoutError, urllib.error.URLError)):
            self.get("/broken/files/kvt7pe.wim", timeout=1.5)

    def test_share_service_resolves_like_the_real_one(self):
        status, page = self.get("/plain/lk/win10share")
        self.assertEqual(200, status)
        page = page.decode()
        surl = re.search(r"surl : '([^']+)'", page).group(1)
        permit = re.search(r"download_permit_token: '([^']+)'", page).group(1)
        nid = re.search(r'"nid": "([^"]+)"', page).group(1)
        form = "shorturl=%s&nid=%s&download_permit_token=%s" % (surl, nid, permit)
        request = urllib.request.Request("http://127.0.0.1:%d/plain/share/downloadfile" % self.port,
                                         data=form.encode(), method="POST")
        with urllib.request.urlopen(request, timeout=WAIT_SECONDS) as r:
            reply = json.load(r)
        self.assertEqual("http://127.0.0.1:%d/plain/files/win10_pro_x64.iso" % self.port, reply["data"]["downloadurl"])
        request = urllib.request.Request("http://127.0.0.1:%d/broken/share/downloadfile" % self.port,
                                         data=b"shorturl=gone&nid=nid-gone&download_permit_token=permit-gone")
        with urllib.request.urlopen(request, timeout=WAIT_SECONDS) as r:
            self.assertNotIn("downloadurl", json.load(r)["data"])

    def test_listens_on_loopback_only(self):
        with open("/proc/net/tcp") as f:
            lines = f.read().splitlines()[1:]
        listening = [l.split()[1] for l in lines if l.split()[3] == "0A"]
        ours = [a for a in listening if int(a.split(":")[1], 16) == self.port]
        self.assertEqual(["0100007F:%04X" % self.port], ours)

    def test_stops_by_itself(self):
        with tempfile.TemporaryDirectory() as root:
            process, _ = start(root, lifetime=1)
            try:
                self.assertEqual(0, process.wait(WAIT_SECONDS))
            finally:
                if process.poll() is None:
                    process.kill()


if __name__ == "__main__":
    CATALOGUE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
