#!/bin/sh
# The real image that the NTFS fuzz target mutates: small, with every
# structure the reader knows (index blocks, attribute list, sparse and
# resident data, a short name).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(dirname "$TW_FUZZ_IMAGE")
mkdir -p "$work"
head -c 120000 /dev/zero | tr '\0' 'w' > "$work/frag.bin"
head -c 700 /dev/zero | tr '\0' 'r' > "$work/small.bin"
"$here/../../scripts/make-ntfs-image.sh" "$TW_FUZZ_IMAGE" 2 512 > "$work/base.log" 2>&1 <<COMMANDS
mkdir /Recovery
mkdir /Recovery/WindowsRE
put /Recovery/WindowsRE/winre.wim $work/small.bin
mkdir /Dir
fill /Dir 10 40
dosname /Dir/f000001 F1.TXT
sparse /Dir/sparse.bin 20000
mkdir /S
fragput /frag.bin $work/frag.bin 512 /S
COMMANDS
