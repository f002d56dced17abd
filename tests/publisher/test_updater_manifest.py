"""updater-manifest: each pitfall of the updater's exact rules, each exit
status, and `make` writing what `check` passes. TOOL names the binary."""
import os
import shutil
import subprocess
import tempfile
import unittest

TOOL = os.environ.get("UPDATER_MANIFEST", "updater-manifest")
KEYS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "keys")  # TEST ONLY
PIN = "7fda7e8402585dc48775cb59bb38869ae3582b57fa7c714acc1ce929d11b4792"  # keys/publisher.pem
GOOD = ("<?xml version=\"1.0\"?><update><version>1.1.0.12182</version><flag>0</flag>"
        "<url>http://h/setup.exe</url><swf-url>http://h/m.swf</swf-url><swf-date>2013-01-05|10:00:00</swf-date>"
        "</update>")


# A Windows program to sign: the i686 product.
SAMPLE_PE = os.environ.get("SAMPLE_PE", os.path.join(os.path.dirname(__file__), "..", "..", "build", "win32",
                                                     "Updater.exe"))


def signed_pe(folder, name, key=None):
    """SAMPLE_PE in FOLDER as NAME, signed by a TEST ONLY key of keys/ (none: unsigned)."""
    path = os.path.join(folder, name)
    if key is None:
        shutil.copy(SAMPLE_PE, path)
    else:
        subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(KEYS, key + ".pem"), "-key",
                        os.path.join(KEYS, key + ".key"), "-h", "sha256", "-in", SAMPLE_PE, "-out", path],
                       check=True, stdout=subprocess.DEVNULL)
    return path


def run(*args):
    proc = subprocess.run([TOOL] + list(args), capture_output=True, text=True, timeout=30)
    return proc.returncode, proc.stdout + proc.stderr


def check(body, *args):
    with tempfile.NamedTemporaryFile("wb", suffix=".xml", delete=False) as f:
        f.write(body if isinstance(body, bytes) else body.encode())
    try:
        return run("check", f.name, *args)
    finally:
        os.unlink(f.name)


class CheckTest(unittest.TestCase):
    def test_verdicts(self):
        long_url = "http://h/" + "a" * 300
        cases = [
            # (name, manifest, extra args, exit status, fragments of the output)
            ("clean", GOOD, ["--installed", "1.1.0.12181", "--stamp", "2013-01-04|09:00:00"], 0,
             ["installed 1.1.0.12181: offered, optional", "content refreshed", "0 error(s), 0 warning(s)"]),
            ("false forces", GOOD.replace("<flag>0", "<flag>false"), [], 0,
             ['forced: yes ("<flag>" is followed by "f" in "false")', "warning: <flag>false</flag> forces"]),
            ("capital F does not force", GOOD.replace("<flag>0", "<flag>Force"), [], 0,
             ["forced: no", "warning: <flag>Force</flag> does not force"]),
            ("text order is not number order", GOOD.replace("1.1.0.12182", "1.10.0.0"), ["--installed", "1.9.0.0"],
             0, ["installed 1.9.0.0: not offered", 'warning: "1.10.0.0" is newer than 1.9.0.0 as numbers']),
            ("white space in the version", GOOD.replace("12182<", "12182\r\n<"), [], 0,
             ["warning: the version has white space around it"]),
            ("value longer than its field", GOOD.replace("http://h/setup.exe", long_url), [], 1,
             ["url: rejected (309 bytes; holds at most 259)"]),
            ("missing url", GOOD.replace("<url>http://h/setup.exe</url>", ""), ["--installed", "1.0.0.0"], 1,
             ["url: missing", "installed 1.0.0.0: not offered (no installer address)"]),
            ("swf-date after the client clock", GOOD, ["--now", "2013-01-05|09:59:59"], 0,
             ['warning: swf-date sorts after the client clock "2013-01-05|09:59:59"']),
            ("swf-date in another format", GOOD.replace("2013-01-05|10:00:00", "05/01/2013 10:00"), [], 0,
             ["warning: swf-date is not in the stored stamp's format"]),
            ("NUL before the tags", "\0" + GOOD, [], 1, ["warning: a NUL byte at offset 0", "version: missing"]),
            ("control byte before the tags", "\x01" + GOOD, [], 0, ["warning: a control byte"]),
            ("not a web address", GOOD.replace("http://h/setup.exe", "file:///C:/x.exe"), [], 1,
             ["error: url \"file:///C:/x.exe\" is not an absolute http:// or https:// address"]),
            ("over the cap", GOOD + " " * 70000, [], 1, ["reads no manifest"]),
            ("signed builds want a newer number", GOOD.replace("1.1.0.12182", "1.1.0.9876"),
             ["--installed", "1.1.0.12181", "--pin", PIN], 1,
             ["installed 1.1.0.12181: not offered by signed builds",
              'warning: "1.1.0.9876" is not newer than 1.1.0.12181 as numbers']),
        ]
        for name, body, args, status, fragments in cases:
            with self.subTest(name):
                code, out = check(body, *args)
                self.assertEqual(status, code, out)
                for fragment in fragments:
                    self.assertIn(fragment, out)

    def test_usage_errors(self):
        for args in ([], ["check"], ["check", "a.xml", "--bogus"], ["make", "--version"], ["frobnicate"]):
            with self.subTest(args):
                self.assertEqual(2, run(*args)[0])


