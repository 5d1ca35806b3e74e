#!/bin/sh
# Packs the release zip of a build tree, unpacks it into an empty folder and
# uses it as an integrator would: its README must be the whole guide; a C host
# found through find_package is built with GCC and GNU ld and calls all eight
# exports under Wine from the installation the guide lays out; the COFF import
# library must name every export of the .def; and each binary must match its
# PDB.
#   check-dist.sh BUILD-DIR VERSION
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
src=$root
. "$root/scripts/lib.sh"
build=$1
version=$2
work="$build/dist-check"
rm -rf "$work"
mkdir -p "$work/pack" "$work/unpacked" "$work/run" "$work/winpe/Windows/System32"

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

# The guide names every export, every file the PE flow uses in the PE folder
# (the PE folder's paths of the builder's constants) and every tool the
# exports run (each has a stand-in), with the interpreter and the boot-disk
# library and its export.
guide="$prefix/README"
pe_files=$(sed -n 's/.*L"%ls\\\\\([^"]*\)".*/\1/p; s/.*L"\(pe_requirements[^"]*\)".*/\1/p' \
    "$root/src/pemaker/PEMakerConstants.h" | sed 's/\\\\/\\/g')
[ "$(printf '%s\n' "$pe_files" | wc -l)" -ge 8 ] || { echo "the PE folder's paths were not found"; status=1; }
tools=$(cd "$build/bin/tools" && ls -- *.exe | sed 's/\.exe$//')
others=$(sed -n 's/.*kShellPrefix = L"\([^ ]*\) .*/\1/p' "$root/src/common/RunnerConstants.h"
    sed -n 's/.*kBootDisk[A-Za-z]* = "\(.*\)";/\1/p' "$root/src/pemaker/PEMakerConstants.h")
for name in $(sed -n '/^EXPORTS/,$p' "$prefix/lib/TarnwickMedia.def" | sed '1d' | awk '{print $1}') \
    $(printf '%s\n' "$pe_files" | sed 's/^/PE\\/') $tools $others; do
    grep -qF "\`$name" "$guide" || { printf "the zip's README does not name %s\n" "$name"; status=1; }
done
grep -q '^## Linking$' "$guide" && ! grep -q 'guide -->' "$guide" \
    || { echo "the zip's README is not the guide of README.md"; status=1; }

cmake -S "$here/host" -B "$work/host" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DTarnwickMedia_DIR="$prefix/lib/cmake/TarnwickMedia" >"$work/host.log" 2>&1 \
    && cmake --build "$work/host" >>"$work/host.log" 2>&1 \
    || { cat "$work/host.log"; exit 1; }

# The installation as the guide lays it out, with the stand-ins as its tools:
# a BOOT.wim without the application folder, which ConfigureBootWim adds.
app="$work/app"
mkdir -p "$app/PE/ISO/BOOT" "$app/PE/ISO/SOURCES" "$app/PE/pe_requirements/cef" "$app/tools"
cp "$work/host/dist_host.exe" "$prefix/bin/TarnwickMedia.dll" "$prefix/bin/ravenfs.dll" "$app/"
cp "$build/bin/tools/"* "$app/tools/"
head -c 2048 /dev/zero >"$app/PE/etfsboot.com"
printf 'ramdisk options\n' >"$app/PE/ISO/BOOT/BOOT.SDI"
printf 'runtime\n' >"$app/PE/pe_requirements/cef/runtime.dll"
printf 'shell\n' >"$work/winpe/Windows/System32/winpeshl.exe"
wimlib-imagex capture "$work/winpe" "$app/PE/ISO/SOURCES/BOOT.wim" WinPE --boot --quiet >/dev/null
(cd "$work/run" && WINEPATH="$(winpath "$app/tools")" "$root/cmake/wine-run.sh" "$app/dist_host.exe") \
    >"$work/host.out" 2>&1 || { echo "the host failed"; status=1; }
made='0 5 15 85 90 90 100'
expected="ConfigureBootWim 1 0 5 20 100
MakePEFromList 1 $made
MakePE 1 $made
MakePEWithOptions 0 failed: BuildPE: Unknown flags
ConvertESDToISO 0
ConvertESDToISOEx 0
ConvertESDToISOWithOptions 0 0 failed: Error: ESD file not found
ExtractWinreFromRecoveryPartition 0"
calls=$(grep -E '^(ConfigureBootWim|MakePE|ConvertESDToISO|ExtractWinre)[A-Za-z]* ' "$work/host.out" | tr -d '\r')
[ "$calls" = "$expected" ] || { printf 'the host saw\n%s\n' "$(cat "$work/host.out")"; status=1; }
for iso in list-iso vector-iso; do
    [ -s "$work/run/$iso/boot.iso" ] || { echo "no $iso/boot.iso"; status=1; }
done
# Successful calls log nothing; the converter echoes to standard output.
logged=$(sed -n 's/^\[Tarnwick\][-0-9]* [0-9:]*    \([A-Za-z]*\):.*/\1/p' "$work/run/tarnwick.log" | sort -u | tr '\n' ' ')
[ "$logged" = "CPEMaker ConvertESDToISO ConvertESDToISOEx ConvertESDToISOWithOptions ExtractWinreFromRecoveryPartition " ] \
    || { echo "tarnwick.log has entries of: $logged"; status=1; }
grep -q '^ESD file: .*missing\.esd' "$work/host.out" || { echo "no converter echo on standard output"; status=1; }

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
