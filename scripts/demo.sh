#!/bin/sh
# The four jobs on a built-in sample: lays out a sample installation of the
# host program beside the library, its tools and its PE folder, then runs
# under Wine configure-boot-wim; make-pe of a sample application delivered as
# an ISO (booted in QEMU under SeaBIOS and OVMF), to a disk (a file behind
# \\.\PhysicalDrive5) and as a one-time ramdisk boot plus restart (into the
# stand-ins' simulated boot store); esd-to-iso --uefi --edition all of a
# generated installation ESD with three editions; and the extraction of winre.wim from a generated NTFS
# recovery partition. Real Linux tools check every result, and the
# installation is checked to hold only what it shipped with; a summary table
# ends it.
#   scripts/demo.sh [BUILD]
set -eu
build="$(cd "${1:-build}" && pwd)"
src="$(cd "$(dirname "$0")/.." && pwd)"
. "$src/scripts/lib.sh"
demo="$build/demo"
# A prefix of its own, which stands for a Windows machine: its system PATH
# starts with the stand-ins for Windows' own programs.
prefix="$build/demo-wineprefix"
app="$demo/app"
windows="$demo/windows"
work="$demo/work"
pe="$app/PE"
out="$demo/out"
summary="$demo/summary.csv"
disk_link="$prefix/dosdevices/physicaldrive5"
partition_link="$prefix/dosdevices/harddisk0partition4"
demo_start=$(now)

use_wine_prefix "$prefix"
trap 'rm -f "$disk_link" "$partition_link"; stop_wine_prefix' EXIT

# Every program runs from the demo's own folder, as a technician would run
# the installation: no PATH or WINEPATH set by hand.
run_windows() { (cd "$work" && env -u WINEPATH "$src/cmake/wine-run.sh" "$@"); }
tarnwick() { run_windows "$app/tarnwick.exe" "$@"; }
indent() { sed "s/^/$1/"; }
say() { printf '%s\n' "$*"; }
fail() {
    say "   $*" >&2
    exit 1
}
size_of() { numfmt --to=iec-i --suffix=B "$(stat -c %s "$1")"; }
# Runs a job and keeps its wall time for the summary: job NAME COMMAND...
job() {
    _job_name=$1
    shift
    rm -f "$demo/time.$_job_name"
    timed "$demo/time.$_job_name" "$@"
}
# A job's summary row, once its result is checked: row NAME JOB RESULT FILE
# (FILE shown relative to the demo folder).
row() { say "$2,$3,${4#"$demo/"},$(size_of "$4"),$(calc 1 "$(head -n1 "$demo/time.$1")") s" > "$demo/row.$1"; }

echo "== Sample installation in $app"
rm -rf "$demo"
mkdir -p "$out" "$work" "$app/tools" "$windows"
cp "$build/bin/tarnwick.exe" "$build/bin/TarnwickMedia.dll" "$build/bin/ravenfs.dll" "$build/bin/Discforge.dll" "$app/"
# The tools the installation ships, as stand-ins that run the Linux tools
# through unixrun.sh; tarnwick finds oscdimg.exe here at the end of the PATH.
cp "$build/bin/tools/wimlib-imagex.exe" "$build/bin/tools/cdimage.exe" "$build/bin/tools/oscdimg.exe" \
    "$build/bin/tools/unixrun.sh" "$app/tools/"
# Windows' own programs, outside the installation, ahead of Wine's (whose
# robocopy copies nothing) on the prefix's system PATH. bcdedit and shutdown
# keep their records beside themselves.
cp "$build/bin/tools/ROBOCOPY.exe" "$build/bin/tools/bcdedit.exe" "$build/bin/tools/shutdown.exe" \
    "$build/bin/tools/reagentc.exe" "$windows/"
"$src/cmake/wine-run.sh" reg add 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH \
    /t REG_EXPAND_SZ /d "$(winpath "$windows");C:\windows\system32;C:\windows;C:\windows\system32\wbem" /f >/dev/null
say "   $windows: bcdedit, shutdown, ROBOCOPY and reagentc, first on the system PATH"

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
wimlib-imagex capture "$tree" "$pe/ISO/SOURCES/BOOT.wim" "Microsoft Windows PE (amd64)" --boot --quiet >/dev/null
say '   PE\ISO\SOURCES\BOOT.wim made by wimlib from a small WinPE tree'