class MakeTest(unittest.TestCase):
    def test_make_writes_what_check_passes(self):
        with tempfile.TemporaryDirectory() as tree:
            swf = os.path.join(tree, "in.swf")
            with open(swf, "wb") as f:
                f.write(b"CWS\x0a" + b"\0" * 100)
            for forced in ([], ["--forced"]):
                out_dir = os.path.join(tree, "forced" if forced else "optional")  # make writes fresh trees only
                code, out = run("make", "--version", "2.0.0.1", "--installer-url", "http://h/dl/setup.exe",
                                "--content", swf, "--content-url", "http://h/c/mnMain.swf", "--tz", "-12:00",
                                "--out", out_dir, *forced)
                self.assertEqual(0, code, out)
                manifest = os.path.join(out_dir, "api", "pellixupdatecfg.xml")
                code, out = run("check", manifest, "--installed", "1.1.0.12181")
                self.assertEqual(0, code, out)
                self.assertIn("0 error(s), 0 warning(s)", out)
                self.assertIn("forced: yes" if forced else "forced: no", out)
                with open(os.path.join(out_dir, "c", "mnMain.swf"), "rb") as f:
                    self.assertEqual(b"CWS", f.read(3))

    def test_make_refuses(self):
        with tempfile.TemporaryDirectory() as tree:
            html = os.path.join(tree, "page.swf")
            with open(html, "wb") as f:
                f.write(b"<html>")
            cases = [
                ("version of three numbers", ["--version", "1.1.0", "--installer-url", "http://h/s.exe"]),
                ("version part too large", ["--version", "1.1.0.70000", "--installer-url", "http://h/s.exe"]),
                ("address too long", ["--version", "1.1.0.1", "--installer-url", "http://h/" + "a" * 260]),
                ("not a web address", ["--version", "1.1.0.1", "--installer-url", "\\\\host\\share\\s.exe"]),
                ("content that is no SWF", ["--version", "1.1.0.1", "--installer-url", "http://h/s.exe",
                                            "--content", html, "--content-url", "http://h/m.swf"]),
            ]
            for name, args in cases:
                with self.subTest(name):
                    code, out = run("make", *args)
                    self.assertEqual(1, code, out)
                    self.assertIn("updater-manifest make:", out)


class RolloutTest(unittest.TestCase):
    def test_make_then_check_with_seeds(self):
        with tempfile.TemporaryDirectory() as tree:
            code, out = run("make", "--version", "1.1.0.12182", "--installer-url", "http://h/setup.exe",
                            "--rollout", "10", "--out", tree)
            self.assertEqual(0, code, out)
            manifest = os.path.join(tree, "api", "pellixupdatecfg.xml")
            # Seed 0x01020304 falls in bucket 13 for 1.1.0.12182, seed 1 in bucket 38, seed 0 in 57.
            code, out = run("check", manifest, "--seed", "0x01020304", "--seed", "1", "--seed", "0")
            self.assertEqual(0, code, out)
            for fragment in ("rollout: 10 % (the clients in buckets 0-9 of 0-99)",
                             "seed 0x01020304: bucket 13, not in this stage", "seed 1: bucket 38, not in this stage",
                             "seed 0: bucket 57, not in this stage"):
                self.assertIn(fragment, out)
            with open(manifest, "rb") as f:
                body = f.read()
            with open(manifest, "wb") as f:
                f.write(body.replace(b"<rollout>10<", b"<rollout>40<"))
            self.assertIn("seed 1: bucket 38, in this stage", run("check", manifest, "--seed", "1")[1])
        for bad in ("101", "10%", "-1", ""):
            with self.subTest(bad):
                if bad:  # an empty --rollout is no rollout
                    self.assertEqual(1, run("make", "--version", "1.1.0.1", "--installer-url", "http://h/s.exe",
                                            "--rollout", bad)[0])
                code, out = check(GOOD.replace("</update>", "<rollout>%s</rollout></update>" % bad))
                self.assertEqual(1, code, out)
                self.assertIn("withholds the offer", out)


