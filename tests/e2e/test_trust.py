"""The installer starts only when signed by a pinned publisher key: the build
under test with the TEST ONLY pins of tests/keys (publisher, rotated)."""
import os
import time
import unittest

from harness import E2ETest, MANIFEST_PATH, installer_bytes, manifest, signed
from standin_server import Route

SETUP = "/setup.exe"


def one_byte_changed(data):
    at = 0x400  # inside the code, well before the signature at the end
    return data[:at] + bytes([data[at] ^ 0xFF]) + data[at + 1:]


class TrustTest(E2ETest):
    def case_options(self):
        return {"variant": "pinned"}

    def check(self, installer, started, pinned=True):
        if not pinned:
            self.case.cleanup()
            self.case = type(self.case)()
            self.addCleanup(self.case.cleanup)
        self.serve({MANIFEST_PATH: Route(manifest(url=self.server.url(SETUP))), SETUP: Route(installer)})
        self.case.start_host()
        self.case.start()
        self.case.answer_prompt("y")
        self.assertEqual(0, self.case.finish())
        if started:
            self.case.wait_for(self.case.installer_runs, 30, "the installer to run")
            self.assertIn("WM_CLOSE", self.case.host_events())
            return
        time.sleep(1.5)  # a start would have shown by now
        self.assertEqual([], self.case.installer_runs())
        self.assertTrue(self.case.host_running())
        self.assertNotIn("WM_CLOSE", self.case.host_events())
        self.assertFalse(os.path.exists(self.case.path("setup.exe")))
        self.assertEqual([MANIFEST_PATH, SETUP], self.server.paths())

    def test_signed_by_the_pinned_key_starts(self):
        self.check(signed(installer_bytes(), "publisher"), started=True)

    def test_signed_by_the_second_pin_starts(self):
        self.check(signed(installer_bytes(), "rotated"), started=True)

    def test_unsigned_is_refused(self):
        self.check(installer_bytes(), started=False)
        self.assert_logged("installer: WinVerifyTrust 0x800B0100, signer key unknown, refused")

    def test_changed_after_signing_is_refused(self):
        self.check(one_byte_changed(signed(installer_bytes(), "publisher")), started=False)

    def test_signed_by_another_key_is_refused(self):
        self.check(signed(installer_bytes(), "stranger"), started=False)
        self.assert_logged("installer: WinVerifyTrust 0x00000000, signer key not pinned, refused")

    def test_without_pins_unsigned_starts(self):
        self.check(installer_bytes(), started=True, pinned=False)


if __name__ == "__main__":
    unittest.main()
