"""The build under test against a real web server: nginx (our own unprivileged
instance, `nginx -p DIR -c FILE`) serving a tree laid out by `updater-manifest
make`. Each case also asks `updater-manifest check` for its verdict and holds
it against what Updater.exe did."""
import http.client
import os
import signal
import subprocess
import time
import unittest

import harness
from harness import PROMPT_CAPTION, Case, installer_bytes, read_bytes, reg, swf_bytes, write_bytes

TOOL = os.environ.get("UPDATER_MANIFEST", os.path.join(harness.ROOT, "build", "native", "publisher",
                                                       "updater-manifest"))
ORIGIN = "http://127.0.0.1:%d" % harness.PORT
CONFIG = """user root;
daemon off;
pid {dir}/nginx.pid;
error_log {dir}/error.log;
events {{ worker_connections 64; }}
http {{
  access_log {dir}/access.log;
  client_body_temp_path {dir}/tmp; proxy_temp_path {dir}/tmp; fastcgi_temp_path {dir}/tmp;
  uwsgi_temp_path {dir}/tmp; scgi_temp_path {dir}/tmp;
  types {{ text/xml xml; application/octet-stream exe swf; }}
  server {{
    listen 127.0.0.1:{port};
    root {tree};
    location = /api/pellixupdatecfg.xml {{
      add_header Cache-Control "no-cache, max-age=0";
      {manifest_options}
    }}
  }}
}}
"""
# A sub_filter touches the body, so nginx sends it chunked, with no Content-Length.
CHUNKED = "sub_filter '<update>' '<update>'; sub_filter_types text/xml; sub_filter_once on;"


class RealServerTest(unittest.TestCase):
    def setUp(self):
        reg("delete", r"HKCU\Software\TarvelonMM", "/f")
        self.case = Case(variant="signed" if "signed" in self._testMethodName else "test")
        self.addCleanup(self.case.cleanup)
        self.dir = os.path.join(self.case.root, "nginx")
        self.tree = os.path.join(self.dir, "tree")
        os.makedirs(os.path.join(self.dir, "tmp"))

    def make_tree(self, version, installer=True, sign=False):
        swf = os.path.join(self.dir, "content.swf")
        write_bytes(swf, swf_bytes(b"served"))
        args = [TOOL, "make", "--version", version, "--installer-url", ORIGIN + "/download/setup.exe",
                "--content", swf, "--content-url", ORIGIN + "/content/mnMain.swf", "--out", self.tree]
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
        config = os.path.join(self.dir, "nginx.conf")
        with open(config, "w") as f:
            f.write(CONFIG.format(dir=self.dir, port=harness.PORT, tree=self.tree, manifest_options=manifest_options))
        proc = subprocess.Popen(["nginx", "-p", self.dir, "-c", config], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(self.stop_nginx, proc)
        deadline = time.time() + 10
        while not os.path.exists(os.path.join(self.dir, "nginx.pid")) and time.time() < deadline:
            time.sleep(0.05)

    def stop_nginx(self, proc):
        with open(os.path.join(self.dir, "nginx.pid")) as f:
            os.kill(int(f.read()), signal.SIGQUIT)
        proc.wait(timeout=10)

    def requested(self):
        with open(os.path.join(self.dir, "access.log")) as f:
            return [line.split('"')[1].split()[1] for line in f if '"GET ' in line]

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

    def test_installer_missing(self):
        manifest = self.make_tree("1.1.0.12182", installer=False)
        self.start_nginx()
        self.assertTrue(self.verdict(manifest))
        self.run_and_answer(offered=True)
        time.sleep(1.5)  # a start would have shown by now
        self.assertEqual([], self.case.installer_runs())
        self.assertTrue(self.case.host_running())
        self.assertFalse(os.path.exists(self.case.path("setup.exe")))
        self.assertIn("not an executable", read_bytes(self.case.path("update.log")).decode())


if __name__ == "__main__":
    unittest.main()
