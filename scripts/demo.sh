#!/bin/sh
# The main job on a built-in sample: lays out a sample installation of the
# host program beside the library and its tools, then converts a generated
# installation ESD into a bootable installation ISO under Wine, and lists
# what the ISO holds with real tools.
set -eu
build="$(cd "${1:-build}" && pwd)"
src="$(cd "$(dirname "$0")/.." && pwd)"
demo="$build/demo"
prefix="$build/wineprefix"

"$src/cmake/wine-prefix.sh" "$prefix"
export TW_WINEPREFIX="$prefix"
wine() { (cd "$demo/app" && "$src/cmake/wine-run.sh" "$@"); }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

echo "== Sample installation in $demo/app"
rm -rf "$demo"
mkdir -p "$demo/app/tools" "$demo/out"
cp "$build/bin/tarnwick.exe" "$build/bin/TarnwickMedia.dll" "$demo/app/"
cp "$build/bin/tools/"* "$demo/app/tools/"

echo "== Generating a sample installation ESD"
"$src/scripts/make-sample-esd.sh" "$demo/sample.esd"
wimlib-imagex info "$demo/sample.esd" | grep -E '^(Index|Name):' | paste - - | sed 's/^/   /'

echo "== tarnwick esd-to-iso"
wine tarnwick.exe esd-to-iso "$(winpath "$demo/sample.esd")" "$(winpath "$demo/out/windows.iso")"

echo "== What the installation ISO holds"
xorriso -indev "$demo/out/windows.iso" -pvd_info 2>/dev/null | grep 'Volume Id'
xorriso -indev "$demo/out/windows.iso" -report_el_torito plain 2>/dev/null | grep 'El Torito img path' || true
xorriso -indev "$demo/out/windows.iso" -find / -type f 2>/dev/null | sed 's/^/   /'
mkdir -p "$demo/iso"
xorriso -osirrox on -indev "$demo/out/windows.iso" -extract /sources "$demo/iso/sources" 2>/dev/null
for wim in boot.wim install.wim; do
    echo "   sources/$wim:"
    wimlib-imagex info "$demo/iso/sources/$wim" | grep -E '^(Image Count|Compression|Boot Index|Name):' | sed 's/^/      /'
done
echo "== Done"
