#!/bin/sh
# Checks the symbols of an unpacked release as a debugger on Windows finds
# them, each binary copied with its PDB into a folder of its own: no DWARF
# left in the binary, its debug directory naming the PDB by file name only
# with the PDB's own GUID and age, and an address inside an exported function
# resolved through the PDB to that function and its source file. The check
# must also refuse a binary given another binary's PDB.
#   check-symbols.sh UNPACKED-ZIP WORK-DIR
set -eu
prefix=$1
work=$2
rm -rf "$work"

# The GUID as a PDB states it, from the debug directory's bytes (the first
# three fields little-endian), and the age.
binary_key() {
    llvm-readobj --coff-debug-directory "$1" | awk '
        /PDBGUID:/ { gsub(/[()]/, ""); for (i = 2; i <= 17; i++) b[i - 2] = $i }
        /PDBAge:/ { age = $2 }
        END {
            if (age == "") exit 1
            printf "{%s%s%s%s-%s%s-%s%s-%s%s-", b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9]
            for (i = 10; i < 16; i++) printf "%s", b[i]
            printf "} %s\n", age
        }'
}
pdb_key() {
    llvm-pdbutil dump --summary "$1" | awk '/ GUID: / { guid = $2 } / Age: / { age = $2 } END { print guid, age }'
}

# matches DIR FILE: FILE in DIR and the PDB its debug directory names there agree.
matches() {
    named=$(llvm-readobj --coff-debug-directory "$1/$2" | sed -n 's/^ *PDBFileName: //p')
    [ "$named" = "${2%.*}.pdb" ] || { echo "$2 names its PDB \"$named\", not by its own file name"; return 1; }
    key=$(binary_key "$1/$2") || { echo "$2 has no CodeView debug entry"; return 1; }
    [ "$key" = "$(pdb_key "$1/$named")" ] || { echo "$2 ($key) does not match $named ($(pdb_key "$1/$named"))"; return 1; }
}

# symbolizes DIR FILE EXPORT SOURCE
symbolizes() {
    base=$(llvm-readobj --file-headers "$1/$2" | sed -n 's/^ *ImageBase: //p')
    rva=$(llvm-readobj --coff-exports "$1/$2" | awk -v name="$3" '$1 == "Name:" { n = $2 } $1 == "RVA:" && n == name { print $2 }')
    [ -n "$rva" ] || { echo "$2 does not export $3"; return 1; }
    out=$(llvm-symbolizer --no-inlines --obj="$1/$2" "$(printf '0x%x' $((base + rva)))")
    printf '%s\n' "$out" | sed -n 1p | grep -qx "$3" && printf '%s\n' "$out" | sed -n 2p | grep -q "/$4:[0-9]" \
        || { printf '%s at %s resolves to\n%s\nnot to %s in %s\n' "$3" "$rva" "$out" "$3" "$4"; return 1; }
}

status=0
for file in TarnwickMedia.dll ravenfs.dll tarnwick.exe; do
    dir="$work/${file%.*}"
    mkdir -p "$dir"
    cp "$prefix/bin/$file" "$prefix/symbols/${file%.*}.pdb" "$dir/" || { status=1; continue; }
    llvm-objdump -h "$dir/$file" | grep -q ' \.debug_' && { echo "$file carries DWARF sections"; status=1; }
    matches "$dir" "$file" || status=1
done
symbolizes "$work/TarnwickMedia" TarnwickMedia.dll ConvertESDToISO src/exports/ConvertESDToISO.cpp || status=1
symbolizes "$work/ravenfs" ravenfs.dll CreateVolumeFsDevice standins/ravenfs/RavenFs.cpp || status=1

mkdir -p "$work/swapped"
cp "$prefix/bin/TarnwickMedia.dll" "$work/swapped/"
cp "$prefix/symbols/ravenfs.pdb" "$work/swapped/TarnwickMedia.pdb"
matches "$work/swapped" TarnwickMedia.dll >/dev/null && { echo "TarnwickMedia.dll passes with the PDB of ravenfs.dll"; status=1; }
exit $status
