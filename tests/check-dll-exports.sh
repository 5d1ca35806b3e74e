#!/bin/sh
# Checks the built DLL's export and import tables: the exports are exactly
# the documented functions under their undecorated names, and the imports are
# system DLLs (and the volume file-system library) only, so no compiler
# runtime DLL has to ship with it. A mingw-w64 build imports msvcrt; a build
# with Microsoft's static runtime imports system DLLs only. Both sets pass.
#   check-dll-exports.sh DLL
set -eu
dll="$1"
documented="ConfigureBootWim
ConvertESDToISO
ConvertESDToISOEx
ConvertESDToISOWithOptions
ExtractWinreFromRecoveryPartition
MakePE
MakePEFromList
MakePEWithOptions
TarnwickGetVersion"
table=$(x86_64-w64-mingw32-objdump -p "$dll")
exported=$(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*\[ *[0-9]*\] \([A-Za-z_][A-Za-z0-9_@?]*\)$/\1/p' | sort)
status=0
for name in $documented; do
    printf '%s\n' "$exported" | grep -qx "$name" || { echo "missing undecorated export: $name"; status=1; }
done
for name in $exported; do
    printf '%s\n' "$documented" | grep -qx "$name" || { echo "undocumented export: $name"; status=1; }
done
allowed='^(kernel32|msvcrt|shlwapi|advapi32|bcrypt|user32|shell32|ole32|ravenfs)\.dll$'
for import in $(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
    if ! printf '%s\n' "$import" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
        echo "unexpected import: $import"
        status=1
    fi
done
exit $status
