"""Signed releases: the build under test built with the TEST ONLY pins and
required signatures. One detached signature over the manifest vouches for the
offer, and the hashes in it for the content and the installer. The old content
and its record are in place in every case."""
import os
import subprocess
import tempfile
import time
import unittest

import harness
from harness import (E2ETest, KEYS, MANIFEST_PATH, REG_KEY, installer_bytes, read_bytes, reg, reg_query, signed,
                     swf_bytes, write_bytes)
from standin_server import Route

TOOL = os.environ.get("UPDATER_MANIFEST", os.path.join(harness.ROOT, "build", "native", "publisher",
                                                       "updater-manifest"))
SIGNATURE_PATH = "/api/pellixupdatecfg.xml.p7s"
OLD = b"FWS old content"
OLD_STAMP = "2013-01-04|09:00:00"


def release(server, version="1.1.0.12182", installer=None, content=None, key="publisher", tamper=None,
            attributes=False, hashes=True, forced=False, make_args=(), edit=None):
    """Routes of a release made by `updater-manifest make --sign` with
    `make_args`; `edit` rewrites the manifest before it is signed again,
    `tamper` after signing, `attributes` signs with openssl's default signed
    attributes instead."""
    with tempfile.TemporaryDirectory() as work:
        tree = os.path.join(work, "tree")
        installer_path, swf_path = os.path.join(work, "setup.exe"), os.path.join(work, "m.swf")
        write_bytes(installer_path, installer if installer is not None else signed(installer_bytes()))
        write_bytes(swf_path, content if content is not None else swf_bytes(b"signed"))
        args = [TOOL, "make", "--version", version, "--installer-url", server.url("/setup.exe"),
                "--content-url", server.url("/m.swf"), "--content", swf_path, "--out", tree]
        if hashes:  # without them make --sign refuses the release; it is signed below
            args += ["--installer", installer_path, "--sign", "--cert", os.path.join(KEYS, key + ".pem"),
                     "--key", os.path.join(KEYS, key + ".key")]
        if forced:
            args += ["--forced"]
        args += list(make_args)
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL, timeout=30)
        manifest_path = os.path.join(tree, "api", "pellixupdatecfg.xml")
        body = read_bytes(manifest_path)
        if not hashes:  # drop the content's hash too, and sign again
            edit = lambda text: b"".join(line + b"\n" for line in text.splitlines() if b"sha256" not in line)
        if edit:
            body = edit(body)
            write_bytes(manifest_path, body)
            subprocess.run([TOOL, "sign", manifest_path, "--cert", os.path.join(KEYS, key + ".pem"),
                            "--key", os.path.join(KEYS, key + ".key")], check=True, stdout=subprocess.DEVNULL)
        if attributes:
            subprocess.run(["openssl", "cms", "-sign", "-binary", "-md", "sha256", "-outform", "DER", "-in",
                            manifest_path, "-signer", os.path.join(KEYS, key + ".pem"), "-inkey",
                            os.path.join(KEYS, key + ".key"), "-out", manifest_path + ".p7s"], check=True)
        routes = {MANIFEST_PATH: Route(tamper(body) if tamper else body, content_type="text/xml"),
                  "/m.swf": Route(read_bytes(swf_path)), "/setup.exe": Route(read_bytes(installer_path))}
        if os.path.exists(manifest_path + ".p7s"):
            routes[SIGNATURE_PATH] = Route(read_bytes(manifest_path + ".p7s"))
        return routes


class SignedBase(E2ETest):
    """The build with signed releases, the old content and its record in place."""
    def case_options(self):
        return {"variant": "signed"}

    def setUp(self):
        super().setUp()
        write_bytes(self.case.path("mnMain.swf"), OLD)
        reg("add", REG_KEY, "/v", "swfUpdateTime", "/t", "REG_SZ", "/d", OLD_STAMP, "/f")

    def assert_content_kept(self):
        self.assertEqual(OLD, read_bytes(self.case.path("mnMain.swf")))
        self.assertEqual(("REG_SZ", OLD_STAMP), reg_query("swfUpdateTime"))
        self.assertIsNone(reg_query("swfUpdate"))

    def check_no_manifest(self, routes, *logged):
        self.serve(routes)
        self.assertEqual(0, self.case.run())  # nothing offered: no prompt to answer
        self.assertEqual([MANIFEST_PATH, SIGNATURE_PATH], self.server.paths())  # and no content request
        self.assert_content_kept()
        self.assert_logged("refused: no manifest", *logged)


