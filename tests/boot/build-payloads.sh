#!/bin/sh
# Builds the boot payloads of the boot tests and the demo into OUT_DIR:
# etfsboot.com, a BIOS boot sector, and efisys.bin, a FAT image holding
# \EFI\BOOT\BOOTX64.EFI; each writes its own marker to COM1.
#   build-payloads.sh OUT_DIR
set -eu
out="$1"
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$out"
nasm -f bin -o "$out/etfsboot.com" "$here/BiosMarker.asm"
x86_64-w64-mingw32-gcc -O2 -ffreestanding -nostdlib -mno-red-zone -Wl,--subsystem,10 -e efi_main \
    -o "$out/BOOTX64.EFI" "$here/UefiMarker.c"
rm -f "$out/efisys.bin"
mformat -i "$out/efisys.bin" -C -f 1440 ::
mmd -i "$out/efisys.bin" ::/EFI ::/EFI/BOOT
mcopy -i "$out/efisys.bin" "$out/BOOTX64.EFI" ::/EFI/BOOT/BOOTX64.EFI
rm -f "$out/BOOTX64.EFI"