# The application put into WinPE is the sample installation itself; as it
# holds the PE folder, the library stages a copy without it first.
mkdir -p "$app/help"
printf 'sample application settings\n' > "$app/tarnwick.ini"
printf 'How to use the rescue media\n' > "$app/help/readme.txt"
make_pe() { tarnwick make-pe "$@" --startup "$(winpath "$app/tarnwick.exe")" "$(winpath "$app")"; }
# A storage controller's driver package, as a vendor ships it for WinPE:
# INF, catalogue and driver file (samples: WinPE is not booted here).
drivers="$demo/drivers/storage"
mkdir -p "$drivers/amd64"
printf '[Version]\r\nSignature="$Windows NT$"\r\nClass=SCSIAdapter\r\nCatalogFile=storage.cat\r\n[Manufacturer]\r\n%%Vendor%%=Models,NTamd64\r\n[Models.NTamd64]\r\n%%Device%%=Install,PCI\\VEN_1AF4\r\n[SourceDisksNames]\r\n1=%%Disk%%,,,amd64\r\n[SourceDisksFiles]\r\nstorage.sys=1\r\n[Strings]\r\nVendor="Sample"\r\nDisk="Sample disk"\r\nDevice="Sample controller"\r\n' \
    > "$drivers/storage.inf"
printf 'catalogue\n' > "$drivers/storage.cat"
printf 'driver\n' > "$drivers/amd64/storage.sys"

echo "== tarnwick configure-boot-wim"
job configure tarnwick configure-boot-wim
say '   The requirements inside PE\ISO\SOURCES\BOOT.wim:'
wimlib-imagex dir "$pe/ISO/SOURCES/BOOT.wim" 1 | grep -E '/(libcef\.dll|en-US\.pak|msvcp140\.dll)$' > "$demo/requirements"
indent '      ' < "$demo/requirements"
[ "$(wc -l < "$demo/requirements")" -eq 3 ] || fail "BOOT.wim lacks a requirement"
row configure configure-boot-wim "3 requirements added" "$pe/ISO/SOURCES/BOOT.wim"

echo "== tarnwick make-pe --deliver iso --network --driver $drivers"
job iso make_pe --deliver iso --network --driver "$(winpath "$drivers")" --target "$(winpath "$out")"

echo "== What the WinPE ISO holds"
xorriso -indev "$out/boot.iso" -report_el_torito plain 2>/dev/null | grep 'El Torito boot img' |
    tee "$demo/boot-iso.eltorito" | indent '   '
xorriso -indev "$out/boot.iso" -find / -type f 2>/dev/null | tee "$demo/boot-iso.files" | indent '   '
mkdir -p "$demo/pe-iso"
xorriso -osirrox on -indev "$out/boot.iso" -extract /SOURCES/BOOT.wim "$demo/pe-iso/BOOT.wim" 2>/dev/null
say '   \TarnwickToolset inside SOURCES/BOOT.wim:'
wimlib-imagex dir "$demo/pe-iso/BOOT.wim" 1 --path=/TarnwickToolset | indent '      '
say '   \Windows\System32\winpeshl.ini inside SOURCES/BOOT.wim:'
wimlib-imagex extract "$demo/pe-iso/BOOT.wim" 1 /Windows/System32/winpeshl.ini --to-stdout 2>/dev/null |
    iconv -f UTF-16LE -t UTF-8 | sed 's/\r$//' | tee "$demo/winpeshl.txt" | indent '      '
grep -q 'Drivers\\load.cmd$' "$demo/winpeshl.txt" && grep -q 'wpeutil.exe, WaitForNetwork$' "$demo/winpeshl.txt" ||
    fail "winpeshl.ini starts neither the drivers nor the network"
wimlib-imagex dir "$demo/pe-iso/BOOT.wim" 1 --path=/TarnwickToolset/Drivers | grep -q '/01/amd64/storage.sys$' ||
    fail "the driver package is not in the image"
echo

# QEMU boots the ISO while the next jobs run; its time limit ends a hung boot.
echo "== Booting the WinPE ISO in QEMU, under SeaBIOS and under OVMF, in the background"
"$src/tests/boot/boot-iso.sh" "$out/boot.iso" bios uefi > "$demo/boot.serial" 2> "$demo/boot.err" &
boot_pid=$!

# \\.\PhysicalDrive5 is a file here, through a device link of the Wine prefix.
say "== tarnwick make-pe --deliver disk --target 5 (\\\\.\\PhysicalDrive5 is $out/disk5.img)"
: > "$out/disk5.img"
ln -sfn "$out/disk5.img" "$disk_link"
# Wine answers no query of a disk, so its size is unknown: --unknown-disk.
job disk make_pe --deliver disk --target 5 --yes --unknown-disk
rm -f "$disk_link"
[ ! -e "$pe/boot.iso" ] || fail "the ISO handed to the boot-disk library was left in PE"