class SignTest(unittest.TestCase):
    def test_sign_then_check_and_each_failing_rule(self):
        with tempfile.TemporaryDirectory() as tree:
            installer, swf = signed_pe(tree, "setup.exe", "publisher"), os.path.join(tree, "in.swf")
            with open(swf, "wb") as f:
                f.write(b"FWS\x0amovie")
            code, out = run("make", "--version", "2.0.0.1", "--installer-url", "http://h/dl/setup.exe",
                            "--installer", installer, "--content", swf, "--content-url", "http://h/c/m.swf",
                            "--out", tree, "--sign", "--cert", os.path.join(KEYS, "publisher.pem"),
                            "--key", os.path.join(KEYS, "publisher.key"))
            self.assertEqual(0, code, out)
            manifest = os.path.join(tree, "api", "pellixupdatecfg.xml")
            signature = manifest + ".p7s"
            code, out = run("check", manifest, "--pin", PIN, "--installer", installer, "--content", swf)
            self.assertEqual(0, code, out)
            self.assertIn("signature: valid, signer pinned", out)
            original = open(manifest, "rb").read()

            def openssl_sign(*extra):
                subprocess.run(["openssl", "cms", "-sign", "-binary", "-md", "sha256", "-outform", "DER", "-in",
                                manifest, "-signer", os.path.join(KEYS, "publisher.pem"), "-inkey",
                                os.path.join(KEYS, "publisher.key"), "-out", signature] + list(extra), check=True)

            cases = [
                ("another pin", lambda: None, ["--pin", "0" * 64], "is not pinned"),
                ("changed after signing", lambda: open(manifest, "ab").write(b" "), ["--pin", PIN],
                 "does not verify over these bytes"),
                ("signed attributes", lambda: openssl_sign(), ["--pin", PIN], "carries signed attributes"),
                ("no signature", lambda: os.unlink(signature), ["--pin", PIN], "there is no"),
                ("installer not the one named", lambda: None, ["--installer", swf], "is not the SHA-256 of"),
            ]
            for name, spoil, args, fragment in cases:
                with self.subTest(name):
                    with open(manifest, "wb") as f:
                        f.write(original)
                    run("sign", manifest, "--cert", os.path.join(KEYS, "publisher.pem"),
                        "--key", os.path.join(KEYS, "publisher.key"))
                    spoil()
                    code, out = run("check", manifest, *args)
                    self.assertEqual(1, code, out)
                    self.assertIn(fragment, out)

    def test_installer_judged_as_the_updater_does(self):
        with tempfile.TemporaryDirectory() as tree:
            good = signed_pe(tree, "setup.exe", "publisher")
            tampered = os.path.join(tree, "tampered.exe")
            data = bytearray(open(good, "rb").read())
            data[4096] ^= 1
            open(tampered, "wb").write(data)
            key = ["--cert", os.path.join(KEYS, "publisher.pem"), "--key", os.path.join(KEYS, "publisher.key")]
            cases = [
                # (name, installer made into the release, installer checked, extra args, status, fragment)
                ("good", good, good, ["--pin", PIN], 0, "installer: signed by /CN=Orvessa Updater TEST ONLY signer"
                                                        " publisher, pin " + PIN + ", pinned"),
                ("unsigned", good, signed_pe(tree, "plain.exe"), ["--pin", PIN], 1,
                 "plain.exe refused: not signed (no certificate table)"),
                ("unpinned signer", good, signed_pe(tree, "stranger.exe", "stranger"), ["--pin", PIN], 1,
                 "is not pinned: builds with these pins never start it"),
                ("tampered after signing", good, tampered, ["--pin", PIN], 1,
                 "tampered.exe refused: the image was changed after it was signed"),
                ("signed manifest without its hashes", None, None, [], 1,
                 "<sha256> is missing: signed releases start no installer without it"),
            ]
            for row, (name, made, checked, args, status, fragment) in enumerate(cases):
                with self.subTest(name):
                    out = os.path.join(tree, "release%d" % row)  # make writes fresh trees only
                    manifest = os.path.join(out, "api", "pellixupdatecfg.xml")
                    run("make", "--version", "2.0.0.1", "--installer-url", "http://h/dl/setup.exe", "--out", out,
                        "--sign", *key, *(["--installer", made] if made else []))
                    code, out = run("check", manifest, *args, *(["--installer", checked] if checked else []))
                    self.assertEqual(status, code, out)
                    self.assertIn(fragment, out)

    def test_release_publishes_only_what_clients_take(self):
        with tempfile.TemporaryDirectory() as tree:
            out = os.path.join(tree, "site")
            key = ["--cert", os.path.join(KEYS, "publisher.pem"), "--key", os.path.join(KEYS, "publisher.key")]
            for name, installer, status, files in (
                    ("unsigned installer", signed_pe(tree, "plain.exe"), 1, []),
                    ("signed and pinned", signed_pe(tree, "setup.exe", "publisher"), 0,
                     ["api/pellixupdatecfg.xml", "api/pellixupdatecfg.xml.p7s", "download/setup.exe"])):
                with self.subTest(name):
                    code, out_text = run("release", "--version", "2.0.0.1", "--installer-url", "http://h/download/setup.exe",
                                         "--installer", installer, *key, "--pin", PIN, "--out", out)
                    self.assertEqual(status, code, out_text)
                    found = sorted(os.path.relpath(os.path.join(d, f), out) for d, _, fs in os.walk(out) for f in fs)
                    self.assertEqual(files, found)


