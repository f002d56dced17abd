#!/usr/bin/env bash
# Installs what is missing, builds the x86_64 program with its stand-ins and
# runs it under Wine on the bundled defaults. Options: see --help.
set -eu
cd "$(dirname "$0")/.."
case "${1:-}" in -h|--help) exec /usr/bin/python3 tools/demo.py --help ;; esac
bash tools/install-deps.sh
cmake --preset win64-test >/dev/null
cmake --build build/win64 >/dev/null
exec /usr/bin/python3 tools/demo.py "$@"
