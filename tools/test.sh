#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test through
# ctest: unit tests, fuzzing, the binary check and the end-to-end suites.
set -eu
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh
export RELIABILITY_OUT="$PWD/docs/reliability.md"
cd build/native
ctest --output-on-failure "$@"