KEY = ["--cert", os.path.join(KEYS, "publisher.pem"), "--key", os.path.join(KEYS, "publisher.key")]


def serial_of(path):
    text = open(path, encoding="utf-8").read()
    return int(text.split("<serial>")[1].split("</serial>")[0])


class FeedTest(unittest.TestCase):
    def test_serials_rise_and_stage_changes_only_the_stage(self):
        with tempfile.TemporaryDirectory() as tree:
            out, installer = os.path.join(tree, "site"), signed_pe(tree, "setup.exe", "publisher")
            manifest = os.path.join(out, "api", "pellixupdatecfg.xml")
            serials = []
            for version in ("2.0.0.1", "2.0.0.2"):
                code, text = run("release", "--version", version, "--installer-url", "http://h/download/setup.exe",
                                 "--installer", installer, "--rollout", "50", *KEY, "--pin", PIN, "--out", out)
                self.assertEqual(0, code, text)
                serials.append(serial_of(manifest))
            self.assertLess(serials[0], serials[1])
            previous = os.path.join(tree, "previous.xml")
            # The expiries differ from the release's, made this same second.
            for name, args, changed in (("halt", ["--rollout", "0", "--expires", "31"],
                                         ["<rollout>0<", "<serial>", "<expires>"]),
                                        ("renewal", ["--expires", "32"], ["<serial>", "<expires>"])):
                with self.subTest(name):
                    shutil.copy(manifest, previous)
                    before, signature = open(manifest, "rb").read(), open(manifest + ".p7s", "rb").read()
                    code, text = run("stage", "--out", out, *KEY, *args)
                    self.assertEqual(0, code, text)
                    after = open(manifest, "rb").read()
                    differ = [new.decode() for old, new in zip(before.splitlines(), after.splitlines()) if old != new]
                    self.assertEqual(len(before.splitlines()), len(after.splitlines()))
                    self.assertEqual(len(changed), len(differ), differ)
                    for fragment, line in zip(changed, differ):
                        self.assertIn(fragment, line)
                    self.assertNotEqual(signature, open(manifest + ".p7s", "rb").read())
                    self.assertGreater(serial_of(manifest), serial_of(previous))
                    code, text = run("check", manifest, "--pin", PIN, "--previous", previous)
                    self.assertEqual(0, code, text)

    def test_serials_that_fall_or_run_ahead_are_refused(self):
        with tempfile.TemporaryDirectory() as tree:
            paths = {}
            for serial in ("99", "100"):
                code, text = run("make", "--version", "2.0.0.1", "--installer-url", "http://h/setup.exe",
                                 "--serial", serial)
                self.assertEqual(0, code, text)
                paths[serial] = os.path.join(tree, serial + ".xml")
                open(paths[serial], "w").write(text)
            code, text = run("check", paths["99"], "--previous", paths["100"])
            self.assertEqual(1, code, text)
            self.assertIn("serial 99 is not above 100", text)
            self.assertEqual(0, run("check", paths["100"], "--previous", paths["99"])[0])
            code, text = run("make", "--version", "2.0.0.1", "--installer-url", "http://h/setup.exe", "--serial",
                             str(int(__import__("time").time()) + 2 * 86400))
            self.assertEqual(1, code, text)
            self.assertIn("more than a day ahead of this clock", text)
            bare = os.path.join(tree, "bare.xml")
            open(bare, "w").write(GOOD)
            code, text = run("sign", bare, *KEY)
            self.assertEqual(1, code, text)
            self.assertIn("<serial> is missing", text)


if __name__ == "__main__":
    unittest.main()
