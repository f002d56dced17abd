"""updater-manifest report: counts from combined-format access logs, every
value from the log escaped in each output, and the HTML page as a real
browser shows it. TOOL names the binary."""
import gzip
import json
import os
import shutil
import subprocess
import tempfile
import unittest

TOOL = os.environ.get("UPDATER_MANIFEST", "updater-manifest")
AGENT = "http://update.orvessa.invalid/api/pellixupdatecfg.xml?1"


def line(query, when="09/Dec/2026:10:00:00 +0000", path="/api/pellixupdatereport?"):
    return '10.0.0.1 - - [%s] "GET %s%s HTTP/1.1" 204 0 "-" "%s"\n' % (when, path, query, AGENT)


LOG = "".join([
    line("e=declined&from=1.1.0.12181&to=1.1.0.12182&code=&tenth=1"),
    line("e=declined&from=1.1.0.12181&to=1.1.0.12182&code=&tenth=1", when="10/Dec/2026:10:00:00 +0000"),
    line("e=failed&from=1.1.0.12181&to=1.1.0.12182&code=http-404&tenth=3"),
    line("e=updated&from=1.1.0.12182&to=1.1.0.12182&code="),
    line("e=not-applied&from=1.1.0.12181&to=1.1.0.12182&code="),
    line("e=start-failed&from=1.1.0.12181&to=%3Cscript%3Ealert(1)%3C%2Fscript%3E%1B%5B2J&code=1223"),
    line("", path="/download/setup.exe"),
    line("e=declined&to=1.1.0.12182", when="not a time at all"),
    "garbage without any shape\n",
])


def run(*args, stdin=None):
    proc = subprocess.run([TOOL, "report"] + list(args), input=stdin, capture_output=True, text=True, timeout=60)
    return proc.returncode, proc.stdout + proc.stderr


class ReportTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)
        self.log = os.path.join(self.dir, "access.log")
        with open(self.log, "w") as f:
            f.write(LOG)

    def test_counts_plain_gzip_and_stdin(self):
        gz = self.log + ".1.gz"
        with gzip.open(gz, "wt") as f:
            f.write(LOG)
        for name, args, stdin, factor in (("plain", [self.log], None, 1), ("gzip and plain", [self.log, gz], None, 2),
                                          ("standard input", [], LOG, 1)):
            with self.subTest(name):
                code, out = run(*args, stdin=stdin)
                self.assertEqual(0, code, out)
                self.assertIn("  declined     %8d" % (2 * factor), out)
                self.assertIn("http-404:%d" % factor, out)
                self.assertIn("%d of %d started installers updated (50 %%)" % (factor, 2 * factor), out)
                self.assertIn("%d report(s), %d other line(s) skipped, %d unreadable" % (6 * factor, 2 * factor,
                                                                                         factor), out)

    def test_times_and_tenths(self):
        code, out = run(self.log, "--since", "2026-12-10", "--by-tenth")
        self.assertIn("  declined            1", out)
        self.assertIn("1 report(s)", out)
        self.assertIn("5 outside the times", out)
        code, out = run(self.log, "--until", "2026-12-09T10:00:01", "--by-tenth")
        self.assertIn("5 report(s)", out)
        self.assertRegex(out, r"\n  1 +1 +0 ")  # tenth 1: one declined
        self.assertEqual(2, run(self.log, "--since", "yesterday")[0])

    def test_values_from_the_log_are_escaped(self):
        code, out = run(self.log)
        self.assertNotIn("\x1b", out)
        self.assertIn("offered <script>alert(1)</script>\\x1B[2J", out)
        code, out = run(self.log, "--json")
        data = json.loads(out)
        self.assertIn("<script>alert(1)</script>\x1b[2J", [v["offered"] for v in data["versions"]])
        self.assertNotIn("\x1b", out)
        page = os.path.join(self.dir, "page.html")
        self.assertEqual(0, run(self.log, "--html", page)[0])
        with open(page) as f:
            html = f.read()
        self.assertNotIn("<script>", html)
        self.assertIn("&lt;script&gt;", html)

    def test_distinct_versions_are_capped(self):
        with open(self.log, "w") as f:
            for i in range(1100):
                f.write(line("e=declined&from=1&to=v%d&code=" % i))
        code, out = run(self.log, "--json")
        data = json.loads(out)
        self.assertEqual(1001, len(data["versions"]))
        other = [v for v in data["versions"] if v["offered"] == "other"][0]
        self.assertEqual(100, other["events"]["declined"])

    @unittest.skipUnless(shutil.which("chromium"), "chromium is not installed")
    def test_page_in_a_real_browser(self):
        page, shot = os.path.join(self.dir, "page.html"), os.path.join(self.dir, "page.png")
        self.assertEqual(0, run(self.log, "--html", page)[0])
        browser = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--window-size=800,1200"]
        dom = subprocess.run(browser + ["--dump-dom", "file://" + page], capture_output=True, text=True,
                             timeout=120).stdout
        self.assertIn('data-event="declined" x="516" y="16">2<', dom)  # the longest bar: 2 declined
        self.assertIn("1 of 2 started installers updated (50 %)", dom)
        self.assertIn("6 report(s), 2 other line(s) skipped, 1 unreadable", dom)
        subprocess.run(browser + ["--screenshot=" + shot, "file://" + page], capture_output=True, timeout=120)
        self.assertGreater(os.path.getsize(shot), 10000)  # a page was drawn, not a blank one


if __name__ == "__main__":
    unittest.main()
