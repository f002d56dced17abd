#!/usr/bin/env bash
# Builds the i686 product, the same product pointed at the stand-in server
# (the program the end-to-end runs use where 32-bit programs run), the x86_64
# test build with its stand-ins, and the native logic with its tests. Set
# UPDATER_SERVER_HOST to build the product for a real update server.
set -eu
cd "$(dirname "$0")/.."
host_arg=()
[ -n "${UPDATER_SERVER_HOST:-}" ] && host_arg=(-DUPDATER_SERVER_HOST="$UPDATER_SERVER_HOST")
cmake --preset win32 "${host_arg[@]}" >/dev/null
cmake --preset win32-test >/dev/null
cmake --preset win64-test >/dev/null
cmake --preset native >/dev/null
for dir in build/win32 build/win32-test build/win64 build/native; do
  cmake --build "$dir"
done
