#!/bin/sh
# Benchmark of ExtractWinreFromRecoveryPartition: a winre.wim of SIZE_MIB
# (512 by default) at its standard place in a real NTFS image is copied out
# through the library under Wine (reagentc and ravenfs stand-ins, the image
# behind \\.\Harddisk0Partition4), alternating in one run with a plain
# sequential copy of the same bytes from the image by dd, run by run. Prints the median
# time of each and the ratio of the library's throughput to dd's.
#   bench/winre-bench.sh [BUILD] [SIZE_MIB] [ROUNDS]
set -eu
build="$(cd "${1:-build}" && pwd)"
size="${2:-512}"
rounds="${3:-3}"
src="$(cd "$(dirname "$0")/.." && pwd)"
work="$build/bench-winre"
prefix="$build/wineprefix-bench-winre"

"$src/cmake/wine-prefix.sh" "$prefix"
export TW_WINEPREFIX="$prefix"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.$1f\", $2 }"; }

link="$prefix/dosdevices/harddisk0partition4"
trap 'rm -rf "$work"; rm -f "$link"' EXIT
rm -rf "$work"
mkdir -p "$work"
echo "Making an NTFS image with a $size MiB winre.wim..."
head -c "${size}M" /dev/urandom > "$work/winre.wim"
"$src/scripts/make-ntfs-image.sh" "$work/recovery.img" $((size + size / 8 + 32)) >/dev/null 2>&1 <<COMMANDS
mkdir /Recovery
mkdir /Recovery/WindowsRE
put /Recovery/WindowsRE/winre.wim $work/winre.wim
COMMANDS
ln -sfn "$work/recovery.img" "$link"
expected=$(sha256sum < "$work/winre.wim" | cut -c1-64)

# Where the file's data lies in the image, run by run, for dd.
cluster=$(ntfsinfo -m "$work/recovery.img" | awk '/Cluster Size:/ { print $3 }')
ntfsinfo -v -F /Recovery/WindowsRE/winre.wim "$work/recovery.img" |
    awk '/Runlist:/ { on = 1; next } on && NF == 3 { print $2, $3 } on && NF != 3 { exit }' > "$work/runs"

through_library() {
    rm -f "$work/library.wim"
    (cd "$build/bin" && "$src/cmake/wine-run.sh" winre_extraction_test.exe --child extract-winre \
        "$(winpath "$work/library.wim")")
}

plain_copy() {
    remaining=$((size * 1048576))
    while read -r lcn clusters; do
        bytes=$((clusters * cluster))
        [ "$bytes" -le "$remaining" ] || bytes=$remaining
        dd if="$work/recovery.img" bs=2M iflag=skip_bytes,count_bytes skip=$((lcn * cluster)) count="$bytes" \
            status=none
        remaining=$((remaining - bytes))
    done < "$work/runs" > "$work/plain.wim"
}

: > "$work/library.times"
: > "$work/plain.times"
through_library >/dev/null
for round in $(seq "$rounds"); do
    library=$(through_library)
    start=$(now); plain_copy; end=$(now)
    echo "$library" >> "$work/library.times"
    calc 3 "$end - $start" >> "$work/plain.times"; echo >> "$work/plain.times"
    echo "round $round: library $library s, dd $(tail -1 "$work/plain.times") s"
done
[ "$(sha256sum < "$work/library.wim" | cut -c1-64)" = "$expected" ] || { echo "library copy differs"; exit 1; }
[ "$(sha256sum < "$work/plain.wim" | cut -c1-64)" = "$expected" ] || { echo "dd copy differs"; exit 1; }

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
lib=$(median "$work/library.times")
plain=$(median "$work/plain.times")
echo "winre.wim: $size MiB, $rounds rounds (medians)"
echo "library (Wine, reagentc, ravenfs): $lib s, $(calc 1 "$size / $lib") MiB/s"
echo "dd of the same bytes:              $plain s, $(calc 1 "$size / $plain") MiB/s"
echo "throughput ratio library/dd: $(calc 2 "$plain / $lib")"
