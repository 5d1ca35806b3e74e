#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need, if any
# is missing. Needs root (or sudo) only when something must be installed.
set -e
packages="cmake make procps g++ clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix wine64 googletest wimtools xorriso ntfs-3g qemu-system-x86 ovmf nasm mtools llvm"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
