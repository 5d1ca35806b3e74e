#!/bin/sh
# make-ntfs-image.sh IMAGE SIZE_MIB [CLUSTER_BYTES] < commands
# Makes a fresh NTFS image with mkntfs and fills it with ntfs-image/NtfsFill.cpp
# (commands described there). The filler is compiled once per source version.
set -eu
image=$1
size_mib=$2
cluster=${3:-4096}
here=$(cd "$(dirname "$0")" && pwd)
source=$here/ntfs-image/NtfsFill.cpp
cache=${TW_NTFS_FILL_CACHE:-/tmp/tw-ntfs-fill}
filler=$cache/ntfs-fill-$(sha1sum "$source" | cut -c1-12)
if [ ! -x "$filler" ]; then
    mkdir -p "$cache"
    c++ -std=c++17 -O2 -o "$filler.$$" "$source" -l:libntfs-3g.so.89
    mv "$filler.$$" "$filler"
fi
rm -f "$image"
truncate -s "${size_mib}M" "$image"
mkntfs -F -Q -q -s 512 -c "$cluster" -L Recovery "$image"
"$filler" "$image"
