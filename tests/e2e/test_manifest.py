"""The manifest fetch and the installed version check, on the real program."""
import os
import shutil
import unittest

from harness import (RUNS_32BIT, E2ETest, loader_bits, MANIFEST_PATH, MANIFEST_URL, PROMPT_CAPTION, manifest, reg, standin,
                     swf_bytes)
from standin_server import Route


class ManifestTest(E2ETest):
    def offer(self, version, **route):
        routes = self.serve_manifest(manifest(version=version, url=self.server.url("/setup.exe")), **route)
        self.serve(routes)

    def assert_offered(self):
        """An offer shows the prompt; answering No ends the run with nothing downloaded."""
        self.case.answer_prompt("n")
        self.assertEqual(0, self.case.finish())
        self.assertEqual([MANIFEST_PATH], self.server.paths())

    def test_equal_version_offers_nothing(self):
        self.offer("1.1.0.12181")
        self.assertEqual(0, self.case.run())
        self.assertEqual([MANIFEST_PATH], self.server.paths())
        self.assertIsNone(self.case.find_window(title=PROMPT_CAPTION))
        self.assert_logged("start: Updater.exe 1.1.0.12181, work folder ", "manifest: HTTP 200, Content-Length ",
                           'manifest: version "1.1.0.12181"', "installed: 1.1.0.12181",
                           "decision: not offered: not newer than installed", "content: none announced", "end after ")

    def test_newer_version_is_offered(self):
        self.offer("1.1.0.12182")
        self.case.start()
        self.case.wait_prompt()
        # The program that shows the prompt is the build under test.
        self.assertEqual(32 if RUNS_32BIT else 64, loader_bits("Updater.exe"))
        self.assert_offered()

    def test_forged_log_line_stays_inside_its_own(self):
        forged = "2026-12-08 17:40:05 installer: WinVerifyTrust 0x00000000, signer key pinned, trusted"
        self.serve(self.serve_manifest(manifest(version="1.1.0.12180\r\n" + forged + "\x1b[2J",
                                                url=self.server.url("/setup.exe"))))
        self.assertEqual(0, self.case.run())
        text = self.assert_logged('manifest: version "1.1.0.12180\\x0D\\x0A2026-12-08 17:40:05 installer: ')
        lines = text.split("\r\n")[:-1]
        self.assertNotIn(forged, lines)
        self.assertFalse(any(line.startswith(forged) for line in lines))
        self.assertNotIn("\x1b", text)

    def test_text_order_not_numbers(self):
        self.offer("1.1.0.2")  # numerically older than 1.1.0.12181, but it sorts after it as text
        self.case.start()
        self.assert_offered()

    def test_request_names_itself_bypasses_the_cache_and_sends_no_logon(self):
        reg("add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/t", "REG_SZ",
            "/d", "wininet.HttpOpenRequestW;wininet.InternetOpenW", "/f")
        self.addCleanup(reg, "delete", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/f")
        self.offer("1.1.0.12181")
        self.assertEqual(0, self.case.run(winedebug="+relay"))
        request = self.server.requests[0]
        self.assertEqual(MANIFEST_URL, request["headers"]["user-agent"])
        with open(self.case.stderr_path, errors="replace") as f:
            calls = [line for line in f if "Call wininet.HttpOpenRequestW(" in line]
        self.assertEqual(1, len(calls), calls)
        flags = int(calls[0].split("(")[1].split(",")[6], 16)
        self.assertTrue(flags & 0x80000000, calls[0])  # INTERNET_FLAG_RELOAD
        self.assertTrue(flags & 0x00040000, calls[0])  # INTERNET_FLAG_NO_AUTH

    def test_error_page_offers_nothing(self):
        self.serve({MANIFEST_PATH: Route(b"<html><body><h1>404 Not Found</h1></body></html>", status=404)})
        self.assertEqual(0, self.case.run())
        self.assertEqual([MANIFEST_PATH], self.server.paths())
        self.assert_logged("manifest: HTTP 404,", "manifest: version missing")

    def test_empty_body_offers_nothing(self):
        self.serve({MANIFEST_PATH: Route(b"", length=0)})
        self.assertEqual(0, self.case.run())
        self.assertEqual([MANIFEST_PATH], self.server.paths())

    def test_body_in_delayed_pieces(self):
        self.offer("1.1.0.12182", piece=16, delay=0.1)
        self.case.start()
        self.assert_offered()

    def test_body_without_content_length(self):
        self.offer("1.1.0.12182", length=None)
        self.case.start()
        self.assert_offered()

    def test_server_down_ends_quickly(self):
        self.server_down()
        self.assertEqual(0, self.case.run())
        self.assertLess(self.case.elapsed, 10)
        self.assert_logged("manifest: direct: no answer from %s, error 12029" % MANIFEST_URL)


class HostWithoutVersionTest(E2ETest):
    """Without a readable host version nothing is offered, and the run goes on."""

    def content_manifest(self):
        self.serve({MANIFEST_PATH: Route(manifest(version="99.0.0.0", url=self.server.url("/setup.exe"),
                                                  swf_url=self.server.url("/m.swf"),
                                                  swf_date="2013-01-05|10:00:00")),
                    "/m.swf": Route(swf_bytes())})

    def check_goes_on(self):
        self.assertEqual(0, self.case.run())
        self.assertEqual([MANIFEST_PATH, "/m.swf"], self.server.paths())
        self.assertTrue(os.path.exists(self.case.path("mnMain.swf")))
        self.assertIsNone(self.case.find_window(title=PROMPT_CAPTION))

    def test_host_missing(self):
        os.unlink(os.path.join(self.case.app, "Orvessa.exe"))
        self.content_manifest()
        self.check_goes_on()

    def test_host_without_version_resource(self):
        shutil.copy(standin("InstallerStandin.exe"), os.path.join(self.case.app, "Orvessa.exe"))
        self.content_manifest()
        self.check_goes_on()


if __name__ == "__main__":
    unittest.main()
