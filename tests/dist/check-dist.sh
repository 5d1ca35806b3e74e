#!/bin/sh
# Packs the release zip of a build tree, unpacks it into an empty folder and
# uses it as an integrator would: its README, the guide, names every export,
# every file of the PE folder and every tool, and every path of the zip it
# names is in the zip; the sample hosts, found through find_package, are built
# from the zip's samples/ with GCC and GNU ld and call every export under Wine
# from a PE folder that the zip's make-pe-folder.sh lays out; the COFF import
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
    samples/c/host.c samples/cpp/host.cpp samples/make-pe-folder.sh samples/make-pe-folder.ps1 \
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

# Each word in backticks, each link target and the first word of each line of
# a folder tree, that begins with an entry of
# the zip's top folder is a path in the zip; one that begins with a folder of
# the source tree that the zip lacks names a file the integrator does not have.
zip_tops=$(cd "$prefix" && ls)
tree_tops=$(cd "$root" && ls -d -- */ | tr -d / | grep -vxF "$zip_tops")
{ grep -o '`[^`]*`' "$guide" | tr -d '`' | tr ' ' '\n'; grep -o '](\([^)]*\))' "$guide" | sed 's/^](//; s/)$//'
    sed -n 's/^    \([^ ]*\).*/\1/p' "$guide"; } |
    tr '\\' / | sort -u >"$work/guide-words"
while read -r word; do
    top=${word%%/*}
    if printf '%s\n' "$zip_tops" | grep -qxF -e "$top"; then
        [ -e "$prefix/${word%/}" ] || { echo "the guide names $word, which the zip lacks"; status=1; }
    elif [ "$top" != "$word" ] && printf '%s\n' "$tree_tops" | grep -qxF -e "$top"; then
        echo "the guide names $word, a file of the source tree"; status=1
    fi
done <"$work/guide-words"

for sample in c cpp; do
    cmake -S "$prefix/samples/$sample" -B "$work/$sample" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DTarnwickMedia_DIR="$prefix/lib/cmake/TarnwickMedia" >"$work/$sample.log" 2>&1 \
        && cmake --build "$work/$sample" >>"$work/$sample.log" 2>&1 \
        || { cat "$work/$sample.log"; exit 1; }
done

# The installation as the guide lays it out, with the stand-ins as its tools:
# the PE folder made by the zip's script from a WinPE image, the requirements
# that ConfigureBootWim adds, an installation ESD.
app="$work/app"
mkdir -p "$app/tools" "$work/boot-files"
cp "$work/c/sample_c.exe" "$work/cpp/sample_cpp.exe" "$prefix/bin/TarnwickMedia.dll" "$prefix/bin/ravenfs.dll" "$app/"
cp "$build/bin/tools/"* "$app/tools/"
head -c 2048 /dev/zero >"$work/boot-files/etfsboot.com"
printf 'ramdisk options\n' >"$work/boot-files/boot.sdi"
printf 'shell\n' >"$work/winpe/Windows/System32/winpeshl.exe"
wimlib-imagex capture "$work/winpe" "$work/winpe.wim" WinPE --boot --quiet >/dev/null
"$prefix/samples/make-pe-folder.sh" "$work/winpe.wim" "$work/boot-files" "$app/PE" >/dev/null
mkdir -p "$app/PE/pe_requirements/cef"
printf 'runtime\n' >"$app/PE/pe_requirements/cef/runtime.dll"
"$root/scripts/make-sample-esd.sh" "$work/run/install.esd" >/dev/null

# The C++ host runs every export to its end (its standard input an empty
# pipe); the C host's standard input is a file of one key, which cancels its
# first call, and it runs the rest.
run_sample() {
    (cd "$work/run" && WINEPATH="$(winpath "$app/tools")" "$root/cmake/wine-run.sh" "$app/$1.exe" "$1-out" \
        "$(winpath "$work/run/${2:-missing.esd}")") >"$work/$1.out" 2>&1 || { echo "$1 failed"; status=1; }
    tr -d '\r' <"$work/$1.out" | grep -E '^(TarnwickMedia |[A-Za-z]+: (ok|failed|cancelled)$)|cancelling' | tr '\n' ';'
}
converted='ConvertESDToISO: ok;ConvertESDToISOEx: ok;ConvertESDToISOWithOptions: ok;ExtractWinreFromRecoveryPartition: failed;'
seen=$(: | run_sample sample_cpp install.esd)
[ "$seen" = "TarnwickMedia $version (header $version);ConfigureBootWim: ok;MakePEFromList: ok;MakePE: ok;MakePEWithOptions: ok;$converted" ] \
    || { printf 'the C++ host saw\n%s\n' "$(cat "$work/sample_cpp.out")"; status=1; }
[ -s "$work/run/sample_cpp-out/boot.iso" ] && [ -s "$work/run/sample_cpp-out/windows.iso" ] \
    || { echo "the C++ host made no boot.iso or windows.iso"; status=1; }
printf k >"$work/key"
seen=$(run_sample sample_c <"$work/key")
[ "$seen" = "TarnwickMedia $version (header $version);  key pressed: cancelling;ConfigureBootWim: cancelled;MakePEFromList: ok;MakePE: ok;MakePEWithOptions: ok;ConvertESDToISO: failed;ConvertESDToISOEx: failed;ConvertESDToISOWithOptions: failed;ExtractWinreFromRecoveryPartition: failed;" ] \
    || { printf 'the C host saw\n%s\n' "$(cat "$work/sample_c.out")"; status=1; }
grep -q '^  failure: Error: ESD file not found' "$work/sample_c.out" || { echo "the C host's sink got no failure record"; status=1; }
# Successful calls log nothing; the converter echoes to standard output.
logged=$(sed -n 's/^\[Tarnwick\][-0-9]* [0-9:]*    \([A-Za-z]*\):.*/\1/p' "$work/run/tarnwick.log" | sort -u | tr '\n' ' ')
[ "$logged" = "CPEMaker ConvertESDToISO ConvertESDToISOEx ConvertESDToISOWithOptions ExtractWinreFromRecoveryPartition " ] \
    || { echo "tarnwick.log has entries of: $logged"; status=1; }
grep -q '^ESD file: .*missing\.esd' "$work/sample_c.out" || { echo "no converter echo on standard output"; status=1; }

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
