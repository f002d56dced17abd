"""Runs the real Updater.exe under Wine on Xvfb against the stand-in server and
host. Where this machine runs 32-bit programs, the program under test is the
i686 product (built by the product's own preset, pointed at the stand-in
server); where it refuses them, the x86_64 build of the same sources stands
in, and `describe()` says so. One Wine prefix and one Xvfb display serve a
whole test session: `python3 harness.py start` before the tests, `stop` after.
"""
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
WINE32 = "/usr/lib/wine/wine"
WINE64 = "/usr/lib/wine/wine64"
# The stand-ins and tools are x86_64 programs; both loaders start them.
BUILD = os.environ.get("UPDATER_WIN64_DIR", os.path.join(ROOT, "build", "win64"))
I686_BUILD = os.environ.get("UPDATER_WIN32_TEST_DIR", os.path.join(ROOT, "build", "win32-test"))
STATE = os.environ.get("E2E_STATE_DIR", os.path.join(BUILD, "e2e"))
PORT = int(os.environ.get("UPDATER_TEST_PORT", "18431"))
DISPLAY = os.environ.get("E2E_DISPLAY", ":87")


def machine_runs_32bit():
    """Whether the 32-bit Wine loader starts here: some kernels refuse every
    i386 program ("IA-32 emulation off")."""
    try:
        return subprocess.run([WINE32, "--version"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              stdin=subprocess.DEVNULL, timeout=30).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


RUNS_32BIT = machine_runs_32bit()
WINE = WINE32 if RUNS_32BIT else WINE64
_server = "/usr/lib/wine/wineserver64"
WINESERVER = _server if os.path.exists(_server) else "/usr/lib/wine/wineserver"
# The program under test, and the build folder its floor programs come from.
PRODUCT_BUILD = I686_BUILD if RUNS_32BIT else BUILD
UPDATER_EXE = os.path.join(PRODUCT_BUILD, "Updater.exe")
KEYS = os.path.join(ROOT, "tests", "keys")
# Variants of the program under test, of the same kind: "pinned" has the TEST
# ONLY signer pins of tests/keys, "signed" also requires signed releases, and
# "shipped" is the product itself, whose server host never resolves here.
VARIANTS = {
    "test": UPDATER_EXE,
    "pinned": os.path.join(ROOT, "build", "win32-pinned" if RUNS_32BIT else "win64-pinned", "Updater.exe"),
    "signed": os.path.join(ROOT, "build", "win32-signed" if RUNS_32BIT else "win64-signed", "Updater.exe"),
    "shipped": os.path.join(ROOT, "build", "win32" if RUNS_32BIT else "win64-product", "Updater.exe"),
    "https": os.path.join(ROOT, "build", "win32-https" if RUNS_32BIT else "win64-https", "Updater.exe"),
}
# The suite's throw-away CA, while the https cases have the system trust it.
TEST_CA = "/usr/local/share/ca-certificates/orvessa-e2e-test-ca.crt"
SHIPPED_HOST = "update.orvessa.invalid"


def pe_machine(path):
    """"PE32, i686" or "PE32+, x86_64" from the file's own headers."""
    with open(path, "rb") as f:
        head = f.read(4096)
    offset = struct.unpack_from("<I", head, 0x3C)[0]
    machine = struct.unpack_from("<H", head, offset + 4)[0]
    return {0x14C: "PE32, i686", 0x8664: "PE32+, x86_64"}.get(machine, "machine 0x%x" % machine)


def describe():
    """One line naming the Updater.exe that the end-to-end runs use."""
    shown = os.path.relpath(UPDATER_EXE, ROOT) if UPDATER_EXE.startswith(ROOT) else UPDATER_EXE
    if not os.path.exists(UPDATER_EXE):
        return "Updater.exe under test: %s is missing" % shown
    kind = pe_machine(UPDATER_EXE)
    if not RUNS_32BIT:
        kind += ": this machine refuses 32-bit programs, so the x86_64 build stands in for the i686 product"
    return "Updater.exe under test: %s (%s)" % (shown, kind)


def wine_pids(exe_name):
    """Linux process ids of the Wine processes whose command line names
    `exe_name` (the launcher that started them excluded)."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode(errors="replace").lower()
        except OSError:
            continue
        if exe_name.lower() in cmdline and "launcher" not in cmdline:
            yield pid


def loader_bits(exe_name):
    """32 or 64: the ELF class of the Wine loader running a Windows program
    whose command line names `exe_name` (None when none runs)."""
    for pid in wine_pids(exe_name):
        try:
            with open("/proc/%s/exe" % pid, "rb") as f:
                return {1: 32, 2: 64}.get(f.read(5)[4])
        except OSError:
            continue
    return None


def product_limits():
    """The product's limits from src/shared/limits.h, times in seconds and
    sizes in bytes: every #define there is `#define UPDATER_NAME_MS N` or
    `#define UPDATER_NAME_BYTES N`, and any other form is an error here rather
    than a wrong wait."""
    import re
    limits = {}
    with open(os.path.join(ROOT, "src", "shared", "limits.h"), encoding="utf-8") as f:
        for line in f:
            if line.startswith("#define"):
                found = re.fullmatch(r"#define (UPDATER_(\w+)_(MS|BYTES)) (\d+)\n?", line)
                if not found:
                    raise ValueError("limits.h: not a plain limit: " + line.strip())
                value = int(found.group(4))
                limits[found.group(2)] = value / 1000.0 if found.group(3) == "MS" else value
    return limits


def product_limit(name):
    """One of the product's limits: `STALL_LIMIT` (UPDATER_STALL_LIMIT_MS) in
    seconds, `RATE_FLOOR` (UPDATER_RATE_FLOOR_BYTES) in bytes."""
    return product_limits()[name]


def build_ceiling_mb(name):
    """A download ceiling the build under test was configured with
    (UPDATER_MAX_CONTENT_MB, UPDATER_MAX_INSTALLER_MB), from its CMake cache."""
    with open(os.path.join(PRODUCT_BUILD, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith(name + ":"):
                return int(line.split("=", 1)[1])
    raise KeyError(name)


def floor_program(name):
    """A floor program of the same kind as the Updater.exe under test."""
    return os.path.join(PRODUCT_BUILD, "standins", name)


MANIFEST_PATH = "/api/pellixupdatecfg.xml?1"
MANIFEST_URL = "http://127.0.0.1:%d%s" % (PORT, MANIFEST_PATH)
REG_KEY = r"HKCU\Software\TarvelonMM\Orvessa"
PROMPT_CAPTION = "更新提示"


def standin(name):
    return os.path.join(BUILD, "standins", name)


def wine_env():
    env = dict(os.environ)
    env.update(WINEPREFIX=os.path.join(STATE, "prefix"), DISPLAY=DISPLAY, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=", LANG="C.UTF-8", LC_ALL="C.UTF-8")
    return env


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(args, timeout=60, stdout=None):
    """Runs a Windows program to its end; output goes to files (Wine's helper
    processes inherit pipes and can hold them open)."""
    out = stdout or os.path.join(STATE, "wine-out.txt")
    with open(out, "wb") as sink:
        proc = subprocess.run([WINE] + list(args), env=wine_env(), stdout=sink, stderr=subprocess.DEVNULL,
                              stdin=subprocess.DEVNULL, timeout=timeout)
    return proc.returncode


def wintool(*args):
    """wintool's answer, one object a line. A window that goes away while it is
    listed can leave a line cut short: such an answer is asked for again."""
    for attempt in range(3):
        out = tempfile.mktemp(dir=STATE, suffix=".json")
        wine([standin("wintool.exe")] + list(args), timeout=60, stdout=out)
        with open(out, encoding="utf-8", errors="replace") as f:
            text = f.read()
        os.unlink(out)
        try:
            return [json.loads(line) for line in text.splitlines() if line.strip()]
        except ValueError:
            if attempt == 2:
                raise


def windows():
    return wintool("list")


def visible_buttons(box):
    """The ids of a message box's visible buttons (Wine makes them all, then
    hides those the style does not ask for)."""
    return {c["id"] for c in box["children"] if c["class"] == "Button" and c["visible"]}


def xdotool_key(key):
    subprocess.run(["xdotool", "key", key], env=wine_env(), check=False, timeout=20,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def screenshot(name):
    """A picture of the screen, kept beside the Updater.exe under test."""
    os.makedirs(os.path.join(PRODUCT_BUILD, "screenshots"), exist_ok=True)
    path = os.path.join(PRODUCT_BUILD, "screenshots", name)
    subprocess.run(["import", "-window", "root", path], env=wine_env(), check=False, timeout=30,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


def reg(*args):
    return wine(["reg"] + list(args), timeout=60)


def reg_query(name):
    """(type, data) of a value in the host's key, or None when missing."""
    out = tempfile.mktemp(dir=STATE, suffix=".txt")
    code = wine(["reg", "query", REG_KEY, "/v", name], stdout=out)
    with open(out, encoding="utf-8", errors="replace") as f:
        text = f.read()
    os.unlink(out)
    if code != 0:
        return None
    for line in text.splitlines():
        parts = line.split(None, 2)
        if len(parts) >= 2 and parts[0] == name:
            return parts[1], (parts[2].strip() if len(parts) > 2 else "")
    return None


