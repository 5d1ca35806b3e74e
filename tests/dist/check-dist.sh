#!/bin/sh
# Packs the release zip of a build tree, unpacks it into an empty folder and
# uses it as an integrator would: a C host found through find_package is built
# with GCC and GNU ld and run under Wine, the COFF import library must name
# every export of the .def, and each binary must match its PDB.
#   check-dist.sh BUILD-DIR VERSION
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$1
version=$2
work="$build/dist-check"
rm -rf "$work"
mkdir -p "$work/pack" "$work/unpacked" "$work/run"

cmake -DTW_DIST_DIR="$work/pack" -P "$build/packaging/make-zip.cmake" >"$work/pack.log" 2>&1 \
    || { cat "$work/pack.log"; exit 1; }
zip="$work/pack/TarnwickMedia-$version-win64.zip"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
prefix="$work/unpacked/TarnwickMedia-$version-win64"

status=0
for file in bin/tarnwick.exe lib/TarnwickMedia.def README LICENSE THIRD-PARTY-NOTICES \
    symbols/TarnwickMedia.pdb symbols/ravenfs.pdb symbols/tarnwick.pdb $(cd "$root" && ls include/*.h); do
    [ -f "$prefix/$file" ] || { echo "missing from the zip: $file"; status=1; }
done
"$here/check-symbols.sh" "$prefix" "$work/symbols" || status=1

cmake -S "$here/host" -B "$work/host" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_PREFIX_PATH="$prefix" >"$work/host.log" 2>&1 \
    && cmake --build "$work/host" >>"$work/host.log" 2>&1 \
    || { cat "$work/host.log"; exit 1; }
if ! (cd "$work/run" && "$root/cmake/wine-run.sh" "$work/host/dist_host.exe"); then
    echo "the host's call did not fail as it should"
    status=1
fi
grep -q "ConvertESDToISO" "$work/run/tarnwick.log" 2>/dev/null \
    || { echo "no ConvertESDToISO entry in the host's tarnwick.log"; status=1; }

# Short import members for TarnwickMedia.dll, behind x86-64 COFF descriptor objects.
lib="$prefix/lib/TarnwickMedia.lib"
formats=$(llvm-objdump -a "$lib" | sed -n 's/.*file format //p' | sort -u | tr '\n' ' ')
[ "$formats" = "COFF-import-file coff-x86-64 " ] \
    || { echo "TarnwickMedia.lib holds $formats, not an x86-64 COFF import library"; status=1; }
symbols=$(llvm-nm "$lib")
printf '%s\n' "$symbols" | grep ':$' | grep -qvx 'TarnwickMedia.dll:' \
    && { echo "TarnwickMedia.lib imports from another DLL than TarnwickMedia.dll"; status=1; }
for name in $(sed -n '/^EXPORTS/,$p' "$root/src/exports/TarnwickMedia.def" | sed '1d' | awk '{print $1}'); do
    for symbol in "$name" "__imp_$name"; do
        printf '%s\n' "$symbols" | grep -Eq "^[0-9a-f ]+ T $symbol\$" \
            || { echo "TarnwickMedia.lib does not name $symbol"; status=1; }
    done
done
exit $status
