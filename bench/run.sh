#!/usr/bin/env bash
# Builds what the benchmarks need and runs them; writes docs/performance.md.
set -eu
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset win32 >/dev/null && cmake --build build/win32 >/dev/null
cmake --preset win32-test >/dev/null && cmake --build build/win32-test >/dev/null
cmake --preset win64-test >/dev/null && cmake --build build/win64 >/dev/null
/usr/bin/python3 bench/bench.py
exec /usr/bin/python3 bench/resume_bench.py
