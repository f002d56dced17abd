"""Work directory preparation and the run's exit status, on the real program."""
import os
import time
import unittest

import harness
from harness import (UPDATER_EXE, Case, E2ETest, MANIFEST_PATH, installer_bytes, manifest, read_bytes, swf_bytes,
                     win_path, wintool, write_bytes, xdotool_key)
from standin_server import Route


class FoundationTest(E2ETest):
    def test_first_run_creates_the_work_directory(self):
        self.assertFalse(os.path.exists(self.case.work))
        self.assertEqual(0, self.case.run())
        self.assertTrue(os.path.isdir(self.case.work))
        self.assertEqual([MANIFEST_PATH], self.server.paths())

    def test_second_run_removes_setup_and_keeps_content(self):
        os.makedirs(self.case.work)
        for name, data in (("setup.exe", b"MZ stale"), ("mnMain.swf", b"FWS kept"), ("other.txt", b"x")):
            write_bytes(self.case.path(name), data)
        self.assertEqual(0, self.case.run())
        self.assertFalse(os.path.exists(self.case.path("setup.exe")))
        self.assertEqual(b"FWS kept", read_bytes(self.case.path("mnMain.swf")))
        self.assertTrue(os.path.exists(self.case.path("other.txt")))

    def test_impossible_temp_dir_shows_the_error_box_only(self):
        self.serve(self.serve_manifest(manifest(url=self.server.url("/setup.exe"))))
        missing = win_path(os.path.join(self.case.root, "missing", "deeper")) + "\\"
        self.case.start(temp=missing)
        box = self.case.wait_box("错误")
        texts = {c["id"]: c["title"] for c in box["children"]}
        self.assertEqual("创建临时目录失败，错误代码3", texts.get(65535))
        self.assertEqual({1}, harness.visible_buttons(box))
        self.assertEqual(0, box["owner"])
        time.sleep(0.3)
        xdotool_key("Return")
        self.assertEqual(0, self.case.finish(timeout=60))
        self.assertEqual([], self.server.paths())  # nothing else happened
        self.assertFalse(os.path.exists(os.path.join(self.case.app, "temp")))

    def test_temp_dir_too_long_falls_back_beside_the_program(self):
        # A TEMP whose path passes the 260-byte buffer: the work folder goes
        # beside the program instead of being cut into a wrong path.
        long_temp = "C:\\" + "\\".join(["t" * 60] * 5) + "\\"
        self.assertEqual(0, self.case.run(temp=long_temp))
        self.assertTrue(os.path.isdir(os.path.join(self.case.app, "temp")))
        self.assertEqual([MANIFEST_PATH], self.server.paths())

    def test_own_version_resource(self):
        info = wintool("version", win_path(UPDATER_EXE))[0]
        self.assertEqual([1, 1, 0, 12181], info["file"])
        self.assertEqual([1, 1, 0, 12181], info["product"])
        self.assertEqual("Updater.exe", info["strings"]["InternalName"])
        self.assertEqual("Updater.exe", info["strings"]["OriginalFilename"])


class CodePageTest(E2ETest):
    """Folder names that Wine's code page (1252 under LANG=C.UTF-8) cannot hold:
    the program goes by their short names and works as anywhere else."""

    def check(self, app_name, temp_name):
        self.case = Case(app_name=app_name, temp_name=temp_name)
        self.addCleanup(self.case.cleanup)
        new_swf = swf_bytes(b"fresh")
        self.serve({MANIFEST_PATH: Route(manifest(url=self.server.url("/setup.exe"), swf_url=self.server.url("/m.swf"),
                                                  swf_date="2013-01-05|10:00:00")),
                    "/m.swf": Route(new_swf), "/setup.exe": Route(installer_bytes())})
        self.case.start_host()
        self.case.start()
        self.case.answer_prompt("y")  # the prompt means the host's version was read
        self.assertEqual(0, self.case.finish())
        self.case.wait_for(self.case.installer_runs, 30, "the installer to run")
        self.assertIn("WM_CLOSE", self.case.host_events())
        self.assertEqual(new_swf, read_bytes(self.case.path("mnMain.swf")))
        self.assertIsNone(self.case.find_window(title="错误"))

    def test_temp_folder(self):
        self.check("app", "临时")

    def test_program_folder(self):
        self.check("程序", "temp")

    def test_both(self):
        self.check("程序", "临时")


if __name__ == "__main__":
    unittest.main()
