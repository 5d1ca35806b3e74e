#!/bin/sh
# Checks the built DLL's export and import tables: the exports carry their
# undecorated names and the imports are system DLLs (and the volume
# file-system library) only, so no compiler runtime DLL has to ship with it.
# A mingw-w64 build imports msvcrt; a build with Microsoft's static runtime
# imports system DLLs only. Both sets pass.
#   check-dll-exports.sh DLL DEF-FILE
set -eu
dll="$1"
names=$(sed -n '/^EXPORTS/,$p' "$2" | sed '1d' | awk '{print $1}')
table=$(x86_64-w64-mingw32-objdump -p "$dll")
status=0
for name in $names; do
    if ! printf '%s\n' "$table" | grep -Eq "^[[:space:]]+\[ *[0-9]+\] $name\$"; then
        echo "missing undecorated export: $name"
        status=1
    fi
done
allowed='^(kernel32|msvcrt|shlwapi|advapi32|user32|shell32|ole32|ravenfs)\.dll$'
for import in $(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
    if ! printf '%s\n' "$import" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
        echo "unexpected import: $import"
        status=1
    fi
done
exit $status
