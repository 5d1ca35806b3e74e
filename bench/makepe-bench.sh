#!/bin/sh
# Benchmark of MakePE: tarnwick.exe make-pe --deliver iso of a sample
# installation holding its PE folder (laid out as the demo does) and an
# application of APP_MIB MiB in many files, some compressible. Four series
# alternating in one run:
#   library  under Wine, the stand-ins doing the real work (ROBOCOPY copies
#            under Wine, the WIM updates and the ISO bridge to wimlib and
#            xorriso);
#   no work  the same call with journalling stand-ins that do no work;
#   floor    bench/floor.cpp: the same WIM updates, interpreter runs of
#            ROBOCOPY, rmdir and oscdimg, started with the builder's
#            creation settings, journalling stand-ins too;
#   direct   the same copy, three WIM updates and ISO made by this script;
#   list, options  MakePEFromList and MakePEWithOptions (flags 0), each
#            called by bench/convert.cpp with a sink, alternating first.
# Own overhead = median(no work) - median(floor), as a share of the library's
# median. Every library and direct run starts from the same BOOT.wim, which
# holds 300 MiB of system files as a real WinPE image does. Each round also
# times the working copy of that BOOT.wim that every build makes before its
# first edit (bench/save.cpp, the library's code), as a share of the
# library's median.
#   bench/makepe-bench.sh [BUILD] [APP_MIB] [ROUNDS]     (default 200 3)
# The table goes to BUILD/bench/makepe.csv too.
set -eu
build="$(cd "${1:-build}" && pwd)"
size="${2:-200}"
rounds="${3:-3}"
src="$(cd "$(dirname "$0")/.." && pwd)"
. "$src/scripts/lib.sh"
# In memory, as the ESD benchmark, with a Wine prefix of its own.
bench_dir="${BENCH_DIR:-/dev/shm}/tarnwick-bench-makepe"
work="$bench_dir/work"
app="$work/app"
pe="$app/PE"
csv="$build/bench/makepe.csv"
stamp=2021070917300000

rm -rf "$bench_dir"
mkdir -p "$bench_dir" "$build/bench"
use_wine_prefix "$bench_dir/wineprefix"
trap 'stop_wine_prefix; rm -rf "$bench_dir"' EXIT
rm -f "$csv"

echo "Laying out a sample installation with a PE folder and $size MiB of application files..."
mkdir -p "$app" "$work/out" "$work/direct"
install_app "$build" "$app"
cp "$build/bench/floor.exe" "$build/bench/save.exe" "$build/bench/convert.exe" "$app/"
mkdir -p "$pe/ISO/BOOT" "$pe/ISO/SOURCES"
{ printf 'TWBOOTSECTOR'; head -c 2036 /dev/zero; } > "$pe/etfsboot.com"
printf 'ramdisk options\n' > "$pe/ISO/BOOT/BOOT.SDI"
tree="$work/winpe-tree"
mkdir -p "$tree/Windows/System32" "$tree/TarnwickToolset/Brightmoor"
printf 'winpe shell\n' > "$tree/Windows/System32/winpeshl.exe"
head -c 314572800 /dev/urandom > "$tree/Windows/System32/system.bin"
printf 'previous build\n' > "$tree/TarnwickToolset/Brightmoor/old.txt"
wimlib-imagex capture "$tree" "$work/BOOT.wim" "Microsoft Windows PE (amd64)" --boot --quiet >/dev/null
rm -rf "$tree"
printf 'sample application settings\n' > "$app/tarnwick.ini"
payload_tree "$app/data" "$size"
du -sm "$app" | awk '{ print "Application folder: " $1 " MiB" }'

through_library() {
    rm -f "$work/out/boot.iso"
    wine_in "$app" tarnwick.exe make-pe --deliver iso --target "$(winpath "$work/out")" \
        --startup "$(winpath "$app/tarnwick.exe")" "$(winpath "$app")" >/dev/null
}

fresh_journal() {
    rm -rf "$work/journal" && mkdir -p "$work/journal"
}

no_work() {
    TWSTANDIN_DIR="$(winpath "$work/journal")" wine_in "$app" tarnwick.exe make-pe --deliver iso \
        --target "$(winpath "$work/out")" --startup "$(winpath "$app/tarnwick.exe")" "$(winpath "$app")" >/dev/null
}

floor() {
    TWSTANDIN_DIR="$(winpath "$work/journal")" wine_in "$app" floor.exe makepe "$(winpath "$app")" \
        "$(winpath "$work/out")" >/dev/null
}

