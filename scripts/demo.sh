#!/bin/sh
# The main job on a built-in sample: lays out a sample installation of the
# host program beside the library, its tools and its PE folder, then runs
# under Wine: configure-boot-wim, make-pe --deliver iso of a sample
# application, and esd-to-iso --uefi of a generated installation ESD. Lists
# with real tools what the two ISOs hold and boots the WinPE ISO in QEMU under
# SeaBIOS and under OVMF, whose boot payloads each print a marker.
set -eu
build="$(cd "${1:-build}" && pwd)"
src="$(cd "$(dirname "$0")/.." && pwd)"
demo="$build/demo"
prefix="$build/wineprefix"

"$src/cmake/wine-prefix.sh" "$prefix"
export TW_WINEPREFIX="$prefix"
# The stand-ins in tools\ come first on the search path, ahead of Wine's own
# robocopy stub, as the real tools would be on a Windows machine.
wine() { (cd "$demo/app" && WINEPATH="$(winpath "$demo/app/tools")" "$src/cmake/wine-run.sh" "$@"); }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

echo "== Sample installation in $demo/app"
rm -rf "$demo"
mkdir -p "$demo/app/tools" "$demo/out"
cp "$build/bin/tarnwick.exe" "$build/bin/TarnwickMedia.dll" "$build/bin/ravenfs.dll" "$build/bin/Discforge.dll" \
    "$demo/app/"
cp "$build/bin/tools/"* "$demo/app/tools/"

pe="$demo/app/PE"
mkdir -p "$pe/ISO/BOOT" "$pe/ISO/SOURCES" "$pe/pe_requirements/cef/locales" "$pe/pe_requirements/system"
# The boot sector and, for UEFI firmware, efisys.bin: small payloads that
# print a marker on the serial port instead of starting Windows.
"$src/tests/boot/build-payloads.sh" "$demo/payloads"
cp "$demo/payloads/etfsboot.com" "$demo/payloads/efisys.bin" "$pe/"
printf '   %s\n' 'PE\etfsboot.com and PE\efisys.bin: boot payloads for BIOS and UEFI'
printf 'ramdisk options\n' > "$pe/ISO/BOOT/BOOT.SDI"
printf 'browser runtime\n' > "$pe/pe_requirements/cef/libcef.dll"
printf 'en-US\n' > "$pe/pe_requirements/cef/locales/en-US.pak"
printf 'runtime library\n' > "$pe/pe_requirements/system/msvcp140.dll"
tree="$demo/winpe-tree"
mkdir -p "$tree/Windows/System32" "$tree/TarnwickToolset/Brightmoor"
printf 'winpe shell\n' > "$tree/Windows/System32/winpeshl.exe"
printf 'previous build\n' > "$tree/TarnwickToolset/Brightmoor/old.txt"
wimlib-imagex capture "$tree" "$pe/ISO/SOURCES/BOOT.wim" "Microsoft Windows PE (amd64)" --boot --quiet >/dev/null
echo "   PE\ISO\SOURCES\BOOT.wim made by wimlib from a small WinPE tree"

# The application put into WinPE is the sample installation itself; as it
# holds the PE folder, the library stages a copy without it first.
app="$demo/app"
mkdir -p "$app/help"
printf 'sample application settings\n' > "$app/tarnwick.ini"
printf 'How to use the rescue media\n' > "$app/help/readme.txt"

echo "== tarnwick configure-boot-wim"
wine tarnwick.exe configure-boot-wim

echo "== tarnwick make-pe --deliver iso"
wine tarnwick.exe make-pe --deliver iso --target "$(winpath "$demo/out")" \
    --startup "$(winpath "$app/tarnwick.exe")" "$(winpath "$app")"

echo "== What the WinPE ISO holds"
xorriso -indev "$demo/out/boot.iso" -report_el_torito plain 2>/dev/null | grep 'El Torito boot img' | sed 's/^/   /'
xorriso -indev "$demo/out/boot.iso" -find / -type f 2>/dev/null | sed 's/^/   /'
mkdir -p "$demo/pe-iso"
xorriso -osirrox on -indev "$demo/out/boot.iso" -extract /SOURCES/BOOT.wim "$demo/pe-iso/BOOT.wim" 2>/dev/null
echo "   \\TarnwickToolset inside SOURCES/BOOT.wim:"
wimlib-imagex dir "$demo/pe-iso/BOOT.wim" 1 --path=/TarnwickToolset | sed 's/^/      /'
echo "   \\Windows\\System32\\winpeshl.ini inside SOURCES/BOOT.wim:"
wimlib-imagex extract "$demo/pe-iso/BOOT.wim" 1 /Windows/System32/winpeshl.ini --to-stdout 2>/dev/null |
    iconv -f UTF-16LE -t UTF-8 | sed 's/\r$//; s/^/      /'
echo

echo "== Booting the WinPE ISO in QEMU, under SeaBIOS and under OVMF"
serial=$("$src/tests/boot/boot-iso.sh" "$demo/out/boot.iso" bios uefi)
printf '%s\n' "$serial" | grep -E '^== |^TW-' | sed 's/^== /   serial port under /; s/^TW-/      TW-/'
for marker in TW-BIOS-BOOT-OK TW-UEFI-BOOT-OK; do
    printf '%s\n' "$serial" | grep -q "^$marker" || { echo "   no $marker: the ISO did not boot" >&2; exit 1; }
done

echo "== Generating a sample installation ESD"
"$src/scripts/make-sample-esd.sh" "$demo/sample.esd" 0 "$demo/payloads"
wimlib-imagex info "$demo/sample.esd" | grep -E '^(Index|Name):' | paste - - | sed 's/^/   /'

echo "== tarnwick esd-to-iso --uefi"
wine tarnwick.exe esd-to-iso --uefi "$(winpath "$demo/sample.esd")" "$(winpath "$demo/out/windows.iso")"

echo "== What the installation ISO holds"
xorriso -indev "$demo/out/windows.iso" -pvd_info 2>/dev/null | grep 'Volume Id'
xorriso -indev "$demo/out/windows.iso" -report_el_torito plain 2>/dev/null | grep 'El Torito img path' | sed 's/^/   /'
xorriso -indev "$demo/out/windows.iso" -find / -type f 2>/dev/null | sed 's/^/   /'
mkdir -p "$demo/iso"
xorriso -osirrox on -indev "$demo/out/windows.iso" -extract /sources "$demo/iso/sources" 2>/dev/null
for wim in boot.wim install.wim; do
    echo "   sources/$wim:"
    wimlib-imagex info "$demo/iso/sources/$wim" | grep -E '^(Image Count|Compression|Boot Index|Name):' | sed 's/^/      /'
done
echo "== Done"
