"""updater-manifest report against grep over one generated access log of
2,000,000 lines (a tenth of them reports), both reading from the page cache
and both writing to a file (with its output on /dev/null GNU grep stops at the
first match). Writes its section of docs/performance.md."""
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

from sections import put_section

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOL = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "publisher", "publisher", "updater-manifest")
LINES = 2000000
ROUNDS = int(os.environ.get("BENCH_ROUNDS", "7"))
EVENTS = ["declined", "failed", "start-failed", "updated", "not-applied", "expired"]


def generate(path):
    rng = random.Random(1)
    with open(path, "w") as f:
        for i in range(LINES):
            stamp = "%02d/Nov/2026:%02d:%02d:%02d +0000" % (1 + i * 28 // LINES, i % 24, i % 60, rng.randrange(60))
            if i % 10 == 0:
                event = EVENTS[rng.randrange(6)]
                request = "GET /api/pellixupdatereport?e=%s&from=1.1.0.12181&to=1.1.0.%d&code=%s&tenth=%d" % (
                    event, 12182 + rng.randrange(3), "http-404" if event == "failed" else "", rng.randrange(10))
                status, size = 204, 0
            else:
                request = "GET /download/setup.exe" if i % 7 else "GET /api/pellixupdatecfg.xml?1"
                status, size = 200, rng.randrange(100000)
            f.write('10.%d.%d.%d - - [%s] "%s HTTP/1.1" %d %d "-" "http://update.example.com/api/pellixupdatecfg'
                    '.xml?1"\n' % (i % 250, i % 200, i % 100, stamp, request, status, size))


def timed(command, out):
    with open(out, "w") as f:
        start = time.perf_counter()
        subprocess.run(command, stdout=f, check=False)
        return time.perf_counter() - start


def main():
    with tempfile.TemporaryDirectory() as folder:
        log = os.path.join(folder, "access.log")
        generate(log)
        size = os.path.getsize(log)
        for _ in range(2):  # into the page cache
            timed(["cat", log], os.path.join(folder, "warm"))
        tool, grep = [], []
        for _ in range(ROUNDS):
            tool.append(timed([TOOL, "report", log], os.path.join(folder, "report.txt")))
            grep.append(timed(["grep", "-c", "pellixupdatereport", log], os.path.join(folder, "grep.txt")))
        with open(os.path.join(folder, "report.txt")) as f:
            last = f.read().strip().splitlines()[-1]
    t, g = statistics.median(tool), statistics.median(grep)
    lines = [
        "Measured by `python3 bench/report_bench.py` on %s (%d rounds, medians), over one generated access log of "
        "%d lines (%.0f MB), a tenth of them reports, read from the page cache; both outputs go to a file." % (
            time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), ROUNDS, LINES, size / 1e6),
        "",
        "| Command | Time (s) | Throughput (MB/s) |",
        "|---|---|---|",
        "| `updater-manifest report access.log` | %.3f | %.0f |" % (t, size / 1e6 / t),
        "| `grep -c pellixupdatereport access.log` | %.3f | %.0f |" % (g, size / 1e6 / g),
        "",
        "Ratio: %.2f (target: within 3x of grep: %s). The report's last line: `%s`." % (
            t / g, "meets" if t / g <= 3 else "misses", last),
    ]
    put_section("## updater-manifest report", lines)
    print("\n".join(lines))


if __name__ == "__main__":
    main()
