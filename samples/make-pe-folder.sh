#!/bin/sh
# Lays out a PE folder for TarnwickMedia from a WinPE boot image, with
# wimlib-imagex (package wimtools on Debian and Ubuntu):
#   make-pe-folder.sh BOOT.WIM BOOT-FILES PE-FOLDER [MEDIA]
# BOOT.WIM   WinPE boot image (image 1 is used), e.g. the ADK's winpe.wim
# BOOT-FILES folder holding etfsboot.com and boot.sdi, and optionally
#            efisys.bin (media that also boot on UEFI PCs) and oscdimg.exe
#            (the ISO tool, which the library looks for in the PE folder first)
# PE-FOLDER  the folder to make; it must not exist
# MEDIA      optional: the ADK's WinPE Media folder, copied as the ISO tree
#            (bootmgr, Boot\BCD, EFI\...), which real PCs need to boot the ISO
set -eu
[ $# -eq 3 ] || [ $# -eq 4 ] || { sed -n '4,11s/^# \{0,1\}//p' "$0" >&2; exit 2; }
wim=$1 files=$2 pe=$3 media=${4:-}
[ ! -e "$pe" ] || { echo "$pe exists; give a new folder" >&2; exit 1; }
find_file() { find "$1" -maxdepth 1 -iname "$2" -type f | head -n 1; }
etfsboot=$(find_file "$files" etfsboot.com)
sdi=$(find_file "$files" boot.sdi)
efisys=$(find_file "$files" efisys.bin)
oscdimg=$(find_file "$files" oscdimg.exe)
[ -n "$etfsboot" ] && [ -n "$sdi" ] || { echo "$files lacks etfsboot.com or boot.sdi" >&2; exit 1; }

mkdir -p "$pe/ISO"
[ -z "$media" ] || cp -R "$media/." "$pe/ISO/"
# Windows ignores case, so the ISO's BOOT and SOURCES may already be there as Boot or sources.
boot=$(find "$pe/ISO" -maxdepth 1 -iname boot -type d | head -n 1)
sources=$(find "$pe/ISO" -maxdepth 1 -iname sources -type d | head -n 1)
: "${boot:=$pe/ISO/BOOT}" "${sources:=$pe/ISO/SOURCES}"
mkdir -p "$boot" "$sources"
rm -f "$(find_file "$boot" boot.sdi)" "$(find_file "$sources" boot.wim)"
cp "$sdi" "$boot/BOOT.SDI"
cp "$etfsboot" "$pe/etfsboot.com"
[ -z "$efisys" ] || cp "$efisys" "$pe/efisys.bin"
[ -z "$oscdimg" ] || cp "$oscdimg" "$pe/oscdimg.exe"
cp "$wim" "$sources/BOOT.wim"
chmod u+w "$sources/BOOT.wim"

# The application goes into \TarnwickToolset\Brightmoor, which must exist.
empty=$(mktemp -d)
trap 'rmdir "$empty"' EXIT
printf 'add "%s" "/TarnwickToolset/Brightmoor"\n' "$empty" | wimlib-imagex update "$sources/BOOT.wim" 1 >/dev/null
echo "$pe: PE folder ready"
