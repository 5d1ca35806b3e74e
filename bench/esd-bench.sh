#!/bin/sh
# Benchmark of the conversion exports, at each payload size, five series
# alternating in one run:
#   plain    ConvertESDToISO under Wine (bench/convert.cpp calls it), the
#            stand-ins bridging to the Linux tools, which do the real work;
#   options  ConvertESDToISOWithOptions the same way, with a sink that takes
#            the records: the tools' output read for progress;
#   no work  the options call with journalling stand-ins that do no work;
#   floor    bench/floor.cpp: the same six processes (five tools and the
#            interpreter's rmdir) started with the library's creation
#            settings, journalling stand-ins too;
#   direct   the same five Linux tool runs made by this script.
# Own overhead = median(no work) - median(floor): what the library adds to
# Wine's process starts, shown as a share of the plain median. Plain and
# options swap places every round; options/plain is also given as the
# median of each round's ratio, and every series with its spread, (max -
# min) / median. The sample's edition holds MIB MiB of application-like files
# in a non-solid (XPRESS) ESD, so that run 4 recompresses them to LZMS as on
# a real ESD. No work and floor are cheap and noisy: each round runs them
# three times.
#   bench/esd-bench.sh [BUILD] [MIB:ROUNDS ...]     (default 100:5 1024:5)
# The table goes to BUILD/bench/esd.csv too.
set -eu
build="$(cd "${1:-build}" && pwd)"
[ $# -gt 0 ] && shift
sizes="${*:-100:5 1024:5}"
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

# convert plain|options: one conversion through that export into plain.iso or options.iso.
convert() {
    rm -f "$work/$1.iso"
    wine_in "$app" convert.exe "$1" "$(winpath "$work/sample.esd")" "$(winpath "$work/$1.iso")" >/dev/null
}

fresh_journal() {
    rm -rf "$work/journal" && mkdir -p "$work/journal"
}

no_work() {
    TWSTANDIN_DIR="$(winpath "$work/journal")" wine_in "$app" convert.exe options \
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

# One round: the plain and options series (in the order given), the
# direct run, then the no-work pairs.
esd_round() {
    for series in "$@"; do
        timed "$work/$series.times" convert "$series"
    done
    timed "$work/direct.times" direct
    no_work_pairs
}

for size in $sizes; do
    payload="${size%:*}"
    rounds="${size#*:}"
    rm -rf "$work"
    mkdir -p "$app" "$work/direct"
    install_app "$build" "$app"
    cp "$build/bench/floor.exe" "$build/bench/convert.exe" "$app/"
    echo "Generating a sample ESD with $payload MiB of application-like files..."
    "$src/scripts/make-sample-esd.sh" "$work/sample.esd" "$payload"
    ls -l "$work/sample.esd" | awk '{ printf "ESD size: %.1f MiB\n", $5 / 1048576 }'
    for series in plain options direct nowork floor; do : > "$work/$series.times"; done
    : > "$work/ratio.times"
    for round in $(seq "$rounds"); do
        if [ $((round % 2)) = 1 ]; then esd_round plain options; else esd_round options plain; fi
        plain_round=$(tail -1 "$work/plain.times")
        opt_round=$(tail -1 "$work/options.times")
        calc 4 "$opt_round / $plain_round" >> "$work/ratio.times"
        echo >> "$work/ratio.times"
        echo "$payload MiB round $round: plain $plain_round s, options $opt_round s," \
            "direct $(tail -1 "$work/direct.times") s, no work $(tail -1 "$work/nowork.times") s," \
            "floor $(tail -1 "$work/floor.times") s"
    done
    lib=$(median "$work/plain.times")
    opt=$(median "$work/options.times")
    dir=$(median "$work/direct.times")
    none=$(median "$work/nowork.times")
    flo=$(median "$work/floor.times")
    csv_row "$csv" "payload_mib,rounds,plain_s,options_s,nowork_s,floor_s,direct_s,own_s,own_share_pct,plain_per_direct,options_per_plain,round_ratio_median,plain_spread_pct,options_spread_pct,direct_spread_pct" \
        "$payload,$rounds,$lib,$opt,$none,$flo,$dir,$(calc 3 "$none - $flo"),$(calc 2 "100 * ($none - $flo) / $lib"),$(calc 3 "$lib / $dir"),$(calc 4 "$opt / $lib"),$(median "$work/ratio.times"),$(spread "$work/plain.times"),$(spread "$work/options.times"),$(spread "$work/direct.times")"
done
echo "ConvertESDToISO (plain) and ConvertESDToISOWithOptions (options), medians in seconds;"
echo "own = no work - floor, share of plain; spreads are (max - min) / median:"
print_table "$csv"
direct_first=$(awk -F, 'NR == 2 { print $7 }' "$csv")
direct_last=$(awk -F, 'END { print $7 }' "$csv")
echo "Direct time of the largest size per the smallest: $(calc 2 "$direct_last / $direct_first")"
