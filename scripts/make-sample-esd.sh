#!/bin/sh
# Builds a sample installation ESD: a solid (LZMS) WIM of six images laid out
# as installation media are: 1 setup media (with boot/etfsboot.com and
# efi/microsoft/boot/efisys.bin), 2 WinPE, 3 Windows Setup, then three Windows
# editions: 4 Windows 10 Pro, 5 Windows 10 Home, 6 Windows 10 Education.
#   make-sample-esd.sh OUT.esd [PAYLOAD_MIB [BOOT_DIR [KIND]]]
# PAYLOAD_MIB adds that much data to image 4: application-like files of
# mixed compressibility (KIND "files", the default) or zeros (KIND "zeros",
# quick to make and to compress). The ESD is then written without solid
# compression (XPRESS), so that an export to LZMS recompresses the payload as
# it does an edition of a real ESD: from a solid resource that an image makes
# up most of, the WIM tool copies the compressed data as it stands.
# BOOT_DIR holds an etfsboot.com and an efisys.bin that boot (see
# tests/boot/build-payloads.sh); without it (or empty) both are marked
# placeholders.
set -eu
out="$1"
payload_mib="${2:-0}"
boot_dir="${3:-}"
kind="${4:-files}"
src="$(cd "$(dirname "$0")/.." && pwd)"
. "$src/scripts/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

media="$work/media"
mkdir -p "$media/boot" "$media/efi/boot" "$media/efi/microsoft/boot" "$media/sources"
if [ -n "$boot_dir" ]; then
    cp "$boot_dir/etfsboot.com" "$media/boot/etfsboot.com"
    cp "$boot_dir/efisys.bin" "$media/efi/microsoft/boot/efisys.bin"
else
    # A 2048-byte no-emulation boot sector and an EFI boot image, marked so
    # tests can find them.
    { printf 'TWBOOTSECTOR'; head -c 2036 /dev/zero; } > "$media/boot/etfsboot.com"
    { printf 'TWEFISYS'; head -c 4088 /dev/zero; } > "$media/efi/microsoft/boot/efisys.bin"
fi
printf 'bootmgr sample\n' > "$media/bootmgr"
printf '[AutoRun.Amd64]\nopen=setup.exe\n' > "$media/autorun.inf"
printf 'setup launcher\n' > "$media/setup.exe"
printf 'efi loader\n' > "$media/efi/boot/bootx64.efi"
printf 'language list\n' > "$media/sources/lang.ini"

winpe="$work/winpe"
mkdir -p "$winpe/Windows/System32"
printf 'winpe shell\n' > "$winpe/Windows/System32/winpeshl.exe"
printf 'winpe kernel\n' > "$winpe/Windows/System32/ntoskrnl.exe"

setup="$work/setup"
mkdir -p "$setup/Windows/System32" "$setup/sources"
printf 'windows setup\n' > "$setup/sources/setup.exe"
printf 'setup kernel\n' > "$setup/Windows/System32/ntoskrnl.exe"

windows="$work/windows"
mkdir -p "$windows/Windows/System32" "$windows/Users/Public"
printf 'windows explorer\n' > "$windows/Windows/explorer.exe"
printf 'windows kernel\n' > "$windows/Windows/System32/ntoskrnl.exe"
if [ "$payload_mib" -gt 0 ] && [ "$kind" = zeros ]; then
    head -c "$((payload_mib * 1048576))" /dev/zero > "$windows/Windows/System32/payload.bin"
elif [ "$payload_mib" -gt 0 ]; then
    payload_tree "$windows/Windows/System32/payload" "$payload_mib"
fi

# The other editions differ from image 4 in a file or two.
home="$work/home"
education="$work/education"
mkdir -p "$home/Windows/System32" "$education/Windows/System32"
printf 'windows explorer\n' > "$home/Windows/explorer.exe"
printf 'home kernel\n' > "$home/Windows/System32/ntoskrnl.exe"
printf 'windows explorer\n' > "$education/Windows/explorer.exe"
printf 'education kernel\n' > "$education/Windows/System32/ntoskrnl.exe"
printf 'classroom policy\n' > "$education/Windows/System32/classroom.pol"

q=--quiet
wimlib-imagex capture "$media" "$work/all.wim" "Setup Media" --compress=none $q >/dev/null
wimlib-imagex append "$winpe" "$work/all.wim" "Microsoft Windows PE (amd64)" $q >/dev/null
wimlib-imagex append "$setup" "$work/all.wim" "Microsoft Windows Setup (amd64)" $q >/dev/null
wimlib-imagex append "$windows" "$work/all.wim" "Windows 10 Pro" $q >/dev/null
wimlib-imagex append "$home" "$work/all.wim" "Windows 10 Home" $q >/dev/null
wimlib-imagex append "$education" "$work/all.wim" "Windows 10 Education" $q >/dev/null
rm -f "$out"
if [ "$payload_mib" -gt 0 ]; then
    wimlib-imagex export "$work/all.wim" all "$out" --compress=XPRESS $q >/dev/null
else
    wimlib-imagex export "$work/all.wim" all "$out" --solid $q >/dev/null
fi
