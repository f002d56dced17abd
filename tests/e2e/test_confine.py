"""What a manifest can reach: web addresses only, and nothing from the cache.
Each case keeps the old content and its record, or starts nothing."""
import os
import shutil
import time
import unittest

import harness
from harness import (E2ETest, MANIFEST_PATH, REG_KEY, installer_bytes, manifest, read_bytes, reg, reg_query, swf_bytes,
                     win_path, write_bytes)
from standin_server import Route

OLD = b"FWS old content"
OLD_STAMP = "2013-01-04|09:00:00"
UNC_HOST, UNC_SHARE = "filehost", "share"


class ConfineTest(E2ETest):
    def setUp(self):
        super().setUp()
        write_bytes(self.case.path("mnMain.swf"), OLD)
        reg("add", REG_KEY, "/v", "swfUpdateTime", "/t", "REG_SZ", "/d", OLD_STAMP, "/f")
        # A local file and one on a "share" (Wine maps \\host\share to dosdevices/unc/host/share).
        self.local = os.path.join(self.case.root, "local")
        write_bytes(os.path.join(self.local, "secret.swf"), swf_bytes(b"secret"))
        write_bytes(os.path.join(self.local, "tool.exe"), installer_bytes())
        self.unc = os.path.join(harness.STATE, "prefix", "dosdevices", "unc", UNC_HOST, UNC_SHARE)
        write_bytes(os.path.join(self.unc, "secret.swf"), swf_bytes(b"secret"))
        write_bytes(os.path.join(self.unc, "tool.exe"), installer_bytes())
        self.addCleanup(shutil.rmtree, os.path.join(harness.STATE, "prefix", "dosdevices", "unc"), True)

    def local_url(self, name):
        return "file:///" + win_path(os.path.join(self.local, name)).replace("\\", "/")

    def assert_content_kept(self):
        self.assertEqual(OLD, read_bytes(self.case.path("mnMain.swf")))
        self.assertEqual(("REG_SZ", OLD_STAMP), reg_query("swfUpdateTime"))
        self.assertIsNone(reg_query("swfUpdate"))
        self.assertEqual(["mnMain.swf", "update.log"], sorted(os.listdir(self.case.work)))

    def test_content_addresses_off_the_web(self):
        addresses = {
            "file: URL": self.local_url("secret.swf"),
            "drive path": win_path(os.path.join(self.local, "secret.swf")),
            "UNC path": "\\\\%s\\%s\\secret.swf" % (UNC_HOST, UNC_SHARE),
            "file://host/share": "file://%s/%s/secret.swf" % (UNC_HOST, UNC_SHARE),
        }
        for name, address in addresses.items():
            with self.subTest(name):
                self.serve({MANIFEST_PATH: Route(manifest(version="1.1.0.12181", url=self.server.url("/setup.exe"),
                                                          swf_url=address, swf_date="~"))})
                self.assertEqual(0, self.case.run())
                self.assertEqual([MANIFEST_PATH], self.server.paths())
                self.assert_content_kept()

    def test_installer_addresses_off_the_web(self):
        addresses = {
            "file: URL": self.local_url("tool.exe"),
            "UNC path": "\\\\%s\\%s\\tool.exe" % (UNC_HOST, UNC_SHARE),
        }
        self.case.start_host()
        for name, address in addresses.items():
            with self.subTest(name):
                self.serve({MANIFEST_PATH: Route(manifest(url=address, flag="force"))})
                self.assertEqual(0, self.case.run())  # nothing offered: no prompt to answer
                time.sleep(1.5)  # a start would have shown by now
                self.assertEqual([], self.case.installer_runs())
                self.assertFalse(os.path.exists(self.case.path("setup.exe")))
                self.assertNotIn("WM_CLOSE", self.case.host_events())

    def test_downloads_neither_read_nor_fill_the_cache(self):
        # Served with a day's lifetime, yet every due refresh asks the server again.
        self.serve({MANIFEST_PATH: Route(manifest(version="1.1.0.12181", url=self.server.url("/setup.exe"),
                                                  swf_url=self.server.url("/m.swf"), swf_date="~"),
                                         headers={"Cache-Control": "max-age=86400, public"}),
                    "/m.swf": Route(swf_bytes(), headers={"Cache-Control": "max-age=86400, public"})})
        cache = os.path.join(harness.STATE, "prefix", "drive_c", "users")
        started = time.time() - 1
        for _ in range(2):
            self.assertEqual(0, self.case.run())
        self.assertEqual([MANIFEST_PATH, "/m.swf"] * 2, self.server.paths())
        # Wine keeps copies as "m[N]" and "pellixupdatecfg[N]" under INetCache; none is left.
        left = [f for folder, _, files in os.walk(cache) if "INetCache" in folder for f in files
                if f.startswith(("m[", "pellixupdatecfg[")) and os.path.getmtime(os.path.join(folder, f)) > started]
        self.assertEqual([], left)


if __name__ == "__main__":
    unittest.main()
