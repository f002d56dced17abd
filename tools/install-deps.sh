#!/usr/bin/env bash
# Installs what the builds and tests need from Debian's archive; installs
# nothing when everything is there already. 32-bit Wine goes in only where the
# kernel runs 32-bit programs: elsewhere it would make `wine` itself fail.
set -eu
packages="cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev mingw-w64 wine64 xvfb xdotool
          imagemagick fonts-wqy-microhei python3 nginx osslsigncode openssl ca-certificates libssl-dev
          libcurl4-openssl-dev zlib1g-dev tinyproxy g++-multilib chromium"
sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=""
for package in $packages; do installed "$package" || missing="$missing $package"; done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q $missing
fi

# Does this kernel run i386 programs at all? A tiny static probe answers
# without any package: the 96 bytes below are a hand-assembled i386 ELF that
# only calls exit(0).
probe=$(mktemp)
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80' >"$probe"
chmod +x "$probe"
if "$probe" 2>/dev/null; then runs32=1; else runs32=0; fi
rm -f "$probe"

if [ "$runs32" = 1 ]; then
  if ! installed wine32:i386; then
    echo "installing: wine32 (this machine runs 32-bit programs)"
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q wine32:i386
  fi
  /usr/lib/wine/wine --version >/dev/null 2>&1 || { echo "32-bit Wine does not start" >&2; exit 1; }
elif installed wine32:i386; then
  echo "removing wine32: this machine refuses 32-bit programs, and it would make 'wine' fail"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -q wine32:i386
fi