echo "== What disk 5 holds, read by xorriso as an ISO"
xorriso -indev "$out/disk5.img" -pvd_info 2>/dev/null | grep 'Volume Id' | indent '   '
xorriso -indev "$out/disk5.img" -report_el_torito plain 2>/dev/null | grep 'El Torito boot img' |
    tee "$demo/disk.eltorito" | indent '   '
xorriso -indev "$out/disk5.img" -find / -type f 2>/dev/null > "$demo/disk.files"
cmp -s "$demo/boot-iso.eltorito" "$demo/disk.eltorito" && cmp -s "$demo/boot-iso.files" "$demo/disk.files" ||
    fail "disk 5 does not hold the boot images and files of the WinPE ISO"
echo "   the boot images and the $(wc -l < "$demo/disk.files") files of the WinPE ISO"
row disk "make-pe --deliver disk" "the WinPE ISO's boot images and files" "$out/disk5.img"

# The entry an earlier run left, which this one replaces.
store="$windows/bcdstore.txt"
older='{0a1b2c3d-0000-4000-8000-00000000de00}'
printf 'object %s\nset %s description Tarnwick rescue media\nsequence %s\n' "$older" "$older" "$older" > "$store"
echo "== tarnwick make-pe --deliver restart --yes (the store holds an older entry $older)"
job restart make_pe --deliver restart --yes

say '== The boot store of the bcdedit stand-in (windows/bcdstore.txt)'
sed 's/\r$//' "$store" | indent '   '
entry=$(sed -n 's/^sequence \({[^}]*}\)$/\1/p' "$store")
[ -n "$entry" ] || fail "no one-time boot sequence"
! grep -q "$older" "$store" || fail "the older entry $older was not deleted"
grep -q "^set $entry description Tarnwick rescue media$" "$store" || fail "entry $entry has no description"
grep -q "^set $entry locale [a-z][a-z]" "$store" && ! grep -q "^set $entry locale zh-CN$" "$store" ||
    fail "entry $entry has not the UI language's locale"
grep -q "^set $entry path \\\\windows\\\\system32\\\\winload.efi$" "$store" || fail "entry $entry has no loader path"
# The device names the ramdisk image as [drive]path; Z: is the Unix root.
device=$(sed -n "s/^set $entry device ramdisk=\\[Z:\\]\\(.*\\),{ramdiskoptions}$/\\1/p" "$store")
ramdisk=$(printf '%s' "$device" | tr '\\' /)
[ "$ramdisk" = "$pe/ISO/SOURCES/BOOT.wim" ] || fail "entry $entry boots \"$device\", not PE\\ISO\\SOURCES\\BOOT.wim"
say "   The one-time entry $entry boots $device, which wimlib reads as:"
wimlib-imagex info "$ramdisk" | grep -E '^(Boot Index|Name):' | indent '      '
wimlib-imagex dir "$ramdisk" 1 --path=/TarnwickToolset/Brightmoor | grep -q '/tarnwick\.exe$' ||
    fail "the ramdisk image lacks the application"
say '== The restart the shutdown stand-in recorded (windows/shutdown.log)'
sed 's/\r$//' "$windows/shutdown.log" | indent '   '
grep -q '^restart ordered: .*/r /t 5' "$windows/shutdown.log" || fail "no restart ordered"
row restart "make-pe --deliver restart" "one-time ramdisk entry and restart" "$ramdisk"

echo "== What reached the serial port of the WinPE ISO in QEMU"
wait "$boot_pid" || { cat "$demo/boot.err" >&2; fail "QEMU could not boot the ISO"; }
grep -E '^== |^TW-' "$demo/boot.serial" | sed 's/^== /   under /; s/^TW-/      TW-/'
for marker in TW-BIOS-BOOT-OK TW-UEFI-BOOT-OK; do
    grep -q "^$marker" "$demo/boot.serial" || fail "no $marker: the ISO did not boot"
done
row iso "make-pe --deliver iso" "boots under SeaBIOS and OVMF" "$out/boot.iso"

echo "== Generating a sample installation ESD"
"$src/scripts/make-sample-esd.sh" "$demo/sample.esd" 0 "$demo/payloads"
wimlib-imagex info "$demo/sample.esd" | grep -E '^(Index|Name):' | paste - - | indent '   '

echo "== tarnwick esd-to-iso --uefi --edition all"
job esd tarnwick esd-to-iso --uefi --edition all "$(winpath "$demo/sample.esd")" "$(winpath "$out/windows.iso")"

