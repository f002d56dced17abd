#!/usr/bin/env bash
# Builds the i686 product, the same product pointed at the stand-in server
# (the program the end-to-end runs use where 32-bit programs run) and a copy
# with the test signer pins, the x86_64 test builds with the stand-ins, and
# the native logic with its tests. Set
# UPDATER_SERVER_HOST to build the product for a real update server.
set -eu
cd "$(dirname "$0")/.."
host_arg=()
[ -n "${UPDATER_SERVER_HOST:-}" ] && host_arg=(-DUPDATER_SERVER_HOST="$UPDATER_SERVER_HOST")
cmake --preset win32 "${host_arg[@]}" >/dev/null
for preset in win32-test win32-pinned win32-signed win32-https win64-test win64-pinned win64-signed win64-https \
              win64-product native; do
  cmake --preset "$preset" >/dev/null 2>&1 || cmake --preset "$preset"
done
for dir in build/win32 build/win32-test build/win32-pinned build/win32-signed build/win32-https build/win64 \
           build/win64-pinned build/win64-signed build/win64-https build/win64-product build/native; do
  cmake --build "$dir"
done