# --- session -----------------------------------------------------------------

def start_session():
    os.makedirs(STATE, exist_ok=True)
    print(describe())
    expected = "PE32, i686" if RUNS_32BIT else "PE32+, x86_64"
    if not os.path.exists(UPDATER_EXE) or pe_machine(UPDATER_EXE) != expected:
        raise SystemExit("the end-to-end runs need %s as %s" % (UPDATER_EXE, expected))
    stop_session()
    xvfb = subprocess.Popen(["Xvfb", DISPLAY, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    with open(os.path.join(STATE, "xvfb.pid"), "w") as f:
        f.write(str(xvfb.pid))
    prefix = os.path.join(STATE, "prefix")
    fresh = not os.path.exists(os.path.join(prefix, "system.reg"))
    wine(["wineboot", "-i"] if fresh else ["wineboot"], timeout=300)
    regfile = os.path.join(STATE, "session.reg")
    with open(regfile, "w", encoding="utf-16") as f:
        f.write("Windows Registry Editor Version 5.00\n\n"
                "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n\"Managed\"=\"N\"\n\"Decorated\"=\"Y\"\n\n"
                "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\n")
        link = ",".join("%02x,00" % b for b in "wqy-microhei.ttc,WenQuanYi Micro Hei".encode()) + ",00,00,00,00"
        for font in ("Tahoma", "MS Shell Dlg", "MS Shell Dlg 2"):
            f.write("\"%s\"=hex(7):%s\n" % (font, link))
    wine(["regedit", "/S", win_path(regfile)])
    wintool("metrics")  # the first program after a new prefix starts slowly
    subprocess.Popen([WINESERVER, "-p"], env=wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                     start_new_session=True)


def untrust_test_ca():
    if os.path.exists(TEST_CA):
        os.unlink(TEST_CA)
        subprocess.run(["update-ca-certificates", "--fresh"], check=False, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)


def stop_session():
    untrust_test_ca()
    subprocess.run([WINESERVER, "-k"], env=wine_env(), check=False, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    pidfile = os.path.join(STATE, "xvfb.pid")
    if os.path.exists(pidfile):
        try:
            with open(pidfile) as f:
                os.kill(int(f.read()), signal.SIGTERM)
        except (OSError, ValueError):
            pass
        os.unlink(pidfile)


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
        self.host = subprocess.Popen([WINE, standin("OrvessaStandin.exe"), win_path(self.host_log)] + list(flags),
                                     env=wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     stdin=subprocess.DEVNULL)
        self.wait_for(lambda: "started" in self.host_events(), 30, "stand-in host window")

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