echo "== What the installation ISO holds"
xorriso -indev "$out/windows.iso" -pvd_info 2>/dev/null | grep 'Volume Id' | tee "$demo/windows.label"
grep -q ': Windows$' "$demo/windows.label" || fail "the installation ISO is not labelled Windows"
xorriso -indev "$out/windows.iso" -report_el_torito plain 2>/dev/null | grep 'El Torito img path' | indent '   '
xorriso -indev "$out/windows.iso" -find / -type f 2>/dev/null | indent '   '
mkdir -p "$demo/iso"
xorriso -osirrox on -indev "$out/windows.iso" -extract /sources "$demo/iso/sources" 2>/dev/null
for wim in boot.wim install.wim; do
    echo "   sources/$wim:"
    wimlib-imagex info "$demo/iso/sources/$wim" | grep -E '^(Image Count|Compression|Boot Index|Name):' |
        indent '      '
done
[ "$(wimlib-imagex info "$demo/iso/sources/install.wim" | sed -n 's/^Image Count: *//p')" = 3 ] ||
    fail "install.wim does not hold the three editions"
row esd "esd-to-iso --uefi --edition all" "BIOS and UEFI boot; 3 editions" "$out/windows.iso"

echo "== Generating an NTFS recovery partition with a winre.wim made by wimlib"
mkdir -p "$demo/winre-tree/Windows/System32"
printf 'recovery shell\n' > "$demo/winre-tree/Windows/System32/winpeshl.exe"
head -c 3M /dev/urandom > "$demo/winre-tree/Windows/System32/recovery.dat"
wimlib-imagex capture "$demo/winre-tree" "$demo/winre.wim" "Microsoft Windows Recovery Environment (x64)" \
    --boot --quiet >/dev/null
"$src/scripts/make-ntfs-image.sh" "$demo/recovery.img" 16 > "$demo/ntfs.log" 2>&1 <<COMMANDS ||
mkdir /Recovery
mkdir /Recovery/WindowsRE
put /Recovery/WindowsRE/winre.wim $demo/winre.wim
COMMANDS
    { cat "$demo/ntfs.log" >&2; fail "the NTFS image could not be made"; }
ntfsls -l "$demo/recovery.img" -p /Recovery/WindowsRE | indent '   '
ln -sfn "$demo/recovery.img" "$partition_link"
say "   \\\\.\\Harddisk0Partition4 is $demo/recovery.img"

echo "== ExtractWinreFromRecoveryPartition"
echo "   Wine refuses the disk-geometry query, so demo-tools/winre-extract.exe, not tarnwick, calls the export and answers it."
job winre run_windows "$build/demo-tools/winre-extract.exe" "$(winpath "$app/TarnwickMedia.dll")" \
    "$(winpath "$out/winre.wim")"
rm -f "$partition_link"

echo "== What the copy holds"
[ "$(sha256sum < "$out/winre.wim")" = "$(sha256sum < "$demo/winre.wim")" ] ||
    fail "the copy differs from the winre.wim in the partition"
echo "   byte for byte the winre.wim in the partition; wimlib-imagex info:"
wimlib-imagex info "$out/winre.wim" | grep -E '^(Image Count|Compression|Boot Index|Name|Total Bytes):' |
    indent '      '
row winre "extract-winre (demo host)" "same SHA-256 as in the partition" "$out/winre.wim"

echo "== The installation holds what it shipped with, and of what jobs wrote only the image's rewrite record"
(cd "$app" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > "$demo/layout.found"
LC_ALL=C sort > "$demo/layout.shipped" <<'LAYOUT'
tarnwick.exe
TarnwickMedia.dll
ravenfs.dll
Discforge.dll
tools/wimlib-imagex.exe
tools/cdimage.exe
tools/oscdimg.exe
tools/unixrun.sh
PE/etfsboot.com
PE/efisys.bin
PE/ISO/BOOT/BOOT.SDI
PE/ISO/SOURCES/BOOT.wim
PE/tarnwick-image.size
PE/pe_requirements/cef/libcef.dll
PE/pe_requirements/cef/locales/en-US.pak
PE/pe_requirements/system/msvcp140.dll
tarnwick.ini
help/readme.txt
LAYOUT
if ! diff "$demo/layout.shipped" "$demo/layout.found" > "$demo/layout.diff"; then
    sed -n 's/^> /   not in the layout: /p; s/^< /   missing: /p' "$demo/layout.diff" >&2
    fail "app/ differs from the installation's layout"
fi
say "   the $(wc -l < "$demo/layout.found") files of the layout, no other"

echo "== Summary"
{
    say "job,result,output,size,time"
    for name in configure iso disk restart esd winre; do cat "$demo/row.$name"; done
} > "$summary"
print_table "$summary" | indent '   '
echo "   The demo took $(calc 0 "$(now) - $demo_start") s."