# The builder's tool runs: clear out the application folder of the image,
# copy the application without the PE folder, add it and winpeshl.ini,
# master the ISO as the oscdimg stand-in does.
direct() {
    d="$work/direct"
    wim="$d/ISO/SOURCES/BOOT.wim"
    rm -f "$d/boot.iso"
    printf 'rename /TarnwickToolset/Brightmoor /_Brightmoor\ndelete --recursive /TarnwickToolset\nadd %s /TarnwickToolset\nrename /_Brightmoor /TarnwickToolset/Brightmoor\n' \
        "$d/empty" | wimlib-imagex update "$wim" 1 --rebuild --no-acls --quiet >/dev/null
    mkdir -p "$d/staging"
    find "$app" -mindepth 1 -maxdepth 1 ! -name PE -exec cp -R -t "$d/staging" {} +
    echo "add $d/staging /TarnwickToolset/Brightmoor" | wimlib-imagex update "$wim" 1 --no-acls --quiet >/dev/null
    printf '[LaunchApps]\r\n"%%systemdrive%%\\TarnwickToolset\\Brightmoor\\tarnwick.exe"\r\n%%systemdrive%%\\Windows\\System32\\cmd.exe' |
        iconv -t UTF-16LE > "$d/winpeshl.ini"
    echo "add $d/winpeshl.ini /Windows/System32/winpeshl.ini" | wimlib-imagex update "$wim" 1 --no-acls --quiet >/dev/null
    rm -rf "$d/staging"
    xorriso -as mkisofs -quiet -iso-level 3 -J -joliet-long -R -graft-points -o "$d/boot.iso" \
        --set_all_file_dates "$stamp" --modification-date="$stamp" -hide etfsboot.com -hide-joliet etfsboot.com \
        -c boot.catalog -hide boot.catalog -hide-joliet boot.catalog -b etfsboot.com -no-emul-boot \
        "/=$d/ISO" "/etfsboot.com=$pe/etfsboot.com" 2>/dev/null
}

# One export through bench/convert.cpp, from the round's image.
through_export() {
    cp "$work/BOOT.wim" "$pe/ISO/SOURCES/BOOT.wim"
    rm -f "$work/out/boot.iso"
    wine_in "$app" convert.exe "makepe-$1" "$(winpath "$app")" "$(winpath "$work/out")" >/dev/null
}

# Both start each round from the same image.
restore_images() {
    cp "$work/BOOT.wim" "$pe/ISO/SOURCES/BOOT.wim"
    rm -rf "$work/direct"
    mkdir -p "$work/direct/empty" "$work/direct/ISO/SOURCES"
    cp -R "$pe/ISO/BOOT" "$work/direct/ISO/"
    cp "$work/BOOT.wim" "$work/direct/ISO/SOURCES/BOOT.wim"
}

for series in library direct nowork floor copy list options; do : > "$work/$series.times"; done
: > "$work/ratio.times"
for round in $(seq "$rounds"); do
    if [ $((round % 2)) = 1 ]; then order="list options"; else order="options list"; fi
    for series in $order; do
        timed "$work/$series.times" through_export "$series"
    done
    calc 4 "$(tail -1 "$work/options.times") / $(tail -1 "$work/list.times")" >> "$work/ratio.times"
    echo >> "$work/ratio.times"
    restore_images
    wine_in "$app" save.exe "$(winpath "$pe")" >> "$work/copy.times"
    bench_round
    echo "round $round: list $(tail -1 "$work/list.times") s, options $(tail -1 "$work/options.times") s," \
        "library $(tail -1 "$work/library.times") s, direct $(tail -1 "$work/direct.times") s," \
        "no work $(tail -1 "$work/nowork.times") s, floor $(tail -1 "$work/floor.times") s"
done
ls -l "$pe/ISO/SOURCES/BOOT.wim" "$work/direct/boot.iso" | awk '{ printf "%s: %.1f MiB\n", $NF, $5 / 1048576 }'

lib=$(median "$work/library.times")
dir=$(median "$work/direct.times")
none=$(median "$work/nowork.times")
flo=$(median "$work/floor.times")
csv_row "$csv" "app_mib,rounds,library_s,nowork_s,floor_s,direct_s,own_s,own_share_pct,library_per_direct" \
    "$size,$rounds,$lib,$none,$flo,$dir,$(calc 3 "$none - $flo"),$(calc 2 "100 * ($none - $flo) / $lib"),$(calc 3 "$lib / $dir")"
echo "MakePE --deliver iso, medians in seconds; own = no work - floor, share of library:"
print_table "$csv"
copy=$(median "$work/copy.times")
list=$(median "$work/list.times")
opt=$(median "$work/options.times")
echo "MakePEWithOptions (flags 0) / MakePEFromList: ratio of medians $(calc 3 "$opt / $list")," \
    "median of the rounds' ratios $(median "$work/ratio.times"); spreads list $(spread "$work/list.times") %," \
    "options $(spread "$work/options.times") %"
echo "Working copy of BOOT.wim, median: $copy s ($(calc 2 "100 * $copy / $lib") % of a build)"
