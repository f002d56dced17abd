"""A bad line, on the real program: the installer resumed where its transfer
broke, within a run and across runs; a trusted installer that did not start
kept, and its version not offered again for a while; no cookies on downloads."""
import os
import time
import unittest

import harness
from harness import E2ETest, MANIFEST_PATH, PROMPT_CAPTION, installer_bytes, manifest, read_bytes, reg_query
from standin_server import Route

SETUP = "/setup.exe"
SIZE = 2000000
CUT = SIZE * 4 // 10
START_BACKOFF = harness.build_setting("UPDATER_START_BACKOFF_MS") / 1000
RESUME_PAUSES = sum(harness.product_limit("RESUME_PAUSE") * 2 ** i for i in range(5))  # the tries after a cut
COOKIE = "track=1; Max-Age=86400; Path=/"


class ResumeTest(E2ETest):
    def offer(self, route, content=None):
        self.serve({MANIFEST_PATH: Route(manifest(version="1.1.0.12182", url=self.server.url(SETUP),
                                                  swf_url=self.server.url("/m.swf") if content else None,
                                                  swf_date="2013-01-05|10:00:00" if content else None)),
                    SETUP: route, "/m.swf": content or Route(b"", status=404)})

    def run_accepting(self):
        self.case.start()
        self.case.answer_prompt("y")
        self.assertEqual(0, self.case.finish())

    def setup_requests(self):
        return [r for r in self.server.requests if r["path"] == SETUP]

    def assert_installed(self, data):
        self.case.wait_for(self.case.installer_runs, 30, "the installer to run")
        self.assertEqual(data, read_bytes(self.case.path("setup.exe")))
        self.assertFalse(os.path.exists(self.case.path("setup.exe.part")))

    def test_one_cut_at_40_percent(self):
        data = installer_bytes(SIZE)
        self.offer(Route(data, etag='"v1"', cuts=[CUT]))
        self.run_accepting()
        self.assert_installed(data)
        asked = self.setup_requests()
        self.assertEqual(2, len(asked))
        self.assertEqual("bytes=%d-" % CUT, asked[1]["headers"]["range"])
        self.assertEqual('"v1"', asked[1]["headers"]["if-range"])
        sent = sum(r["sent"] for r in asked)
        self.assertLessEqual(sent, 1.05 * SIZE)
        print("one cut at 40 %%: %d body bytes on the wire for an installer of %d (%.3fx)" % (sent, SIZE, sent / SIZE))

    def test_server_ignoring_ranges_starts_over(self):
        data = installer_bytes(SIZE)
        self.offer(Route(data, last_modified="Tue, 01 Dec 2026 10:00:00 GMT", cuts=[CUT], ranges=False))
        self.run_accepting()
        self.assert_installed(data)
        self.assert_logged("HTTP 200 -, the whole file again")

    def test_file_replaced_between_the_cut_and_the_rest(self):
        old, new = installer_bytes(SIZE), installer_bytes(SIZE - 1000)
        self.offer(Route(old, etag='"v1"', cuts=[CUT], replacement=(new, '"v2"')))
        self.run_accepting()
        self.assert_installed(new)  # the new file whole, never a splice

    def test_cut_run_then_a_second_run_resumes(self):
        data = installer_bytes(SIZE)
        self.offer(Route(data, etag='"v1"', cuts=[CUT], range_status=503))
        self.run_accepting()
        self.assertGreaterEqual(self.case.elapsed, RESUME_PAUSES)
        self.assertEqual([], self.case.installer_runs())
        self.assertEqual(data[:CUT], read_bytes(self.case.path("setup.exe.part")))
        self.assert_logged("%d bytes kept for the next run" % CUT)
        self.offer(Route(data, etag='"v1"'))
        self.run_accepting()
        self.assert_installed(data)
        asked = self.setup_requests()
        self.assertEqual(["bytes=%d-" % CUT], [r["headers"].get("range") for r in asked])
        self.assertEqual(SIZE - CUT, asked[0]["sent"])

    def test_failed_start_is_no_loop(self):
        foreign = harness.foreign_installer_bytes()
        self.offer(Route(foreign, etag='"v1"'))
        self.run_accepting()
        failed_at = time.time()
        kind, value = reg_query("updateStartFailed")
        self.assertEqual("REG_SZ", kind)
        self.assertRegex(value, r"^1\.1\.0\.12182\|\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        self.assertEqual(foreign, read_bytes(self.case.path("setup.exe.verified")))
        # At once: no prompt, no download.
        self.assertEqual(0, self.case.run())
        self.assertIsNone(self.case.find_window(title=PROMPT_CAPTION))
        self.assertEqual(1, len(self.setup_requests()))
        self.assert_logged("(failed start)", "offered again in ")
        # After the pause the offer comes again; the kept installer is started, not downloaded.
        time.sleep(max(0.0, failed_at + START_BACKOFF + 1 - time.time()))
        self.run_accepting()
        self.assertEqual(1, len(self.setup_requests()))
        self.assert_logged("installer: the one kept from a failed start is used again, no download")
        self.assertEqual(2, self.assert_logged().count("hand-over: setup.exe did not start"))

    def test_cookies_are_neither_sent_nor_kept(self):
        data = installer_bytes()
        content = Route(harness.swf_bytes(), headers={"Set-Cookie": COOKIE})
        self.offer(Route(data, headers={"Set-Cookie": COOKIE}), content=content)
        for run in range(2):
            os.path.exists(self.case.path("mnMain.swf")) and os.unlink(self.case.path("mnMain.swf"))
            self.run_accepting()
            self.case.wait_for(lambda: len(self.case.installer_runs()) > run, 30, "the installer to run")
        asked = [r for r in self.server.requests if r["path"] in (SETUP, "/m.swf")]
        self.assertEqual(4, len(asked))
        self.assertEqual([None] * 4, [r["headers"].get("cookie") for r in asked])


if __name__ == "__main__":
    unittest.main()
