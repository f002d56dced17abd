"""The build under test against a real web server: nginx (our own unprivileged
instance, `nginx -p DIR -c FILE`) serving a tree laid out by `updater-manifest
make`. Each case also asks `updater-manifest check` for its verdict and holds
it against what Updater.exe did."""
import http.client
import os
import subprocess
import tempfile
import time
import unittest

import harness
import served
from harness import PROMPT_CAPTION, Case, installer_bytes, read_bytes, reg, swf_bytes, write_bytes

TOOL = os.environ.get("UPDATER_MANIFEST", os.path.join(harness.ROOT, "build", "native", "publisher",
                                                       "updater-manifest"))
ORIGIN = "http://127.0.0.1:%d" % harness.PORT
# A sub_filter touches the body, so nginx sends it chunked, with no Content-Length.
CHUNKED = " sub_filter '<update>' '<update>'; sub_filter_types text/xml; sub_filter_once on;"


class RealServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # The https server of the configuration needs a certificate to start.
        folder = tempfile.mkdtemp(dir=harness.STATE)
        cls.certificate = served.make_server_cert(served.make_ca(folder, "ca"), "server")

    def setUp(self):
        reg("delete", r"HKCU\Software\TarvelonMM", "/f")
        self.case = Case(variant="signed" if "signed" in self._testMethodName else "test")
        self.addCleanup(self.case.cleanup)
        self.nginx = served.Nginx(os.path.join(self.case.root, "nginx"))
        self.nginx.use_certificate(self.certificate)
        self.dir = self.nginx.dir
        self.tree = self.nginx.site

    def make_tree(self, version, installer=True, sign=False, report=False):
        swf = os.path.join(self.dir, "content.swf")
        write_bytes(swf, swf_bytes(b"served"))
        args = [TOOL, "make", "--version", version, "--installer-url", ORIGIN + "/download/setup.exe",
                "--content", swf, "--content-url", ORIGIN + "/content/mnMain.swf", "--out", self.tree]
        if report:
            args.append("--report")
        if sign:  # a signed release: the installer signed too, its hash in the manifest
            setup = os.path.join(self.dir, "setup.exe")
            write_bytes(setup, harness.signed(installer_bytes()))
            args += ["--installer", setup, "--sign", "--cert", os.path.join(harness.KEYS, "publisher.pem"),
                     "--key", os.path.join(harness.KEYS, "publisher.key")]
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL, timeout=30)
        if installer and not sign:
            write_bytes(os.path.join(self.tree, "download", "setup.exe"), installer_bytes())
        return os.path.join(self.tree, "api", "pellixupdatecfg.xml")

    def verdict(self, manifest):
        out = subprocess.run([TOOL, "check", manifest, "--installed", "1.1.0.12181"], capture_output=True,
                             text=True, timeout=30).stdout
        return "installed 1.1.0.12181: offered" in out

    def start_nginx(self, manifest_options=""):
        self.addCleanup(self.nginx.start(extra=manifest_options))

    def requested(self):
        return self.nginx.requested()

    def run_and_answer(self, offered):
        self.case.start_host()
        self.case.start()
        if offered:
            self.case.answer_prompt("y")
        self.assertEqual(0, self.case.finish())
        if not offered:
            self.assertIsNone(self.case.find_window(title=PROMPT_CAPTION))

    def test_full_upgrade(self):
        manifest = self.make_tree("1.1.0.12182")
        self.start_nginx()
        self.assertTrue(self.verdict(manifest))
        self.run_and_answer(offered=True)
        self.case.wait_for(self.case.installer_runs, 30, "the installer to run")
        self.assertEqual(swf_bytes(b"served"), read_bytes(self.case.path("mnMain.swf")))
        self.assertEqual(["/api/pellixupdatecfg.xml?1", "/content/mnMain.swf", "/download/setup.exe"],
                         self.requested())

    def test_up_to_date(self):
        manifest = self.make_tree("1.1.0.12181")
        self.start_nginx()
        self.assertFalse(self.verdict(manifest))
        self.run_and_answer(offered=False)
        self.assertEqual(["/api/pellixupdatecfg.xml?1", "/content/mnMain.swf"], self.requested())

    def test_chunked_manifest_without_length(self):
        manifest = self.make_tree("1.1.0.12182")
        self.start_nginx(CHUNKED)
        connection = http.client.HTTPConnection("127.0.0.1", harness.PORT, timeout=10)
        connection.request("GET", "/api/pellixupdatecfg.xml?1")
        response = connection.getresponse()
        self.assertEqual(read_bytes(manifest), response.read())
        self.assertIsNone(response.getheader("Content-Length"))
        self.assertEqual("chunked", response.getheader("Transfer-Encoding"))
        connection.close()
        self.assertTrue(self.verdict(manifest))
        self.run_and_answer(offered=True)
        self.case.wait_for(self.case.installer_runs, 30, "the installer to run")

    def test_signed_release(self):
        self.make_tree("1.1.0.12182", sign=True)
        self.start_nginx()
        self.run_and_answer(offered=True)
        self.case.wait_for(self.case.installer_runs, 30, "the installer to run")
        self.assertEqual(["/api/pellixupdatecfg.xml?1", "/api/pellixupdatecfg.xml.p7s", "/content/mnMain.swf",
                          "/download/setup.exe"], self.requested())

    def test_dry_run_against_the_served_release(self):
        self.make_tree("1.1.0.12182", sign=True)
        api = os.path.join(self.tree, "api")
        pin = ["--pin", "7fda7e8402585dc48775cb59bb38869ae3582b57fa7c714acc1ce929d11b4792"]  # keys/publisher.pem
        cases = [
            # (name, spoil the tree, served with, check options, exit status, fragment)
            # One warning: the TEST ONLY key signs the installer without a time stamp.
            ("good", None, served.MANIFEST_HEADER, pin, 0, "0 error(s), 1 warning(s)"),
            ("cached for a day", None, 'add_header Cache-Control "max-age=86400";', pin, 0,
             "warning: the manifest is served with a long cache lifetime"),
            ("signature missing", lambda: os.rename(os.path.join(api, "pellixupdatecfg.xml.p7s"),
                                                    os.path.join(self.dir, "p7s")),
             served.MANIFEST_HEADER, pin, 1, "signature refused: the server's HTTP 404 for http://"),
            ("installer differs", lambda: (os.rename(os.path.join(self.dir, "p7s"),
                                                     os.path.join(api, "pellixupdatecfg.xml.p7s")),
                                           write_bytes(os.path.join(self.tree, "download", "setup.exe"),
                                                       installer_bytes())),
             served.MANIFEST_HEADER, pin, 1, "is not the SHA-256 of"),
        ]
        for name, spoil, header, options, status, fragment in cases:
            with self.subTest(name):
                if spoil:
                    spoil()
                with self.nginx.serving(manifest_header=header):
                    out = subprocess.run([TOOL, "check", "--url", ORIGIN] + options, capture_output=True, text=True,
                                         timeout=60)
                self.assertEqual(status, out.returncode, out.stdout + out.stderr)
                self.assertIn(fragment, out.stdout)
                self.assertIn(ORIGIN + "/api/pellixupdatecfg.xml?1", self.agents())  # the updater's User-Agent

    def agents(self):
        with open(os.path.join(self.dir, "logs", "access.log")) as f:
            return [line.rsplit('"', 2)[-2] for line in f if "pellixupdatecfg.xml?1" in line]

    def test_installer_missing(self):
        manifest = self.make_tree("1.1.0.12182", installer=False)
        self.start_nginx()
        self.assertTrue(self.verdict(manifest))
        self.run_and_answer(offered=True)
        time.sleep(1.5)  # a start would have shown by now
        self.assertEqual([], self.case.installer_runs())
        self.assertTrue(self.case.host_running())
        self.assertFalse(os.path.exists(self.case.path("setup.exe")))
        self.assertIn("setup.exe: HTTP 404", read_bytes(self.case.path("update.log")).decode())

    def test_reports_reach_the_access_log(self):
        """Outcome reports through nginx as docs/serving.md configures it, read back by `updater-manifest report`."""
        self.make_tree("1.1.0.12182", report=True)
        self.start_nginx()
        self.case.start()  # 1: declined
        self.case.answer_prompt("n")
        self.assertEqual(0, self.case.finish())
        self.run_and_answer(offered=True)  # 2: accepted and started: nothing reported in that run
        self.case.wait_for(self.case.installer_runs, 30, "the installer to run")
        self.case.stop_host()
        harness.set_file_version(os.path.join(self.case.app, "Orvessa.exe"), (1, 1, 0, 12182))  # the installer's work
        self.assertEqual(0, self.case.run())  # 3: finds the new version and says so
        log = os.path.join(self.dir, "logs", "access.log")
        out = subprocess.run([TOOL, "report", log], capture_output=True, text=True, timeout=30).stdout
        print(out)
        for line in ("offered 1.1.0.12182", "  declined            1", "  updated             1",
                     "1 of 1 started installers updated (100 %)", "2 report(s)"):
            self.assertIn(line, out)


if __name__ == "__main__":
    unittest.main()
