"""The https build against nginx serving TLS from the configuration in
docs/serving.md, with a throw-away CA that the system (and so Wine) trusts for
the length of this suite."""
import os
import select
import shutil
import socket
import socketserver
import subprocess
import tempfile
import threading
import unittest

import harness
import served
from harness import Case, installer_bytes, read_bytes, reg, swf_bytes, write_bytes
from test_proxy import start_tinyproxy
from test_real_server import TOOL

HTTPS_PORT = served.https_port()
ORIGIN = "https://localhost:%d" % HTTPS_PORT
MANIFEST_URL = ORIGIN + harness.MANIFEST_PATH


class Tunnel(socketserver.ThreadingTCPServer):
    """An upstream proxy that answers any CONNECT with a tunnel to one port."""
    daemon_threads = allow_reuse_address = True

    def __init__(self, target):
        self.target = target
        super().__init__(("127.0.0.1", 0), TunnelHandler)
        threading.Thread(target=self.serve_forever, daemon=True).start()


class TunnelHandler(socketserver.BaseRequestHandler):
    def handle(self):
        head = b""
        while b"\r\n\r\n" not in head:
            piece = self.request.recv(4096)
            if not piece:
                return
            head += piece
        with socket.create_connection(("127.0.0.1", self.server.target), timeout=30) as far:
            self.request.sendall(b"HTTP/1.0 200 Connection established\r\n\r\n")
            ends = [self.request, far]
            while True:
                ready, _, _ = select.select(ends, [], [], 30)
                for end in ready:
                    data = end.recv(65536)
                    if not data:
                        return
                    (far if end is self.request else self.request).sendall(data)
                if not ready:
                    return


class TlsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        folder = tempfile.mkdtemp(dir=harness.STATE)
        ca = served.make_ca(folder, "ca")
        stranger = served.make_ca(os.path.join(folder, "stranger"), "stranger")
        cls.certs = {
            "good": served.make_server_cert(ca, "good"),
            "another name": served.make_server_cert(ca, "other", host="elsewhere.localhost"),
            "expired": served.make_server_cert(ca, "expired", start="20200101000000Z", end="20200102000000Z"),
            "untrusted CA": served.make_server_cert(stranger, "stranger-leaf"),
        }
        cls.untrust = served.trust_ca(ca)

    @classmethod
    def tearDownClass(cls):
        cls.untrust()

    def setUp(self):
        reg("delete", r"HKCU\Software\TarvelonMM", "/f")
        self.case = Case(variant="https")
        self.addCleanup(self.case.cleanup)
        self.nginx = served.Nginx(os.path.join(self.case.root, "nginx"))
        self.nginx.use_certificate(self.certs["good"])

    def make_tree(self, version, installer_url=ORIGIN + "/download/setup.exe"):
        swf = os.path.join(self.nginx.dir, "content.swf")
        write_bytes(swf, swf_bytes(b"secure"))
        manifest = os.path.join(self.nginx.site, "api", "pellixupdatecfg.xml")
        if os.path.exists(manifest):  # a tree of its own for each row: make writes fresh trees only
            os.unlink(manifest)
        subprocess.run([TOOL, "make", "--version", version, "--installer-url", installer_url, "--content", swf,
                        "--content-url", ORIGIN + "/content/mnMain.swf", "--out", self.nginx.site], check=True,
                       stdout=subprocess.DEVNULL, timeout=30)
        write_bytes(os.path.join(self.nginx.site, "download", "setup.exe"), installer_bytes())

    def log(self):
        return read_bytes(self.case.path("update.log")).decode(errors="replace")

    def run_offered(self):
        self.case.start_host()
        self.case.start()
        self.case.answer_prompt("y")
        self.assertEqual(0, self.case.finish())

    def test_full_upgrade(self):
        self.make_tree("1.1.0.12182")
        self.addCleanup(self.nginx.start())
        self.run_offered()
        self.case.wait_for(self.case.installer_runs, 30, "the installer to run")
        self.assertEqual(swf_bytes(b"secure"), read_bytes(self.case.path("mnMain.swf")))
        self.assertEqual([harness.MANIFEST_PATH, "/content/mnMain.swf", "/download/setup.exe"], self.nginx.requested())
        # The publisher's dry run goes the same way, trusting what the system trusts.
        dry = subprocess.run([TOOL, "check", "--url", ORIGIN], capture_output=True, text=True, timeout=60)
        self.assertEqual(0, dry.returncode, dry.stdout + dry.stderr)

    def test_up_to_date_refreshes_content(self):
        self.make_tree("1.1.0.12181")
        self.addCleanup(self.nginx.start())
        self.assertEqual(0, self.case.run())
        self.assertIsNone(self.case.find_window(title=harness.PROMPT_CAPTION))
        self.assertEqual(swf_bytes(b"secure"), read_bytes(self.case.path("mnMain.swf")))
        self.assertEqual([harness.MANIFEST_PATH, "/content/mnMain.swf"], self.nginx.requested())

    def test_refused_certificates(self):
        self.make_tree("1.1.0.12182")
        for name, code in (("another name", 12038), ("expired", 12037), ("untrusted CA", None)):
            with self.subTest(name):
                self.nginx.use_certificate(self.certs[name])
                with self.nginx.serving():
                    self.assertEqual(0, self.case.run())
                log = self.log()
                self.assertEqual([], self.nginx.requested())
                self.assertFalse(os.path.exists(self.case.path("mnMain.swf")))
                self.assertIn("manifest: direct: no answer from %s, error %s" % (MANIFEST_URL, code or ""), log)
                print("%s: %s" % (name, [l for l in log.splitlines() if "no answer" in l][-1].split(", ", 1)[1]))
                os.unlink(self.case.path("update.log"))

    def test_plain_http_refused(self):
        plain = "http://localhost:%d" % harness.PORT
        moved = " if ($uri = /api/pellixupdatecfg.xml) { return 302 %s/api/moved.xml; }" % plain
        for name, installer_url, extra, logged in (
                ("installer address", plain + "/download/setup.exe", "", "manifest: url refused: not an https address"),
                ("manifest redirected", ORIGIN + "/download/setup.exe", moved,
                 'manifest: redirected to "%s/api/moved.xml", not https: refused' % plain)):
            with self.subTest(name):
                self.make_tree("1.1.0.12182", installer_url=installer_url)
                shutil.copy(os.path.join(self.nginx.site, "api", "pellixupdatecfg.xml"),
                            os.path.join(self.nginx.site, "api", "moved.xml"))
                with self.nginx.serving(extra=extra):
                    self.assertEqual(0, self.case.run())
                self.assertIsNone(self.case.find_window(title=harness.PROMPT_CAPTION))
                self.assertIn(logged, self.log())
                self.assertNotIn("/download/setup.exe", self.nginx.requested())
                os.unlink(self.case.path("update.log"))

    def test_installer_redirected_to_http_refused(self):
        self.make_tree("1.1.0.12182", installer_url=ORIGIN + "/api/setup.exe")
        to_http = " if ($uri = /api/setup.exe) { return 302 http://localhost:%d/download/setup.exe; }" % harness.PORT
        self.addCleanup(self.nginx.start(extra=to_http))
        self.run_offered()
        self.assertEqual([], self.case.installer_runs())
        self.assertTrue(self.case.host_running())
        self.assertFalse(os.path.exists(self.case.path("setup.exe")))
        # The platform follows the redirect before it says so: what counts is that nothing it sent is kept.
        self.assertIn("download %s/api/setup.exe: redirected off https, ended" % ORIGIN, self.log())

    def test_through_the_system_proxy(self):
        # Nothing answers at the build's host directly; tinyproxy reaches it with CONNECT, through an upstream
        # that tunnels to where nginx listens.
        self.make_tree("1.1.0.12182")
        hidden_port = harness.PORT + 5
        self.addCleanup(self.nginx.start(tls_port=hidden_port))
        tunnel = Tunnel(hidden_port)
        self.addCleanup(tunnel.server_close)
        self.addCleanup(tunnel.shutdown)
        log = start_tinyproxy(self, os.path.join(self.case.root, "tinyproxy"),
                              ["ConnectPort %d" % HTTPS_PORT,
                               'Upstream http 127.0.0.1:%d "localhost"' % tunnel.server_address[1]])
        self.run_offered()
        self.case.wait_for(self.case.installer_runs, 30, "the installer to run")
        self.assertEqual([harness.MANIFEST_PATH, "/content/mnMain.swf", "/download/setup.exe"], self.nginx.requested())
        self.assertIn("manifest: trying the system's proxy settings", self.log())
        with open(log, errors="replace") as f:
            self.assertIn("CONNECT localhost:%d" % HTTPS_PORT, f.read())


if __name__ == "__main__":
    unittest.main()
