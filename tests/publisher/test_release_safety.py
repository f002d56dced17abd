"""updater-manifest on a publisher's bad day: a malformed signature, a
publish that fails half-way, a file past the clients' ceiling, and a content
file released again. TOOL names the binary."""
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

from test_updater_manifest import KEY, PIN, run, signed_pe

TOOL = os.environ.get("UPDATER_MANIFEST", "updater-manifest")
# The i686 builds, whose facts say how each judges a release: build/win32 (no
# pins, http), -pinned (the TEST ONLY pins), -https.
CLIENTS = os.environ.get("CLIENTS", os.path.join(os.path.dirname(__file__), "..", "..", "build", "win32"))


def pe_with_certificate(der):
    """A minimal PE32 image whose certificate table holds `der` as its PKCS #7 entry."""
    pe, optional = 0x40, 0x40 + 24
    directories = optional + 96
    image = bytearray(directories + 16 * 8 + 16)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, pe)
    image[pe:pe + 4] = b"PE\0\0"
    struct.pack_into("<HH", image, pe + 4, 0x14C, 0)
    struct.pack_into("<H", image, pe + 20, 96 + 16 * 8)
    struct.pack_into("<H", image, optional, 0x10B)
    struct.pack_into("<I", image, directories - 4, 16)
    entry = bytearray(struct.pack("<IHH", 8 + len(der), 0x0200, 2)) + der
    entry += b"\0" * (-len(entry) % 8)
    struct.pack_into("<II", image, directories + 4 * 8, len(image), len(entry))
    return bytes(image + entry)


def tree_bytes(out):
    found = {}
    for folder, dirs, files in os.walk(out):
        for name in files + [d + "/" for d in dirs]:
            path = os.path.join(folder, name.rstrip("/"))
            if os.path.isdir(path):
                found[os.path.relpath(path, out) + "/"] = None
            else:
                with open(path, "rb") as f:
                    found[os.path.relpath(path, out)] = f.read()
    return found


class ReleaseSafetyTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)
        self.manifest = os.path.join(self.dir, "m.xml")
        with open(self.manifest, "w") as f:
            f.write("<version>2.0.0.1</version><flag>0</flag><url>http://h/setup.exe</url>")

    def release(self, out, installer, *extra, version="2.0.0.1"):
        return run("release", "--version", version, "--installer-url", "http://h/download/setup.exe",
                   "--installer", installer, *KEY, "--pin", PIN, "--out", out, *extra)

    def test_malformed_signatures_are_refused_not_crashed_on(self):
        for name, der in (("signedData without its content", bytes.fromhex("300b06092a864886f70d010702")),
                          ("an empty sequence", bytes.fromhex("3000")),
                          ("a truncated length", bytes.fromhex("3082ffff06092a"))):
            with self.subTest(name):
                installer = os.path.join(self.dir, "setup.exe")
                with open(installer, "wb") as f:
                    f.write(pe_with_certificate(der))
                code, out = run("check", self.manifest, "--installer", installer, "--pin", PIN)
                self.assertEqual(1, code, out)  # an answer, not a signal
                self.assertIn("setup.exe refused:", out)

    def test_a_publish_that_fails_leaves_the_tree_as_it_was(self):
        out = os.path.join(self.dir, "site")
        first = signed_pe(self.dir, "first.exe", "publisher")
        self.assertEqual(0, self.release(out, first)[0])
        signature = os.path.join(out, "api", "pellixupdatecfg.xml.p7s")
        os.unlink(signature)
        os.makedirs(os.path.join(signature, "blocked"))  # its rename cannot succeed now
        before = tree_bytes(out)
        code, text = self.release(out, first, "--content-url", "http://h/c/m.swf", "--content", self.swf(b"new"),
                                  version="2.0.0.2")
        self.assertEqual(1, code, text)
        self.assertIn("every file put back as it was", text)
        self.assertEqual(before, tree_bytes(out))  # no .new, no .old, no content added, nothing replaced

    def swf(self, tag, size=2048):
        path = os.path.join(self.dir, "m%d.swf" % size)
        with open(path, "wb") as f:
            f.write(b"FWS\x0a" + tag + b"\0" * (size - 4 - len(tag)))
        return path

    def test_a_content_past_the_clients_ceiling_is_an_error(self):
        big = self.swf(b"big", 65 * 1024 * 1024)
        code, out = run("check", self.manifest, "--content", big)
        self.assertEqual(1, code, out)
        self.assertIn("more than the 67108864 the clients hold as content (UPDATER_MAX_CONTENT_MB)", out)

    def test_the_same_content_keeps_its_date(self):
        out = os.path.join(self.dir, "site")
        installer, swf = signed_pe(self.dir, "setup.exe", "publisher"), self.swf(b"same")
        dates = []
        for version in ("2.0.0.1", "2.0.0.2"):
            code, text = self.release(out, installer, "--content-url", "http://h/c/m.swf", "--content", swf,
                                      version=version)
            self.assertEqual(0, code, text)
            with open(os.path.join(out, "api", "pellixupdatecfg.xml")) as f:
                body = f.read()
            dates.append(body.split("<swf-date>")[1].split("</swf-date>")[0])
            subprocess.run(["sleep", "1.1"])
        self.assertEqual(dates[0], dates[1])


    def test_guard_rails(self):
        out, installer = os.path.join(self.dir, "site"), signed_pe(self.dir, "setup.exe", "publisher")
        self.assertEqual(0, self.release(out, installer, version="2.0.0.10")[0])
        for name, version, fragment in (("the same version", "2.0.0.10", "2.0.0.10 is not newer than 2.0.0.10"),
                                        ("older as text", "2.0.0.1", "is not newer than"),
                                        ("newer as text, older as numbers", "2.0.0.9",
                                         "2.0.0.9 is not newer than 2.0.0.10, the version in %s as four numbers" % out)):
            with self.subTest(name):
                code, text = self.release(out, installer, version=version)
                self.assertEqual(1, code, text)
                self.assertIn(fragment, text)
        code, text = run("make", "--version", "2.0.0.11", "--installer-url", "http://h/s.exe", "--out", out)
        self.assertEqual(1, code, text)
        self.assertIn("holds a manifest already: publish into a live tree with `release`", text)
        manifest = os.path.join(out, "api", "pellixupdatecfg.xml")
        code, text = run("check", manifest, "--installer", installer, "--pin", PIN)
        self.assertIn("the signature carries no time stamp", text)  # a warning: the test key signs without one
        self.assertEqual(0, code, text)
        self.assertEqual(1, run("check", manifest, "--installer", installer, "--pin", PIN, "--strict")[0])
        code, text = run("make", "--version", "2.0.0.11", "--installer-url", "http://h/s.exe", "--out",
                         os.path.join(self.dir, "fresh"), "--installer", signed_pe(self.dir, "plain.exe"), "--sign",
                         *KEY, "--pin", PIN)
        self.assertEqual(1, code, text)  # an unsigned installer, which the pinned clients never start
        self.assertIn("plain.exe refused: not signed", text)

    def test_releases_judged_as_each_client_will(self):
        inspect = run("inspect", CLIENTS + "-pinned/Updater.exe")[1]
        self.assertIn("installer-pins=" + PIN, inspect)
        self.assertIn("scheme=http\n", inspect)
        self.assertIn("product=Orvessa", inspect)
        https = run("inspect", CLIENTS + "-https/Updater.exe")[1]
        self.assertIn("  scheme=https\n", https)
        self.assertIn("  signed-releases=0\n", https)
        stranger = signed_pe(self.dir, "stranger.exe", "stranger")
        good = signed_pe(self.dir, "setup.exe", "publisher")
        for name, client, installer, url, status, fragment in (
                ("pinned client, pinned signer", "-pinned", good, "http://h/s.exe", 0, "0 error(s)"),
                ("pinned client, another signer", "-pinned", stranger, "http://h/s.exe", 1,
                 "stranger.exe refused: the signer key"),
                ("https client, an http address", "-https", good, "http://h/s.exe", 1,
                 '"http://h/s.exe" is not https: a client built for https refuses it'),
                ("a file that is no client", "", self.manifest, "http://h/s.exe", 1, "not a Windows program")):
            with self.subTest(name):
                path = CLIENTS + client + "/Updater.exe" if client else self.manifest
                with open(self.manifest, "w") as f:
                    f.write("<version>2.0.0.1</version><flag>0</flag><url>%s</url>" % url)
                code, text = run("check", self.manifest, "--installer", installer, "--client", path)
                self.assertEqual(status, code, text)
                self.assertIn(fragment, text)

    def test_history_and_rollback(self):
        out, installer = os.path.join(self.dir, "site"), signed_pe(self.dir, "setup.exe", "publisher")
        manifest = os.path.join(out, "api", "pellixupdatecfg.xml")
        for version in ("2.0.0.1", "2.0.0.2"):
            self.assertEqual(0, self.release(out, installer, version=version)[0])
        kept = sorted(os.listdir(out + ".history"))
        self.assertEqual(["2.0.0.1-", "2.0.0.2-"], [name[:8] for name in kept])  # outside the served tree
        self.assertEqual(0, run("stage", "--out", out, *KEY, "--rollout", "0", "--expires", "31")[0])  # the halt
        with open(manifest) as f:
            halted = f.read()
        code, text = run("rollback", "--out", out, "--to", "2.0.0.1", *KEY)
        self.assertEqual(0, code, text)
        with open(manifest) as f:
            body = f.read()
        self.assertIn("<version>2.0.0.1</version>", body)
        serial = lambda text: int(text.split("<serial>")[1].split("<")[0])
        self.assertGreater(serial(body), serial(halted))
        self.assertEqual(0, run("check", manifest, "--pin", PIN)[0])
        self.assertIn("no release of 9.9.9.9 kept", run("rollback", "--out", out, "--to", "9.9.9.9", *KEY)[1])

    def test_messages_name_what_is_wrong(self):
        cases = [
            ("a pin that is none", ["check", self.manifest, "--pin", "hello"], 2, "--pin hello: not a pin"),
            ("a seed in hex without 0x", ["check", self.manifest, "--seed", "fc2c7ac6"], 2,
             "--seed fc2c7ac6: not a seed"),
            ("a seed in hex", ["check", self.manifest, "--seed", "0xfc2c7ac6"], 0, "seed 0xfc2c7ac6: bucket "),
            ("an unknown option", ["make", "--bogus"], 2, "unknown or incomplete option --bogus"),
            ("release speaks as itself", ["release", "--version", "2.0.0.1", "--installer-url", "http://h/s.exe",
                                          "--installer", self.manifest, *KEY, "--pin", PIN, "--out",
                                          os.path.join(self.dir, "site"), "--rollout", "10%"], 1,
             "updater-manifest release: --rollout takes a whole percentage"),
        ]
        for name, args, status, fragment in cases:
            with self.subTest(name):
                code, out = run(*args)
                self.assertEqual(status, code, out)
                self.assertIn(fragment, out)


if __name__ == "__main__":
    unittest.main()
