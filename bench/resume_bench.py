"""A 64 MiB installer over a line that breaks twice, against the same installer
whole: the body bytes on the wire and the time from the first request to the
last byte, measured at the stand-in server, in alternating rounds. Writes its
section of docs/performance.md. Run through bench/run.sh (it builds first)."""
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
os.environ.setdefault("UPDATER_WIN64_DIR", os.path.join(ROOT, "build", "win64"))
os.environ.setdefault("E2E_STATE_DIR", os.path.join(ROOT, "build", "bench-resume"))
os.environ.setdefault("E2E_DISPLAY", ":89")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import harness  # noqa: E402
from harness import MANIFEST_PATH, Case, installer_bytes, manifest  # noqa: E402
from sections import put_section  # noqa: E402
from standin_server import Route, StandinServer  # noqa: E402

ROUNDS = int(os.environ.get("BENCH_ROUNDS", "5"))
SIZE = 64 * 1024 * 1024
CUTS = [SIZE // 3, SIZE // 3]  # the first answer breaks at a third, the second a third later


def one_run(server, route):
    """Bytes on the wire and seconds from the first request to the last byte."""
    offer = manifest(version="1.1.0.12182", url=server.url("/setup.exe"), flag="force")
    server.reset({MANIFEST_PATH: Route(offer), "/setup.exe": route})
    case = Case()
    try:
        case.start()
        case.answer_prompt("Return")
        case.finish(timeout=600)
        asked = [r for r in server.requests if r["path"] == "/setup.exe"]
        case.wait_for(case.installer_runs, 30, "the installer to run")
        return sum(r["sent"] for r in asked), asked[-1]["finished"] - asked[0]["time"], len(asked)
    finally:
        case.cleanup()


def main():
    data = installer_bytes(SIZE)
    harness.start_session()
    server = StandinServer(harness.PORT)
    runs = {"whole": [], "cut twice": []}
    try:
        for _ in range(ROUNDS):
            runs["whole"].append(one_run(server, Route(data, etag='"v1"')))
            runs["cut twice"].append(one_run(server, Route(data, etag='"v1"', cuts=CUTS)))
    finally:
        server.close()
        harness.stop_session()
    rows = []
    for name, results in runs.items():
        wire = statistics.median(r[0] for r in results)
        seconds = statistics.median(r[1] for r in results)
        rows.append((name, results[0][2], wire, seconds))
    whole, cut = rows
    lines = [
        "Measured by `python3 bench/resume_bench.py` on %s (%d rounds, alternating; medians). %s, under Wine on "
        "Xvfb, against the stand-in server on 127.0.0.1; both figures are taken at the server: the body bytes it "
        "sent, and the time from the first request's arrival to the last byte handed to the socket." % (
            time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), ROUNDS, harness.describe()),
        "",
        "| 64 MiB installer | Requests | Body bytes on the wire | Ratio to the size | Time (s) | MB/s |",
        "|---|---|---|---|---|---|",
    ]
    for name, requests, wire, seconds in rows:
        lines.append("| %s | %d | %d | %.3f | %.2f | %.1f |" % (name, requests, wire, wire / SIZE, seconds,
                                                               SIZE / seconds / 1e6))
    lines += ["", "The connection is dropped after %d bytes of the first answer and %d of the second; each rest is "
              "asked for with `Range` and `If-Range`. Time ratio, cut twice to whole: %.2f." % (
                  CUTS[0], CUTS[1], cut[3] / whole[3])]
    put_section("## Resuming a broken installer download", lines)
    print("\n".join(lines))


if __name__ == "__main__":
    main()
