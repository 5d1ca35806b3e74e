#!/bin/sh
# Builds a sample installation ESD: a solid (LZMS) WIM of four images laid out
# as installation media are: 1 setup media (with boot/etfsboot.com and
# efi/microsoft/boot/efisys.bin), 2 WinPE, 3 Windows Setup, 4 a Windows edition.
#   make-sample-esd.sh OUT.esd [PAYLOAD_MIB [BOOT_DIR]]
# PAYLOAD_MIB adds that much incompressible data to image 4 (for benchmarks).
# BOOT_DIR holds an etfsboot.com and an efisys.bin that boot (see
# tests/boot/build-payloads.sh); without it both are marked placeholders.
set -eu
out="$1"
payload_mib="${2:-0}"
boot_dir="${3:-}"
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
if [ "$payload_mib" -gt 0 ]; then
    head -c "$((payload_mib * 1048576))" /dev/urandom > "$windows/Windows/System32/payload.bin"
fi

q=--quiet
wimlib-imagex capture "$media" "$work/all.wim" "Setup Media" --compress=none $q >/dev/null
wimlib-imagex append "$winpe" "$work/all.wim" "Microsoft Windows PE (amd64)" $q >/dev/null
wimlib-imagex append "$setup" "$work/all.wim" "Microsoft Windows Setup (amd64)" $q >/dev/null
wimlib-imagex append "$windows" "$work/all.wim" "Windows 10 Pro" $q >/dev/null
rm -f "$out"
wimlib-imagex export "$work/all.wim" all "$out" --solid $q >/dev/null
