"""Behind a proxy: the shipped product (its server host never resolves here)
takes the system's proxy when the direct way gets no answer."""
import os
import signal
import subprocess
import unittest

import harness
from harness import E2ETest, MANIFEST_PATH, SHIPPED_HOST, installer_bytes, manifest, read_bytes, reg, swf_bytes
from standin_server import Route

SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
TINYPROXY_PORT = harness.PORT + 2


def use_system_proxy(test, address):
    """The system's proxy is ADDRESS until TEST ends."""
    reg("add", SETTINGS, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1", "/f")
    reg("add", SETTINGS, "/v", "ProxyServer", "/t", "REG_SZ", "/d", address, "/f")
    test.addCleanup(reg, "add", SETTINGS, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "0", "/f")
    test.addCleanup(reg, "delete", SETTINGS, "/v", "ProxyServer", "/f")


def start_tinyproxy(test, folder, settings):
    """tinyproxy on TINYPROXY_PORT until TEST ends, with SETTINGS (lines) added;
    the path of its log."""
    os.makedirs(folder)
    config = os.path.join(folder, "tinyproxy.conf")
    with open(config, "w") as f:
        f.write("Port %d\nListen 127.0.0.1\nTimeout 30\nMaxClients 10\nPidFile \"%s/tinyproxy.pid\"\n"
                "LogFile \"%s/tinyproxy.log\"\nLogLevel Info\nAllow 127.0.0.1\n%s\n"
                % (TINYPROXY_PORT, folder, folder, "\n".join(settings)))
    proxy = subprocess.Popen(["tinyproxy", "-d", "-c", config], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, start_new_session=True)
    test.addCleanup(lambda: (proxy.send_signal(signal.SIGTERM), proxy.wait(10)))
    test.case.wait_for(lambda: os.path.exists(os.path.join(folder, "tinyproxy.pid")), 10, "tinyproxy")
    use_system_proxy(test, "127.0.0.1:%d" % TINYPROXY_PORT)
    return os.path.join(folder, "tinyproxy.log")


class ProxyTest(E2ETest):
    def case_options(self):
        return {"variant": "shipped"}

    def offer_through_proxy(self):
        origin = "http://" + SHIPPED_HOST
        self.new_swf = swf_bytes(b"fresh")
        self.serve({MANIFEST_PATH: Route(manifest(url=origin + "/setup.exe", swf_url=origin + "/m.swf",
                                                  swf_date="2013-01-05|10:00:00")),
                    "/m.swf": Route(self.new_swf), "/setup.exe": Route(installer_bytes())})

    def check_full_upgrade(self):
        self.offer_through_proxy()
        self.case.start_host()
        self.case.start()
        self.case.answer_prompt("y")
        self.assertEqual(0, self.case.finish())
        self.case.wait_for(self.case.installer_runs, 30, "the installer to run")
        self.assertEqual(self.new_swf, read_bytes(self.case.path("mnMain.swf")))
        self.assertEqual([MANIFEST_PATH, "/m.swf", "/setup.exe"], self.server.paths())
        self.assertTrue(all(r["proxied"] for r in self.server.requests))
        return self.assert_logged("manifest: direct: no answer from http://%s/" % SHIPPED_HOST,
                                  "manifest: trying the system's proxy settings", "manifest: HTTP 200")

    def test_no_proxy_ends_quietly(self):
        self.offer_through_proxy()
        self.assertEqual(0, self.case.run())
        self.assertEqual([], self.server.paths())
        self.assertNotIn("proxy", self.assert_logged("manifest: direct: no answer"))
        print("a run whose direct attempt finds no server took %.2f s (Wine start-up included)" % self.case.elapsed)

    def test_through_the_system_proxy(self):
        use_system_proxy(self, "127.0.0.1:%d" % harness.PORT)  # the stand-in server answers as a proxy too
        log = self.check_full_upgrade()
        print("direct attempt: " + [l for l in log.splitlines() if "direct: no answer" in l][0])

    def test_through_tinyproxy(self):
        # tinyproxy knows no .invalid host: it hands those to the stand-in server as its upstream.
        log = start_tinyproxy(self, os.path.join(self.case.root, "tinyproxy"),
                              ['Upstream http 127.0.0.1:%d ".invalid"' % harness.PORT])
        self.check_full_upgrade()
        with open(log, errors="replace") as f:
            self.assertIn(SHIPPED_HOST, f.read())


if __name__ == "__main__":
    unittest.main()