class SignedTest(SignedBase):
    def test_signed_release(self):
        routes = release(self.server)
        self.serve(routes)
        self.case.start_host()
        self.case.start()
        self.case.answer_prompt("y")
        self.assertEqual(0, self.case.finish())
        self.case.wait_for(self.case.installer_runs, 30, "the installer to run")
        self.assertEqual(swf_bytes(b"signed"), read_bytes(self.case.path("mnMain.swf")))
        self.assertEqual(("REG_DWORD", "0x1"), reg_query("swfUpdate"))
        self.assert_logged("signature: ", "signer key pinned, trusted", "content: SHA-256 ", "installer: SHA-256 ")
        print("signature %d bytes, manifest %d bytes" % (len(routes[SIGNATURE_PATH].body),
                                                         len(routes[MANIFEST_PATH].body)))

    def test_replayed_older_release_is_not_offered(self):
        # A genuine, signed, forced release of 1.1.0.9876 with its genuine
        # installer: newer than 1.1.0.12181 as text, older as numbers.
        self.serve(release(self.server, version="1.1.0.9876", forced=True))
        self.case.start_host()
        self.assertEqual(0, self.case.run())  # no prompt to answer
        self.assertIsNone(self.case.find_window(title=harness.PROMPT_CAPTION))
        self.assertNotIn("/setup.exe", self.server.paths())
        self.assertNotIn("WM_CLOSE", self.case.host_events())
        self.assert_logged("signer key pinned, trusted", 'manifest: version "1.1.0.9876"',
                           "version: newer as text, but not newer as numbers; signed releases offer only a newer "
                           "version as numbers", "decision: not offered")

    def test_rollout_cannot_be_widened_on_the_way(self):
        widened = release(self.server, tamper=lambda body: body.replace(b"<url>", b"<rollout>100</rollout><url>", 1))
        self.check_no_manifest(widened, "verdict 0x")

    def test_no_signature(self):
        routes = release(self.server)
        del routes[SIGNATURE_PATH]  # the server answers 404
        self.check_no_manifest(routes, "signature: HTTP 404")

    def test_signed_by_a_stranger(self):
        self.check_no_manifest(release(self.server, key="stranger"), "signer key not pinned")

    def test_manifest_changed_after_signing(self):
        self.check_no_manifest(release(self.server, tamper=lambda body: body.replace(b"12182", b"12189")))

    def test_signed_attributes(self):
        self.check_no_manifest(release(self.server, attributes=True), "signed attributes present")

    def test_content_hash_mismatch(self):
        routes = release(self.server, version="1.1.0.12181")
        routes["/m.swf"] = Route(swf_bytes(b"swapped"))  # the bytes differ from what was signed
        self.serve(routes)
        self.assertEqual(0, self.case.run())
        self.assert_content_kept()
        self.assert_logged("content: SHA-256 ", "does not match, refused")

    def test_content_without_hash(self):
        self.serve(release(self.server, version="1.1.0.12181", hashes=False))
        self.assertEqual(0, self.case.run())
        self.assert_content_kept()
        self.assert_logged("content: no hash in the manifest, refused")

    def test_installer_hash_mismatch(self):
        routes = release(self.server)
        routes["/setup.exe"] = Route(signed(installer_bytes(50000)))  # correctly signed, but not the one named
        self.serve(routes)
        self.case.start_host()
        self.case.start()
        self.case.answer_prompt("y")
        self.assertEqual(0, self.case.finish())
        time.sleep(1.5)  # a start would have shown by now
        self.assertEqual([], self.case.installer_runs())
        self.assertTrue(self.case.host_running())
        self.assertFalse(os.path.exists(self.case.path("setup.exe")))
        self.assert_logged("signer key pinned, trusted", "installer: SHA-256 ", "does not match, refused")


if __name__ == "__main__":
    unittest.main()
