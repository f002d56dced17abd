"""Runs Updater.exe (the i686 product where this machine runs 32-bit programs,
otherwise the x86_64 build) under Wine against the stand-in update
server and the stand-in Orvessa, the way a user meets it, and prints what
happened. Scenario names: see --help.
"""
import argparse
import os
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
os.environ.setdefault("UPDATER_WIN64_DIR", os.path.join(ROOT, "build", "win64"))
os.environ.setdefault("E2E_STATE_DIR", os.path.join(ROOT, "build", "win64", "demo"))
os.environ.setdefault("E2E_DISPLAY", ":88")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import harness  # noqa: E402
from harness import MANIFEST_PATH, PROMPT_CAPTION, REG_KEY, Case, manifest, reg, reg_query  # noqa: E402
from standin_server import Route, StandinServer  # noqa: E402

SCENARIOS = {
    "upgrade": "a newer version (optional) and a new content file; the prompt is answered Yes",
    "up-to-date": "the manifest names the installed version and no content file",
    "declined": "a newer version is offered and the prompt is answered No",
    "forced": "a forced upgrade: the OK-only notice is acknowledged",
    "content-only": "the installed version is current; only a new content file is announced",
    "server-down": "nothing listens at the update server's address",
}


def build_routes(server, scenario, installer):
    newer, current = "1.1.0.12182", "1.1.0.12181"
    content = dict(swf_url=server.url("/content/mnMain.swf"), swf_date="2013-01-05|10:00:00")
    setup = server.url("/download/setup.exe")
    bodies = {
        "upgrade": manifest(version=newer, url=setup, **content),
        "up-to-date": manifest(version=current, url=setup),
        "declined": manifest(version=newer, url=setup, **content),
        "forced": manifest(version=newer, url=setup, flag="force", **content),
        "content-only": manifest(version=current, url=setup, **content),
    }
    return {MANIFEST_PATH: Route(bodies[scenario], content_type="text/xml"),
            "/content/mnMain.swf": Route(harness.swf_bytes(b"demo content", 64 * 1024)),
            "/download/setup.exe": Route(installer, piece=256 * 1024, delay=0.25)}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog="scenarios:\n" + "\n".join("  %-13s %s" % kv for kv in SCENARIOS.items()))
    parser.add_argument("--scenario", choices=sorted(SCENARIOS), default="upgrade")
    args = parser.parse_args()

    print("Orvessa Updater on the bundled defaults: scenario '%s' (%s)" % (args.scenario, SCENARIOS[args.scenario]))
    harness.start_session()
    server = None
    case = None
    try:
        installer = harness.installer_bytes(3 * 1024 * 1024)
        if args.scenario != "server-down":
            server = StandinServer(harness.PORT)
            server.reset(build_routes(server, args.scenario, installer))
        reg("delete", r"HKCU\Software\TarvelonMM", "/f")
        case = Case()
        case.start_host()
        print("  stand-in update server : %s" % ("http://127.0.0.1:%d" % harness.PORT if server else "down"))
        print("  stand-in Orvessa       : running, window \"Orvessa\", file version 1.1.0.12181")
        print("  program folder         : %s" % case.app)
        print("  temp folder (TEMP/TMP) : %s" % case.temp)
        case.start()
        shots = []
        answer = {"declined": "n", "forced": "Return"}.get(args.scenario, "y")
        prompt = None
        while case.proc.poll() is None:
            box = case.settled_box(PROMPT_CAPTION)
            if box:
                prompt = box
                shots.append(harness.screenshot("demo-prompt.png"))
                time.sleep(0.3)
                harness.xdotool_key(answer)
                break
            time.sleep(0.3)
        if prompt and answer != "n":
            deadline = time.time() + 30
            while case.proc.poll() is None and time.time() < deadline:
                windows = harness.windows()
                if any(w["class"] == "#32770" and any(c["id"] == 1000 and c.get("pos", 0) > 0 for c in w["children"])
                       for w in windows):
                    shots.append(harness.screenshot("demo-progress.png"))
                    break
                time.sleep(0.2)
        code = case.finish(timeout=180)
        time.sleep(1.5)

        print("\nWhat the program requested:")
        for request in (server.requests if server else []):
            print("  GET %-40s User-Agent: %s" % (request["path"], request["headers"].get("user-agent", "")))
        if not server:
            print("  (the update server was down: the request was refused)")
        if prompt:
            text = {c["id"]: c["title"] for c in prompt["children"]}.get(65535, "")
            buttons = [c["title"].replace("&", "") for c in prompt["children"]
                       if c["class"] == "Button" and c["visible"]]
            print("\nPrompt \"%s\": \"%s\" buttons %s, answered %s"
                  % (prompt["title"], text, "/".join(buttons), {"y": "Yes", "n": "No"}.get(answer, "OK")))
        else:
            print("\nNo prompt was shown.")

        print("\nWork folder %s:" % case.work)
        for name in sorted(os.listdir(case.work)) if os.path.isdir(case.work) else []:
            path = case.path(name)
            note = ""
            if name == "installer-ran.txt":
                note = ", written by the stand-in installer when it ran"
            if name == "setup.exe":
                note = ", same bytes as served" if harness.read_bytes(path) == installer else ", DIFFERS from served"
            print("  %-20s %9d bytes%s" % (name, os.path.getsize(path), note))
        flag, stamp = reg_query("swfUpdate"), reg_query("swfUpdateTime")
        print("\nRegistry %s:" % REG_KEY)
        print("  swfUpdate     = %s" % (" ".join(flag) if flag else "(not written)"))
        print("  swfUpdateTime = %s" % (" ".join(stamp) if stamp else "(not written)"))

        events = case.host_events()
        runs = case.installer_runs()
        print("\nHost application: %s" % ("received WM_CLOSE and exited" if "exit" in events
                                          else "received WM_CLOSE, still running" if "WM_CLOSE" in events
                                          else "left running"))
        if runs:
            after = " %.1f s after the close request" % (runs[0] - events["WM_CLOSE"]) if "WM_CLOSE" in events else ""
            print("Installer: started%s" % after)
        else:
            print("Installer: not started")
        print("Exit status: %d (after %.1f s)" % (code, case.elapsed))
        if shots:
            print("\nScreenshots:")
            for shot in shots:
                print("  " + os.path.relpath(shot, ROOT))
        log = case.path("update.log")
        kept = os.path.join(harness.PRODUCT_BUILD, "demo-update.log")  # the case folder goes at the end
        print("\nThe run's log, %%TEMP%%\\kelvaport\\update.log of this run (a copy stays in %s):"
              % os.path.relpath(kept, ROOT))
        if os.path.exists(log):
            shutil.copy(log, kept)
            sys.stdout.write("".join("  " + line + "\n" for line in
                                     harness.read_bytes(log).decode("utf-8", "replace").splitlines()))
        else:
            print("  (none: the run stopped before its work folder was ready)")
        return 0
    finally:
        if case:
            case.cleanup()
        if server:
            server.close()
        harness.stop_session()


if __name__ == "__main__":
    sys.exit(main())
