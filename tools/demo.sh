#!/usr/bin/env bash
# Installs what is missing, builds the i686 product for the stand-in server
# and the x86_64 stand-ins, and runs the product under Wine on the bundled
# defaults (the x86_64 build where this machine refuses 32-bit programs).
# Options: see --help.
set -eu
cd "$(dirname "$0")/.."
case "${1:-}" in -h|--help) exec /usr/bin/python3 tools/demo.py --help ;; esac
bash tools/install-deps.sh
for preset in win32-test:build/win32-test win64-test:build/win64; do
  cmake --preset "${preset%%:*}" >/dev/null
  cmake --build "${preset#*:}" >/dev/null
done
exec /usr/bin/python3 tools/demo.py "$@"
