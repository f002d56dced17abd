"""The machine and the Wine session the end-to-end runs share: which
Updater.exe is under test (the i686 product where this machine runs 32-bit
programs, the x86_64 build elsewhere), the product's limits as the tests read
them, Wine and its tools, the registry, and the session's start and stop (one
Wine prefix and one Xvfb display for the whole run).
"""
import json
import os
import signal
import struct
import subprocess
import tempfile

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


def build_setting(name):
    """A setting the build under test was configured with, from its CMake
    cache: a download ceiling (UPDATER_MAX_CONTENT_MB, UPDATER_MAX_INSTALLER_MB)
    or a time bound (UPDATER_START_BACKOFF_MS, UPDATER_DOWNLOAD_MAX_MS)."""
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
