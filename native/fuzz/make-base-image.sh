#!/bin/sh
# make-base-image.sh OUTPUT.tar.xz
# Makes the NTFS image that the NTFS fuzz target patches: small, with every
# structure the reader knows (a two-level index, a deep folder, a file in
# hundreds of runs behind an attribute list, sparse and resident data, a short
# name). The corpus is only meaningful against the image it was found with,
# so the image is committed and this script is run only to replace both.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
output=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 300000 /dev/zero | tr '\0' 'w' > "$work/frag.bin"
head -c 700 /dev/zero | tr '\0' 'r' > "$work/small.bin"
"$here/../../scripts/make-ntfs-image.sh" "$work/ntfs-base.img" 2 512 > "$work/base.log" 2>&1 <<COMMANDS || { cat "$work/base.log" >&2; exit 1; }
mkdir /Recovery
mkdir /Recovery/WindowsRE
put /Recovery/WindowsRE/winre.wim $work/small.bin
mkdir /Deep
mkdir /Deep/a
mkdir /Deep/a/b
mkdir /Deep/a/b/c
mkdir /Deep/a/b/c/d
mkdir /Deep/a/b/c/d/e
mkdir /Deep/a/b/c/d/e/f
put /Deep/a/b/c/d/e/f/leaf.txt $work/small.bin
mkdir /Dir
fill /Dir 10 120
dosname /Dir/f000001 F1.TXT
sparse /Dir/sparse.bin 20000
mkdir /S
fragput /frag.bin $work/frag.bin 1024 /S
COMMANDS
tar -C "$work" --owner=0 --group=0 --numeric-owner --mtime=@0 -cJf "$output" ntfs-base.img
