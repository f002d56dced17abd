"""The manifest fetch and the installed version check, on the real program."""
import os
import shutil
import time
import unittest

import harness
from harness import (RUNS_32BIT, E2ETest, loader_bits, MANIFEST_PATH, MANIFEST_URL, PROMPT_CAPTION, REG_KEY, manifest,
                     reg, reg_query, standin, swf_bytes)
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


def bucket(seed, version):
    """The rollout bucket of a client seed for a version text, from its definition."""
    h = 2166136261
    for b in seed.to_bytes(4, "little") + version.encode():
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return h % 100


class RolloutTest(E2ETest):
    """Staged rollouts: a newer version with <rollout>N</rollout> reaches the
    clients whose bucket is below N; the content refresh ignores it."""

    VERSION = "1.1.0.12182"

    def run_rollout(self, tag, seed=None):
        """Runs with the tag and, unless None, a stored seed; whether the prompt came."""
        if seed is not None:
            reg("add", REG_KEY, "/v", "updateSeed", "/t", "REG_DWORD", "/d", str(seed), "/f")
        self.serve({MANIFEST_PATH: Route(manifest(version=self.VERSION, url=self.server.url("/setup.exe"),
                                                  swf_url=self.server.url("/m.swf"), swf_date="2013-01-05|10:00:00",
                                                  extra=tag)),
                    "/m.swf": Route(swf_bytes())})
        self.case.start()
        prompted = self.case.wait_for(lambda: self.case.settled_box(PROMPT_CAPTION) or
                                      (self.case.proc.poll() is not None and "ended"), 60, "the prompt or the end")
        if prompted != "ended":
            time.sleep(0.3)
            harness.xdotool_key("n")
        self.assertEqual(0, self.case.finish())
        self.assertTrue(os.path.exists(self.case.path("mnMain.swf")))  # the content refresh runs whatever the stage
        return prompted != "ended"

    def test_stages(self):
        inside = next(s for s in range(1000) if bucket(s, self.VERSION) < 10)
        outside = next(s for s in range(1000) if bucket(s, self.VERSION) >= 10)
        cases = [("no tag", "", None, True), ("rollout 0", "<rollout>0</rollout>", inside, False),
                 ("rollout 100", "<rollout>100</rollout>", outside, True),
                 ("seed inside the stage", "<rollout>10</rollout>", inside, True),
                 ("seed outside the stage", "<rollout>10</rollout>", outside, False),
                 ("malformed", "<rollout>10%</rollout>", inside, False)]
        for name, tag, seed, offered in cases:
            with self.subTest(name):
                reg("delete", r"HKCU\Software\TarvelonMM", "/f")
                self.case = harness.Case()
                self.addCleanup(self.case.cleanup)
                self.assertEqual(offered, self.run_rollout(tag, seed))
                self.assertEqual(("REG_DWORD", "0x1"), reg_query("swfUpdate"))
                if seed is None:  # a run on a manifest without the tag writes no seed
                    self.assertIsNone(reg_query("updateSeed"))

    def test_no_seed_one_is_made_and_decides(self):
        offered = self.run_rollout("<rollout>50</rollout>")
        kind, value = reg_query("updateSeed")
        self.assertEqual("REG_DWORD", kind)
        self.assertEqual(bucket(int(value, 16), self.VERSION) < 50, offered)
        self.assert_logged("rollout: this client's seed made", "decision: newer, rollout 50 %%, bucket %d"
                           % bucket(int(value, 16), self.VERSION))


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
