"""The signed feed holds its ground (the build with signed releases): a feed
older than one the client saw, one past its expiry, and another product's
genuine feed are refused before anything of them is used; a newer feed is
taken, and its serial kept as updateSerial."""
import re
import unittest

from harness import MANIFEST_PATH, REG_KEY, reg, reg_query
from test_signed import SIGNATURE_PATH, SignedBase, release


class FeedTest(SignedBase):
    def check_refused(self, routes, *logged):
        """Nothing of a refused feed is used: no prompt, no content, no installer."""
        self.serve(routes)
        self.assertEqual(0, self.case.run())  # no prompt to answer
        self.assertEqual([MANIFEST_PATH, SIGNATURE_PATH], self.server.paths())
        self.assert_logged("signer key pinned, trusted", *logged)

    def test_halted_release_replayed_is_not_offered(self):
        # The release was offered to every client (serial 100), then halted (101).
        wide = release(self.server, make_args=["--serial", "100", "--rollout", "100"])
        halted = release(self.server, make_args=["--serial", "101", "--rollout", "0"])
        self.serve(halted)
        self.assertEqual(0, self.case.run())
        self.assertEqual(("REG_DWORD", "0x65"), reg_query("updateSerial"))
        self.assert_logged("feed: serial 101 kept", "decision: not offered: outside the rollout")
        # Anyone on the way serves the wider, genuine, earlier stage again.
        self.check_refused(wide, "manifest: refused, serial 100 is lower than 101, the highest accepted (serial)")
        self.assertEqual(("REG_DWORD", "0x65"), reg_query("updateSerial"))

    def test_expired_feed_offers_and_refreshes_nothing(self):
        expired = release(self.server, edit=lambda body: re.sub(rb"<expires>[^<]*", b"<expires>2020-01-01T00:00:00Z",
                                                                body))
        self.check_refused(expired, "manifest: refused, expired at 2020-01-01T00:00:00Z, the clock says 20")
        self.assert_content_kept()
        self.assertIsNone(reg_query("updateSerial"))

    def test_another_products_feed_is_not_offered(self):
        self.check_refused(release(self.server, make_args=["--product", "Orvessa-beta"]),
                           'manifest: refused, it is for product "Orvessa-beta", this build for "Orvessa" (product)')
        self.assert_content_kept()

    def test_fresh_feed_with_a_higher_serial_is_offered(self):
        reg("add", REG_KEY, "/v", "updateSerial", "/t", "REG_DWORD", "/d", "500", "/f")
        self.serve(release(self.server, make_args=["--serial", "600"]))
        self.case.start()
        self.case.answer_prompt("n")
        self.assertEqual(0, self.case.finish())
        self.assertEqual(("REG_DWORD", "0x258"), reg_query("updateSerial"))
        self.assert_logged("feed: Orvessa, serial 600, expires 20", "feed: serial 600 kept", "decision: offered")


if __name__ == "__main__":
    unittest.main()
