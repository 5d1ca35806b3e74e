#!/bin/sh
# Dumps the vtables of the interfaces that cross the boundary to code built by
# Microsoft's compiler, and of implementations of them, under the GNU and the
# Microsoft x64 ABI. Fails when a table is missing from either dump or when
# any slot holds another function under one ABI than under the other.
# Flag lists are split into words on purpose.
# shellcheck disable=SC2086
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$here/clang-flags.sh"

tables='IProgressSink
ProbeProgressSink
IStorageDevice
CVolumeNumberDevice
IVolumeFsDevice
ProbeVolumeFs
(anonymous namespace)::CNtfsFsDevice'

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The production classes' tables are emitted where they are defined.
inputs="tests/abi/VtableProbe.cpp
src/winre/VolumeNumberDevice.cpp -DTARNWICKMEDIA_BUILD -Isrc
standins/ravenfs/RavenFs.cpp -DRAVENFS_BUILD -Istandins/ravenfs"

dump() {
    abi=$1
    shift
    printf '%s\n' "$inputs" | while read -r input; do
        (cd "$root" && clang++ "$@" -Iinclude $input -Xclang -fdump-vtable-layouts -S -emit-llvm -o /dev/null) \
            || { echo "FAIL: $abi compile of ${input%% *}" >&2; exit 1; }
    done >"$work/$abi.dump"
}

# One "class: slot -> function" line per slot of each class's primary table.
# The GNU dump opens a table with offset-to-top and RTTI entries, the Microsoft
# one with an RTTI entry. Microsoft's scalar deleting destructor reads as GNU's
# deleting one, so that a destructor shows only as GNU's extra complete slot.
slots() {
    awk -v OFS='\t' '
        /^(Vtable|VFTable) for / {
            name = $0
            sub(/ \([0-9]+ entries\)\.$/, "", name)
            sub(/'"'"'$/, "", name)
            sub(/.*'"'"'/, "", name)
            inTable = !(name in seen)
            seen[name] = 1
            slot = 0
            next
        }
        /^[^ ]/ { inTable = 0; next }
        inTable && /^ *[0-9]+ \| / {
            entry = $0
            sub(/^ *[0-9]+ \| /, "", entry)
            if (entry ~ /^offset_to_top /) { if (slot > 0) inTable = 0; next }
            if (entry ~ / RTTI$/ || entry ~ /^(vcall|vbase)_offset /) next
            sub(/ \[pure\]$/, "", entry)
            sub(/ \[scalar deleting\]$/, " [deleting]", entry)
            print name, slot++, entry
        }' "$1" | sort -t "$(printf '\t')" -k1,1 -k2,2n
}

dump gnu $TW_GNU_CXX
dump msvc $TW_MSVC_CXX
printf '%s\n' "$tables" >"$work/tables"

status=0
for abi in gnu msvc; do
    slots "$work/$abi.dump" | awk -F '\t' -v abi="$abi" '
        NR == FNR { wanted[$0] = 1; names[++count] = $0; next }
        $1 in wanted { print $1 ": " $2 " -> " $3; found[$1] = 1 }
        END {
            for (i = 1; i <= count; i++) {
                if (!(names[i] in found)) { print "FAIL: no " abi " vtable for " names[i] >"/dev/stderr"; missing = 1 }
            }
            exit missing
        }' "$work/tables" - >"$work/$abi.slots" || status=1
done

if ! diff -u --label "GNU x64 ABI" --label "Microsoft x64 ABI" "$work/gnu.slots" "$work/msvc.slots"; then
    echo "FAIL: vtable slots differ between the GNU and the Microsoft x64 ABI"
    status=1
fi
# A C host declares the progress sink as a table of function pointers: its
# members, by offset, must name the class's slots in the same order.
for abi in gnu msvc; do
    [ $abi = gnu ] && cflags=$TW_GNU_C || cflags=$TW_MSVC_C
    (cd "$root" && clang $cflags -Iinclude tests/MakePEFromListCaller.c -Xclang -fdump-record-layouts \
        -S -emit-llvm -o /dev/null) >"$work/$abi.c.dump" || { echo "FAIL: $abi compile of the C sink" >&2; exit 1; }
    awk '/^ *0 \| struct IProgressSinkVtbl$/ { on = 1; next }
         on && /\[sizeof=/ { exit }
         on { print "IProgressSink: " $1 / 8 " -> " $NF }' "$work/$abi.c.dump" >"$work/$abi.c.slots"
    sed -n 's/^\(IProgressSink: [0-9]* -> \).*::\([A-Za-z0-9_]*\)(.*/\1\2/p' "$work/$abi.slots" \
        | diff -u --label "IProgressSink, $abi" --label "IProgressSinkVtbl, $abi" - "$work/$abi.c.slots" \
        || { echo "FAIL: the C table of IProgressSink is not in the class's slot order"; status=1; }
done
[ $status -eq 0 ] && echo "vtables of $(wc -l <"$work/tables") classes agree slot for slot, and the C sink table"
exit $status
