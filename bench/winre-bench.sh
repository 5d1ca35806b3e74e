#!/bin/sh
# Benchmark of ExtractWinreFromRecoveryPartition: a winre.wim of SIZE_MIB
# (512 by default) at its standard place in a real NTFS image is copied out
# through the library under Wine (reagentc and ravenfs stand-ins, the image
# behind \\.\Harddisk0Partition4), alternating in one run with a plain
# sequential copy of the same bytes from the image by dd, run by run. Prints the median
# time of each and the ratio of the library's throughput to dd's.
# Two more series separate the library's own cost from Wine's: "no work",
# the same call with a journalling reagentc on an image whose winre.wim is
# 64 KiB, and "floor", bench/floor.cpp starting reagentc /info as the library
# does (_popen) and loading the volume library, reading nothing. Own overhead
# = median(no work) - median(floor), as a share of the library's median.
# Library, no work and floor are timed inside their programs, around the call.
#   bench/winre-bench.sh [BUILD] [SIZE_MIB] [ROUNDS]
# The table goes to BUILD/bench/winre.csv too.
set -eu
build="$(cd "${1:-build}" && pwd)"
size="${2:-512}"
rounds="${3:-3}"
src="$(cd "$(dirname "$0")/.." && pwd)"
. "$src/scripts/lib.sh"
work="$build/bench-winre"
prefix="$build/wineprefix-bench-winre"
csv="$build/bench/winre.csv"

use_wine_prefix "$prefix"
mkdir -p "$build/bench"
rm -f "$csv"

link="$prefix/dosdevices/harddisk0partition4"
trap 'rm -rf "$work"; rm -f "$link"' EXIT
rm -rf "$work"
mkdir -p "$work"
echo "Making an NTFS image with a $size MiB winre.wim..."
head -c "${size}M" /dev/urandom > "$work/winre.wim"
head -c 64K /dev/urandom > "$work/small.wim"
"$src/scripts/make-ntfs-image.sh" "$work/recovery.img" $((size + size / 8 + 32)) >/dev/null 2>&1 <<COMMANDS
mkdir /Recovery
mkdir /Recovery/WindowsRE
put /Recovery/WindowsRE/winre.wim $work/winre.wim
COMMANDS
"$src/scripts/make-ntfs-image.sh" "$work/small.img" 16 >/dev/null 2>&1 <<COMMANDS
mkdir /Recovery
mkdir /Recovery/WindowsRE
put /Recovery/WindowsRE/winre.wim $work/small.wim
COMMANDS
ln -sfn "$work/recovery.img" "$link"
expected=$(sha256sum < "$work/winre.wim" | cut -c1-64)

# Where the file's data lies in the image, run by run, for dd.
cluster=$(ntfsinfo -m "$work/recovery.img" | awk '/Cluster Size:/ { print $3 }')
ntfsinfo -v -F /Recovery/WindowsRE/winre.wim "$work/recovery.img" |
    awk '/Runlist:/ { on = 1; next } on && NF == 3 { print $2, $3 } on && NF != 3 { exit }' > "$work/runs"

# Prints the call's time; the copy goes to TARGET (library.wim by default).
through_library() {
    target="${1:-$work/library.wim}"
    rm -f "$target"
    (cd "$build/bin" && "$src/cmake/wine-run.sh" winre_extraction_test.exe --child extract-winre "$(winpath "$target")")
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

# The journal answers reagentc with the report of an enabled recovery
# environment on disk 0, partition 4, as the working stand-in prints it.
fresh_journal() {
    rm -rf "$work/journal" && mkdir -p "$work/journal"
    printf '0 0\n\r\nWindows Recovery Environment (Windows RE) and system reset configuration\r\nInformation:\r\n\r\n    Windows RE status:         Enabled\r\n    Windows RE location:       \\\\?\\GLOBALROOT\\device\\harddisk0\\partition4\\Recovery\\WindowsRE\r\n\r\nREAGENTC.EXE: Operation Successful.\r\n' \
        > "$work/journal/reagentc.response"
}

no_work() {
    fresh_journal
    ln -sfn "$work/small.img" "$link"
    TWSTANDIN_DIR="$(winpath "$work/journal")" through_library "$work/nowork.wim"
    ln -sfn "$work/recovery.img" "$link"
}

floor() {
    fresh_journal
    (cd "$build/bin" && TWSTANDIN_DIR="$(winpath "$work/journal")" "$src/cmake/wine-run.sh" \
        "$build/bench/floor.exe" winre "$(winpath "$build/bin/tools")" "$(winpath "$build/bin/ravenfs.dll")")
}

for series in library plain nowork floor; do : > "$work/$series.times"; done
through_library >/dev/null
for round in $(seq "$rounds"); do
    through_library >> "$work/library.times"
    timed "$work/plain.times" plain_copy
    for pair in 1 2 3; do
        no_work >> "$work/nowork.times"
        floor >> "$work/floor.times"
    done
    echo "round $round: library $(tail -1 "$work/library.times") s, dd $(tail -1 "$work/plain.times") s," \
        "no work $(tail -1 "$work/nowork.times") s, floor $(tail -1 "$work/floor.times") s"
done
[ "$(sha256sum < "$work/library.wim" | cut -c1-64)" = "$expected" ] || { echo "library copy differs"; exit 1; }
[ "$(sha256sum < "$work/plain.wim" | cut -c1-64)" = "$expected" ] || { echo "dd copy differs"; exit 1; }

lib=$(median "$work/library.times")
plain=$(median "$work/plain.times")
none=$(median "$work/nowork.times")
flo=$(median "$work/floor.times")
csv_row "$csv" "winre_mib,rounds,library_s,nowork_s,floor_s,dd_s,own_s,own_share_pct,throughput_library_per_dd" \
    "$size,$rounds,$lib,$none,$flo,$plain,$(calc 3 "$none - $flo"),$(calc 2 "100 * ($none - $flo) / $lib"),$(calc 2 "$plain / $lib")"
echo "ExtractWinreFromRecoveryPartition of $size MiB, medians in seconds; own = no work - floor, share of library:"
print_table "$csv"
