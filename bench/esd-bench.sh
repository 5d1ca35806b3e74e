#!/bin/sh
# Benchmark of ConvertESDToISO: the conversion through the library under Wine
# (tarnwick.exe esd-to-iso, stand-ins bridging to the Linux tools) against the
# same five tool runs made directly by this script, on the same sample ESD,
# alternating in one run. Prints the median wall time of each and their ratio.
# A third series runs the library with journalling stand-ins that do no work:
# what Wine and process starts cost by themselves, so that the bridge's own
# share (library - no-work - direct) can be told apart.
#   bench/esd-bench.sh [BUILD] [PAYLOAD_MIB] [ROUNDS]
set -eu
build="$(cd "${1:-build}" && pwd)"
payload="${2:-100}"
rounds="${3:-3}"
src="$(cd "$(dirname "$0")/.." && pwd)"
# Everything the runs read and write, the Wine prefix with its temporary
# folder included, lives in memory (BENCH_DIR, /dev/shm by default), so that
# disk write-back does not decide the times. A prefix of its own also keeps
# the work folder names apart from a test run at the same time.
bench_dir="${BENCH_DIR:-/dev/shm}/tarnwick-bench-esd"
work="$bench_dir/work"
prefix="$bench_dir/wineprefix"

mkdir -p "$bench_dir"
"$src/cmake/wine-prefix.sh" "$prefix"
export TW_WINEPREFIX="$prefix"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
now() { date +%s.%N; }

mkdir -p "$work/app/tools" "$work/direct"
trap 'WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null; rm -rf "$bench_dir"' EXIT
cp "$build/bin/tarnwick.exe" "$build/bin/TarnwickMedia.dll" "$build/bin/ravenfs.dll" "$work/app/"
cp "$build/bin/tools/"* "$work/app/tools/"
echo "Generating a sample ESD with $payload MiB of incompressible data..."
"$src/scripts/make-sample-esd.sh" "$work/sample.esd" "$payload"
ls -l "$work/sample.esd" | awk '{printf "ESD size: %.1f MiB\n", $5 / 1048576}'

through_library() {
    (cd "$work/app" && "$src/cmake/wine-run.sh" tarnwick.exe esd-to-iso \
        "$(winpath "$work/sample.esd")" "$(winpath "$work/library.iso")" >/dev/null)
}

no_work() {
    rm -rf "$work/journal" && mkdir -p "$work/journal"
    (cd "$work/app" && TWSTANDIN_DIR="$(winpath "$work/journal")" "$src/cmake/wine-run.sh" tarnwick.exe \
        esd-to-iso "$(winpath "$work/sample.esd")" "$(winpath "$work/nowork.iso")" >/dev/null)
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

: > "$work/library.times"
: > "$work/direct.times"
: > "$work/nowork.times"
i=1
while [ "$i" -le "$rounds" ]; do
    t0=$(now); through_library; t1=$(now)
    t2=$(now); direct; t3=$(now)
    t4=$(now); no_work; t5=$(now)
    awk "BEGIN {print $t1 - $t0}" >> "$work/library.times"
    awk "BEGIN {print $t3 - $t2}" >> "$work/direct.times"
    awk "BEGIN {print $t5 - $t4}" >> "$work/nowork.times"
    printf 'round %d: library %.3f s, direct %.3f s, library without tool work %.3f s\n' "$i" \
        "$(tail -1 "$work/library.times")" "$(tail -1 "$work/direct.times")" "$(tail -1 "$work/nowork.times")"
    i=$((i + 1))
done

median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
lib=$(median "$work/library.times")
dir=$(median "$work/direct.times")
none=$(median "$work/nowork.times")
printf 'median library %.3f s, median direct %.3f s, ratio library/direct %.3f\n' "$lib" "$dir" \
    "$(awk "BEGIN {print $lib / $dir}")"
printf 'median without tool work %.3f s (Wine and process starts); bridge share %.3f s = %.1f%% of direct\n' \
    "$none" "$(awk "BEGIN {print $lib - $none - $dir}")" "$(awk "BEGIN {print 100 * ($lib - $none - $dir) / $dir}")"
rm -rf "$work"
