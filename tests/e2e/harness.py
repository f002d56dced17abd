"""Runs the real Updater.exe under Wine on Xvfb against the stand-in server and
host. Where this machine runs 32-bit programs, the program under test is the
i686 product (built by the product's own preset, pointed at the stand-in
server); where it refuses them, the x86_64 build of the same sources stands
in, and `describe()` says so. One Wine prefix and one Xvfb display serve a
whole test session: `python3 harness.py start` before the tests, `stop` after.
"""
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from wine_session import *  # noqa: F401,F403 (the suites reach these through harness)


# --- one case ----------------------------------------------------------------

def manifest(version="1.1.0.12182", url=None, flag="0", swf_url=None, swf_date=None, extra=""):
    parts = ["<?xml version=\"1.0\"?><update>"]
    if swf_url is not None:
        parts.append("<swf-url>%s</swf-url>" % swf_url)
    if swf_date is not None:
        parts.append("<swf-date>%s</swf-date>" % swf_date)
    parts.append("<version>%s</version><flag>%s</flag>" % (version, flag))
    if url is not None:
        parts.append("<url>%s</url>" % url)
    parts.append(extra + "</update>")
    return "".join(parts).encode()


def swf_bytes(tag=b"new", size=2048):
    body = b"FWS\x0a" + tag
    return body + b"\x00" * (size - len(body))


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def write_bytes(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def signed(data, key="publisher"):
    """`data` signed with one of the TEST ONLY keys of tests/keys."""
    work = tempfile.mkdtemp(dir=STATE)
    unsigned_path, signed_path = os.path.join(work, "in.exe"), os.path.join(work, "out.exe")
    write_bytes(unsigned_path, data)
    subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(KEYS, key + ".pem"),
                    "-key", os.path.join(KEYS, key + ".key"), "-h", "sha256", "-in", unsigned_path,
                    "-out", signed_path], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    data = read_bytes(signed_path)
    shutil.rmtree(work)
    return data


def installer_bytes(size=None):
    data = read_bytes(standin("InstallerStandin.exe"))
    if size and size > len(data):
        data += bytes(size - len(data))  # an overlay keeps the program runnable
    return data


def foreign_installer_bytes():
    """The stand-in installer with its PE header naming ARM64: whole, an
    executable header, but no program this Windows (or Wine) can start."""
    data = bytearray(installer_bytes())
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    struct.pack_into("<H", data, offset + 4, 0xAA64)
    return bytes(data)


