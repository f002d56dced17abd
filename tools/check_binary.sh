#!/usr/bin/env bash
# Checks the facts the i686 product must hold: PE32 GUI program for Windows XP
# (subsystem 5.01), system DLLs only, no MinGW runtime DLLs, no C++ exception
# runtime, ASLR, DEP and a stack protector, an application manifest that runs it as the invoking
# user; prints its size. With a second Updater.exe (another build of the same
# sources), also that both import the very same functions.
set -eu
usage="usage: check_binary.sh Updater.exe [REFERENCE.exe]"
case "${1:-}" in
  -h|--help) echo "$usage"; echo "Checks the facts the i686 product must hold; with REFERENCE, that both import the same."; exit 0 ;;
  -*|"") echo "$usage" >&2; exit 2 ;;
esac
exe=$1
reference=${2:-}
here=$(dirname "$0")
dump=$(i686-w64-mingw32-objdump -p "$exe")
fail=0
check() { if ! grep -qE "$2" <<<"$dump"; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }
check "PE32 (32-bit) image" '^Magic[[:space:]]+010b'
check "Windows GUI subsystem" '^Subsystem[[:space:]]+00000002'
check "subsystem version 5.01" '^MajorSubsystemVersion[[:space:]]+5$'
check "subsystem minor version 1" '^MinorSubsystemVersion[[:space:]]+1$'
check "ASLR (DYNAMIC_BASE)" '^[[:space:]]+DYNAMIC_BASE$'
check "DEP (NX_COMPAT)" '^[[:space:]]+NX_COMPAT$'
allowed='^(ADVAPI32|CRYPT32|KERNEL32|msvcrt|SHELL32|urlmon|USER32|VERSION|WININET|WINTRUST)\.dll$'
dlls=$(awk '/DLL Name:/ {print $3}' <<<"$dump")
for dll in $dlls; do
  if grep -qiE "$allowed" <<<"$dll"; then echo "ok: imports $dll"; else echo "FAIL: imports $dll"; fail=1; fi
done
imports() { i686-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ {dll=$3; next} /^$/ {dll=""} dll && NF == 3 && $2 ~ /^[0-9]+$/ {print dll, $3}' | sort; }
if [ -n "$reference" ]; then
  if [ "$(imports "$exe")" = "$(imports "$reference")" ]; then
    echo "ok: the same $(imports "$exe" | wc -l) imports as $reference"
  else
    echo "FAIL: imports differ from $reference:"; diff <(imports "$reference") <(imports "$exe") || true; fail=1
  fi
fi
if grep -qiE 'libgcc|libstdc|libwinpthread' <<<"$dlls"; then echo "FAIL: MinGW runtime DLL imported"; fail=1; fi
if i686-w64-mingw32-objdump -h "$exe" | grep -q '\.debug'; then echo "FAIL: not stripped"; fail=1; else echo "ok: stripped"; fi
# The C++ exception runtime, once linked in, brings its messages and type names
# along, stripped or not.
if grep -aqE '__gxx_personality|terminate called|St9exception' "$exe"; then
  echo "FAIL: C++ exception runtime linked in"; fail=1
else
  echo "ok: no C++ exception runtime"
fi
if grep -aq 'stack smashing detected' "$exe"; then echo "ok: stack protector linked in"; else echo "FAIL: no stack protector"; fail=1; fi
manifest=$(/usr/bin/python3 "$here/pe_resource.py" "$exe" 24 1 || true)
if grep -qE '<requestedExecutionLevel[^>]*level="asInvoker"[^>]*uiAccess="false"' <<<"$manifest"; then
  echo "ok: manifest runs it as the invoking user (asInvoker)"
else
  echo "FAIL: no application manifest with requestedExecutionLevel asInvoker"; fail=1
fi
size=$(stat -c %s "$exe")
echo "size: $size bytes ($(( (size + 1023) / 1024 )) KiB)"
if [ "$size" -gt 65536 ]; then echo "FAIL: larger than 64 KiB"; fail=1; fi
exit $fail
