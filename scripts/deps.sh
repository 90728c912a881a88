#!/bin/sh
# Installs the Debian packages the build and the tests need, if any is
# missing (the RFC 2217 tests run real clients: pyserial, C-Kermit,
# microcom, a telnet client). Runs apt-get as root, through sudo
# otherwise. With "fuzz": what the fuzz targets need (clang and its
# libFuzzer and sanitizer runtimes).
set -e
if [ "${1:-}" = fuzz ]; then
  pkgs="cmake ninja-build make clang libclang-rt-14-dev"
else
  pkgs="cmake ninja-build g++ make pkg-config googletest libgtest-dev
        qt6-base-dev libgl-dev
        g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64
        xvfb xauth socat procps
        python3-serial ckermit microcom telnet
        dpkg-dev file zip unzip desktop-file-utils man-db groff-base"
fi
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends $missing
