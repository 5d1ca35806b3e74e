#!/bin/sh
# Installs the Debian packages the build, the tests, the demo and the
# benchmarks need (genisoimage for mkwinpeimg, the MakePE benchmark's peer), if
# any is missing, and the one locale the tests use besides C. Needs root (or
# sudo) only when something must be installed.
set -e
packages="cmake make procps locales g++ clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix wine64 googletest wimtools genisoimage xorriso ntfs-3g qemu-system-x86 ovmf nasm mtools llvm lld"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
# A log test runs a program whose ANSI code page is 1251, which Wine takes
# from this locale.
if ! locale -a | grep -qx 'ru_RU.utf8'; then
    echo "Generating the locale ru_RU.UTF-8"
    $sudo localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
