"""The content refresh and its registry record, on the real program."""
import os
import time
import unittest

from harness import (E2ETest, MANIFEST_PATH, REG_KEY, manifest, read_bytes, reg, reg_query, swf_bytes,
                     write_bytes)
from standin_server import Route

ANNOUNCED = "2013-01-05|10:00:00"


class ContentTest(E2ETest):
    def serve_content(self, swf_date=ANNOUNCED, version="1.1.0.12181", content=None, with_url=True, **route):
        swf_url = self.server.url("/m.swf") if with_url else None
        self.new_swf = swf_bytes(b"fresh")
        self.serve({MANIFEST_PATH: Route(manifest(version=version, url=self.server.url("/setup.exe"),
                                                  swf_url=swf_url, swf_date=swf_date)),
                    "/m.swf": content or Route(self.new_swf, **route)})

    def old_content(self, stamp=None):
        write_bytes(self.case.path("mnMain.swf"), b"FWS old content")
        if stamp is not None:
            reg("add", REG_KEY, "/v", "swfUpdateTime", "/t", "REG_SZ", "/d", stamp, "/f")

    def assert_refreshed(self):
        self.assertEqual([MANIFEST_PATH, "/m.swf"], self.server.paths())
        self.assertEqual(self.new_swf, read_bytes(self.case.path("mnMain.swf")))
        self.assertEqual(("REG_DWORD", "0x1"), reg_query("swfUpdate"))
        kind, stamp = reg_query("swfUpdateTime")
        self.assertEqual("REG_SZ", kind)
        recorded = time.mktime(time.strptime(stamp, "%Y-%m-%d|%H:%M:%S"))
        self.assertLess(abs(recorded - time.time()), 10, stamp)
        self.assertEqual([], [n for n in os.listdir(self.case.work) if n.endswith(".part")])

    def assert_untouched(self, old=b"FWS old content", stamp=None):
        self.assertEqual(old, read_bytes(self.case.path("mnMain.swf")))
        self.assertIsNone(reg_query("swfUpdate"))
        self.assertEqual(stamp, reg_query("swfUpdateTime"))
        self.assertEqual([], [n for n in os.listdir(self.case.work) if n.endswith(".part")])

    def test_missing_file_is_fetched_and_recorded(self):
        self.serve_content()
        self.assertEqual(0, self.case.run())
        self.assert_refreshed()

    def test_older_stamp_refreshes(self):
        self.old_content("2013-01-04|09:00:00")
        self.serve_content()
        self.assertEqual(0, self.case.run())
        self.assert_refreshed()

    def test_equal_stamp_does_not_refresh(self):
        self.old_content(ANNOUNCED)
        self.serve_content()
        self.assertEqual(0, self.case.run())
        self.assertEqual([MANIFEST_PATH], self.server.paths())
        self.assert_untouched(stamp=("REG_SZ", ANNOUNCED))

    def test_missing_stamp_refreshes(self):
        self.old_content()
        self.serve_content()
        self.assertEqual(0, self.case.run())
        self.assert_refreshed()

    def test_stamp_of_the_wrong_type_refreshes(self):
        self.old_content()
        reg("add", REG_KEY, "/v", "swfUpdateTime", "/t", "REG_DWORD", "/d", "7", "/f")
        self.serve_content()
        self.assertEqual(0, self.case.run())
        self.assert_refreshed()

    def test_no_content_url_no_request(self):
        self.serve_content(with_url=False)
        self.assertEqual(0, self.case.run())
        self.assertEqual([MANIFEST_PATH], self.server.paths())
        self.assertFalse(os.path.exists(self.case.path("mnMain.swf")))
        self.assertIsNone(reg_query("swfUpdate"))

    def test_error_page_keeps_old_content(self):
        self.old_content("2013-01-04|09:00:00")
        self.serve_content(content=Route(b"<html>404 Not Found</html>", status=404))
        self.assertEqual(0, self.case.run())
        self.assertEqual([MANIFEST_PATH, "/m.swf"], self.server.paths())
        self.assert_untouched(stamp=("REG_SZ", "2013-01-04|09:00:00"))

    def test_unreachable_content_keeps_old_content(self):
        self.old_content("2013-01-04|09:00:00")
        self.serve({MANIFEST_PATH: Route(manifest(version="1.1.0.12181", url="http://127.0.0.1:9/setup.exe",
                                                  swf_url="http://127.0.0.1:9/m.swf", swf_date=ANNOUNCED))})
        self.assertEqual(0, self.case.run())
        self.assert_untouched(stamp=("REG_SZ", "2013-01-04|09:00:00"))

    def test_cut_transfer_keeps_old_content(self):
        self.old_content("2013-01-04|09:00:00")
        self.serve_content(close_after=100)
        self.assertEqual(0, self.case.run())
        self.assert_untouched(stamp=("REG_SZ", "2013-01-04|09:00:00"))

    def test_refresh_comes_before_the_prompt(self):
        self.serve_content(version="1.1.0.12182")
        self.case.start()
        self.case.answer_prompt("n")
        self.assertEqual(0, self.case.finish())
        self.assert_refreshed()
        self.assertLess(self.server.requests[1]["time"], self.case.prompt_seen)


if __name__ == "__main__":
    unittest.main()
