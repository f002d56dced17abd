#!/usr/bin/env bash
# Builds the i686 product twice, from these sources and options, in two
# folders of their own, and compares the two Updater.exe byte for byte:
# a publisher can then prove what shipped, and the file keeps the reputation
# Windows and antivirus tools give one that does not change.
set -eu
cd "$(dirname "$0")/.."
case "${1:-}" in -h|--help) echo "usage: reproducible.sh [CMAKE_OPTION]..."; exit 0 ;; esac
first=$(mktemp -d) second=$(mktemp -d)
trap 'rm -rf "$first" "$second"' EXIT
for dir in "$first" "$second"; do
  cmake --preset win32 -B "$dir" "$@" >/dev/null 2>&1
  cmake --build "$dir" >/dev/null
done
if cmp "$first/Updater.exe" "$second/Updater.exe"; then
  echo "ok: two builds in two folders are the same $(stat -c %s "$first/Updater.exe") bytes"
else
  echo "FAIL: two builds of the same sources differ:"; cmp -l "$first/Updater.exe" "$second/Updater.exe" | head
  exit 1
fi
