#!/bin/sh
# Benchmark of ConvertESDToISO, at each payload size, four series alternating
# in one run:
#   library  tarnwick.exe esd-to-iso under Wine, the stand-ins bridging to the
#            Linux tools, which do the real work;
#   no work  the same call with journalling stand-ins that do no work;
#   floor    bench/floor.cpp: the same six processes (five tools and the
#            interpreter's rmdir) started with the library's creation
#            settings, journalling stand-ins too;
#   direct   the same five Linux tool runs made by this script.
# Own overhead = median(no work) - median(floor): what the library and its
# host add to Wine's process starts, shown as a share of the library's median.
# The install image is compressible, so the export recompresses it as on a
# real ESD. No work and floor are cheap and noisy: each round runs them
# three times.
#   bench/esd-bench.sh [BUILD] [MIB:ROUNDS ...]     (default 100:5 1024:3)
# The table goes to BUILD/bench/esd.csv too.
set -eu
build="$(cd "${1:-build}" && pwd)"
[ $# -gt 0 ] && shift
sizes="${*:-100:5 1024:3}"
src="$(cd "$(dirname "$0")/.." && pwd)"
. "$src/scripts/lib.sh"
# Everything the runs read and write, the Wine prefix with its temporary
# folder included, lives in memory (BENCH_DIR, /dev/shm by default), so that
# disk write-back does not decide the times. A prefix of its own also keeps
# the work folder names apart from a test run at the same time.
bench_dir="${BENCH_DIR:-/dev/shm}/tarnwick-bench-esd"
work="$bench_dir/work"
app="$work/app"
csv="$build/bench/esd.csv"

mkdir -p "$bench_dir" "$build/bench"
use_wine_prefix "$bench_dir/wineprefix"
trap 'stop_wine_prefix; rm -rf "$bench_dir"' EXIT
rm -f "$csv"

through_library() {
    rm -f "$work/library.iso"
    wine_in "$app" tarnwick.exe esd-to-iso "$(winpath "$work/sample.esd")" "$(winpath "$work/library.iso")" >/dev/null
}

fresh_journal() {
    rm -rf "$work/journal" && mkdir -p "$work/journal"
}

no_work() {
    TWSTANDIN_DIR="$(winpath "$work/journal")" wine_in "$app" tarnwick.exe esd-to-iso \
        "$(winpath "$work/sample.esd")" "$(winpath "$work/nowork.iso")" >/dev/null
}

floor() {
    TWSTANDIN_DIR="$(winpath "$work/journal")" wine_in "$app" floor.exe esd \
        "$(winpath "$work/sample.esd")" "$(winpath "$work/nowork.iso")" >/dev/null
}

direct() {
    d="$work/direct/tree"
    rm -rf "$d" "$work/direct.iso"
    mkdir -p "$d/sources"
    wimlib-imagex extract "$work/sample.esd" 1 --dest-dir="$d" --no-acls >/dev/null
    wimlib-imagex export "$work/sample.esd" 2 "$d/sources/boot.wim" --compress=LZX --chunk-size 32K >/dev/null
    wimlib-imagex export "$work/sample.esd" 3 "$d/sources/boot.wim" --compress=LZX --chunk-size 32K --boot >/dev/null
    wimlib-imagex export "$work/sample.esd" 4 "$d/sources/install.wim" --compress=LZMS --chunk-size 128K >/dev/null
    xorriso -as mkisofs -quiet -iso-level 3 -R -J -joliet-long -V Windows \
        --modification-date="$(date +%Y%m%d%H%M%S00)" -b boot/etfsboot.com -no-emul-boot \
        -o "$work/direct.iso" "$d" 2>/dev/null
    rm -rf "$d"
}

# A solid ESD whose edition image holds MIB MiB of compressible files: the
# sample's images, uncompressed, take the files, then all are compressed once.
make_esd() {
    "$src/scripts/make-sample-esd.sh" "$work/base.esd" 0
    wimlib-imagex export "$work/base.esd" all "$work/plain.wim" --compress=none >/dev/null
    payload_tree "$work/payload" "$1"
    wimlib-imagex update "$work/plain.wim" 4 --command="add \"$work/payload\" /Windows/System32/payload" >/dev/null
    wimlib-imagex export "$work/plain.wim" all "$work/sample.esd" --solid >/dev/null
    rm -rf "$work/payload" "$work/base.esd" "$work/plain.wim"
}

for size in $sizes; do
    payload="${size%:*}"
    rounds="${size#*:}"
    rm -rf "$work"
    mkdir -p "$app" "$work/direct"
    install_app "$build" "$app"
    cp "$build/bench/floor.exe" "$app/"
    echo "Generating a sample ESD with $payload MiB of compressible files..."
    make_esd "$payload"
    ls -l "$work/sample.esd" | awk '{ printf "ESD size: %.1f MiB\n", $5 / 1048576 }'
    for series in library direct nowork floor; do : > "$work/$series.times"; done
    for round in $(seq "$rounds"); do
        bench_round
        echo "$payload MiB round $round: library $(tail -1 "$work/library.times") s," \
            "direct $(tail -1 "$work/direct.times") s, no work $(tail -1 "$work/nowork.times") s," \
            "floor $(tail -1 "$work/floor.times") s"
    done
    lib=$(median "$work/library.times")
    dir=$(median "$work/direct.times")
    none=$(median "$work/nowork.times")
    flo=$(median "$work/floor.times")
    csv_row "$csv" "payload_mib,rounds,library_s,nowork_s,floor_s,direct_s,own_s,own_share_pct,library_per_direct" \
        "$payload,$rounds,$lib,$none,$flo,$dir,$(calc 3 "$none - $flo"),$(calc 2 "100 * ($none - $flo) / $lib"),$(calc 3 "$lib / $dir")"
done
echo "ConvertESDToISO, medians in seconds; own = no work - floor, share of library:"
print_table "$csv"
