#!/usr/bin/env bash
# Installs what the builds and tests need from Debian's archive; installs
# nothing when everything is there already.
set -eu
packages="cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev mingw-w64 wine64 xvfb xdotool
          imagemagick fonts-wqy-microhei python3"
missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
echo "installing:$missing"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q $missing
