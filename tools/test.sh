#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test through
# ctest: unit tests, fuzzing, the binary check and the end-to-end suites.
set -eu
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh
export RELIABILITY_OUT="$PWD/docs/reliability.md"
under_test=$(/usr/bin/python3 tests/e2e/harness.py describe)
echo "$under_test"
cd build/native
status=0
ctest --output-on-failure "$@" || status=$?
echo "$under_test"
exit $status