def set_file_version(path, version):
    """Rewrites the fixed file version of an executable's version resource, as
    an installer that updated it would leave it."""
    data = bytearray(read_bytes(path))
    at = data.index(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO's signature
    a, b, c, d = version
    struct.pack_into("<II", data, at + 8, (a << 16) | b, (c << 16) | d)
    write_bytes(path, bytes(data))


class Case:
    """A fresh program folder and temp folder for one run."""

    def __init__(self, host_exe=True, app_name="app", temp_name="temp", variant="test"):
        os.makedirs(os.path.join(STATE, "cases"), exist_ok=True)
        self.root = tempfile.mkdtemp(dir=os.path.join(STATE, "cases"))
        self.app = os.path.join(self.root, app_name)
        self.temp = os.path.join(self.root, temp_name)
        os.makedirs(self.app)
        os.makedirs(self.temp)
        shutil.copy(VARIANTS[variant], os.path.join(self.app, "Updater.exe"))
        if host_exe:
            shutil.copy(standin("OrvessaStandin.exe"), os.path.join(self.app, "Orvessa.exe"))
        self.work = os.path.join(self.temp, "kelvaport")
        self.host_log = os.path.join(self.root, "host.log")
        self.host = None
        self.proc = None

    def path(self, *names):
        return os.path.join(self.work, *names)

    def start_host(self, *flags):
        # Once in a long while Wine never brings a program up (seen once in a fresh prefix): the stand-in is
        # started once more then, as a user would start it again. What is under test is Updater.exe, not this.
        for attempt in (1, 2):
            self.host = subprocess.Popen([WINE, standin("OrvessaStandin.exe"), win_path(self.host_log)] + list(flags),
                                         env=wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                         stdin=subprocess.DEVNULL)
            try:
                self.wait_for(lambda: "started" in self.host_events(), 30, "stand-in host window")
                return
            except AssertionError:
                self.stop_host()
                if attempt == 2:
                    raise
                print("the stand-in host did not come up within 30 s; starting it once more")

    def host_events(self):
        if not os.path.exists(self.host_log):
            return {}
        events = {}
        with open(self.host_log) as f:
            for line in f:
                name, _, stamp = line.strip().partition(" ")
                events.setdefault(name, float(stamp) / 1000)
        return events

    def host_running(self):
        return self.host is not None and self.host.poll() is None

    def restarted_host(self):
        """Events of an Orvessa.exe that Updater.exe started from the program
        folder (it logs to host.log in its working folder)."""
        log = os.path.join(self.app, "host.log")
        return read_bytes(log).decode().split() if os.path.exists(log) else []

    def stop_host(self):
        if self.host_running():
            self.host.kill()
            self.host.wait()

    def installer_runs(self):
        log = self.path("installer-ran.txt")
        if not os.path.exists(log):
            return []
        with open(log) as f:
            return [float(line.split()[1]) / 1000 for line in f if line.startswith("ran")]

    def spawn(self, temp=None, winedebug=None, name="wine-stderr.txt"):
        """Starts one more run of this case's program; its Popen."""
        temp_dir = temp if temp is not None else win_path(self.temp) + "\\"
        env = wine_env()
        self.stderr_path = os.path.join(self.root, name)
        if winedebug:
            env["WINEDEBUG"] = winedebug
        with open(self.stderr_path, "wb") as err:
            return subprocess.Popen([WINE, standin("launcher.exe"), temp_dir,
                                     win_path(os.path.join(self.app, "Updater.exe"))],
                                    env=env, stdout=subprocess.DEVNULL, stderr=err, stdin=subprocess.DEVNULL)

    def start(self, temp=None, winedebug=None):
        self.started = time.time()
        self.proc = self.spawn(temp, winedebug)

    def finish(self, timeout=120):
        code = self.proc.wait(timeout=timeout)
        self.elapsed = time.time() - self.started
        return code

    def run(self, temp=None, timeout=120, winedebug=None):
        self.start(temp, winedebug)
        return self.finish(timeout)

    def wait_for(self, predicate, timeout, what):
        deadline = time.time() + timeout
        while time.time() < deadline:
            value = predicate()
            if value:
                return value
            if self.proc is not None and self.proc.poll() is not None and what != "exit":
                value = predicate()
                if value:
                    return value
            time.sleep(0.2)
        raise AssertionError("timed out waiting for " + what)

    def find_window(self, title=None, has_child=None):
        for window in windows():
            if title is not None and window["title"] != title:
                continue
            if has_child is not None and not any(c["id"] == has_child for c in window["children"]):
                continue
            return window
        return None

    def settled_box(self, title):
        """A message box only once it has settled: shown, with visible buttons,
        and the same buttons in two looks in a row. A box read earlier may
        still show buttons Wine is about to hide."""
        box = self.find_window(title=title)
        seen = (box["visible"], frozenset(visible_buttons(box))) if box else None
        previous, self._last_box = getattr(self, "_last_box", None), seen
        return box if seen and seen[0] and seen[1] and seen == previous else None

    def wait_box(self, title, timeout=60):
        self._last_box = None
        return self.wait_for(lambda: self.settled_box(title), timeout, "the box " + title)

    def wait_prompt(self, timeout=60):
        try:
            return self.wait_box(PROMPT_CAPTION, timeout)
        except AssertionError:
            code = self.proc.poll() if self.proc else None
            titles = [w["title"] for w in windows() if w["title"]]
            raise AssertionError("no update prompt; launcher exit %s, windows %s, work folder %s" % (
                code, titles, os.listdir(self.work) if os.path.isdir(self.work) else "missing"))

    def answer_prompt(self, key, shot=None):
        box = self.wait_prompt()
        self.prompt_seen = time.time()
        if shot:
            screenshot(shot)
        time.sleep(0.3)
        xdotool_key(key)
        return box

    def cleanup(self):
        self.stop_host()
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        # Programs the run started itself (a host started again) outlive it.
        for pid in wine_pids(os.path.basename(self.root)):
            try:
                os.kill(int(pid), signal.SIGKILL)
            except OSError:
                pass


class E2ETest(unittest.TestCase):
    """Base class: one server per test module, a fresh registry key per test."""

    server = None

    @classmethod
    def setUpClass(cls):
        sys.path.insert(0, HERE)
        from standin_server import StandinServer
        if E2ETest.server is None:
            E2ETest.server = StandinServer(PORT)

    def setUp(self):
        if E2ETest.server is None:
            from standin_server import StandinServer
            E2ETest.server = StandinServer(PORT)
        self.server.reset({})
        reg("delete", r"HKCU\Software\TarvelonMM", "/f")
        self.case = Case(**self.case_options())
        self.addCleanup(self.case.cleanup)

    def case_options(self):
        return {}

    def serve(self, routes):
        self.server.reset(routes)

    def serve_manifest(self, body, **route_options):
        from standin_server import Route
        routes = {MANIFEST_PATH: Route(body, content_type="text/xml", **route_options)}
        return routes

    def server_down(self):
        """Closes the server's port for this test; the next test reopens it."""
        from standin_server import StandinServer
        E2ETest.server.close()
        E2ETest.server = None
        self.addCleanup(lambda: setattr(E2ETest, "server", StandinServer(PORT)))

    def assert_logged(self, *fragments):
        """Every line of the run's log is "YYYY-MM-DD HH:MM:SS event" with CRLF,
        and each fragment stands in some line."""
        path = self.case.path("update.log")
        self.assertTrue(os.path.exists(path), "no update.log")
        text = read_bytes(path).decode("utf-8", "replace")
        lines = text.split("\r\n")
        self.assertEqual("", lines[-1], "the log ends with CRLF")
        for line in lines[:-1]:
            self.assertRegex(line, r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \S")
        for fragment in fragments:
            self.assertIn(fragment, text)
        return text

    def content_record(self):
        return reg_query("swfUpdate"), reg_query("swfUpdateTime")


def main_session(argv):
    if len(argv) > 1 and argv[1] == "start":
        start_session()
    elif len(argv) > 1 and argv[1] == "stop":
        stop_session()
    elif len(argv) > 1 and argv[1] == "describe":
        print(describe())
    else:
        print("usage: harness.py start|stop|describe")
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main_session(sys.argv))
