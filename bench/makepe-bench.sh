#!/bin/sh
# Benchmark of the builds: a sample installation holding its PE folder (laid
# out as the demo does) and an application of APP_MIB MiB in many files of
# mixed compressibility (payload_tree) put into a boot image that holds
# 300 MiB of system files, as a real WinPE image does, ISO out. Three groups,
# chosen with MAKEPE_SERIES (default "wine native overhead"), each alternating
# its series in one run:
#   wine      MakePEWithOptions (flags 0) against MakePEFromList, both called
#             by bench/convert.cpp with the stand-ins doing the real work: a
#             first build from the round's image, a second build of the
#             unchanged application on the image the first one left, and a
#             build after a tenth of the application's files changed;
#   native    the same three builds of MakePEWithOptions' pipeline made by
#             this script with Debian's wimlib-imagex and xorriso (working
#             copy, one update run without a rebuild, the PE folder left out
#             by a capture configuration, the image rewritten once it has
#             grown half again; none of it when the image was built from the
#             same inputs) against Debian's mkwinpeimg --iso --wim
#             --overlay, which starts from the round's image every time;
#   overhead  tarnwick.exe make-pe --deliver iso ("library") against the
#             native pipeline's first build ("direct"); "no work", the same
#             call with journalling stand-ins, against "floor"
#             (bench/floor.cpp starting the same processes): own =
#             median(no work) - median(floor), as a share of the library's
#             median; and the working copy of BOOT.wim that every build makes
#             (bench/save.cpp, the library's code), as a share of the library's
#             median.
#   bench/makepe-bench.sh [BUILD] [APP_MIB] [ROUNDS]     (default 200 3)
# MAKEPE_SYSTEM=mixed makes the image's system files of mixed compressibility
# too (default: one incompressible file). The tables go to
# BUILD/bench/makepe.csv and BUILD/bench/makepe-overhead.csv.
set -eu
build="$(cd "${1:-build}" && pwd)"
size="${2:-200}"
rounds="${3:-3}"
groups="${MAKEPE_SERIES:-wine native overhead}"
src="$(cd "$(dirname "$0")/.." && pwd)"
. "$src/scripts/lib.sh"
# In memory, as the ESD benchmark, with a Wine prefix of its own.
bench_dir="${BENCH_DIR:-/dev/shm}/tarnwick-bench-makepe"
work="$bench_dir/work"
app="$work/app"
pe="$app/PE"
peer="$work/peer"
state="$work/state"
csv="$build/bench/makepe.csv"
overhead_csv="$build/bench/makepe-overhead.csv"
stamp=2021070917300000
# The library's record of the image's size at its last rewrite.
size_record=tarnwick-image.size

runs() { case " $groups " in *" $1 "*) return 0 ;; *) return 1 ;; esac; }

rm -rf "$bench_dir"
mkdir -p "$bench_dir" "$build/bench"
use_wine_prefix "$bench_dir/wineprefix"
trap 'stop_wine_prefix; rm -rf "$bench_dir"' EXIT
rm -f "$csv" "$overhead_csv"

echo "Laying out a sample installation with a PE folder and $size MiB of application files..."
mkdir -p "$app" "$work/out" "$work/empty" "$state"
install_app "$build" "$app"
cp "$build/bench/floor.exe" "$build/bench/save.exe" "$build/bench/convert.exe" "$app/"
mkdir -p "$pe/ISO/BOOT" "$pe/ISO/SOURCES"
{ printf 'TWBOOTSECTOR'; head -c 2036 /dev/zero; } > "$pe/etfsboot.com"
printf 'ramdisk options\n' > "$pe/ISO/BOOT/BOOT.SDI"
tree="$work/winpe-tree"
mkdir -p "$tree/Windows/System32" "$tree/TarnwickToolset/Brightmoor"
printf 'winpe shell\n' > "$tree/Windows/System32/winpeshl.exe"
# Incompressible, as before; "mixed" gives the system files payload_tree's
# mix, stored compressed, which a rebuild copies without compressing again.
if [ "${MAKEPE_SYSTEM:-random}" = mixed ]; then
    payload_tree "$tree/Windows/System32/system" 300
else
    head -c 314572800 /dev/urandom > "$tree/Windows/System32/system.bin"
fi
printf 'previous build\n' > "$tree/TarnwickToolset/Brightmoor/old.txt"
wimlib-imagex capture "$tree" "$work/BOOT.wim" "Microsoft Windows PE (amd64)" --boot --quiet >/dev/null
rm -rf "$tree"
printf 'sample application settings\n' > "$app/tarnwick.ini"
payload_tree "$app/data" "$size"
du -sm "$app" | awk '{ print "Application folder: " $1 " MiB" }'

# The pipeline's update batch for flags 0, as MakePEWithOptions writes it.
printf '[LaunchApps]\r\n"%%systemdrive%%\\TarnwickToolset\\Brightmoor\\tarnwick.exe"\r\n%%systemdrive%%\\Windows\\System32\\cmd.exe' |
    iconv -t UTF-16LE > "$work/winpeshl.ini"
printf '[ExclusionList]\n/PE\n' > "$work/exclude.ini"
cat > "$work/update.txt" <<EOF
rename /TarnwickToolset/Brightmoor /_Brightmoor
delete --recursive /TarnwickToolset
add "$work/empty" /TarnwickToolset
rename /_Brightmoor /TarnwickToolset/Brightmoor
add "$app" /TarnwickToolset/Brightmoor
add "$work/winpeshl.ini" /Windows/System32/winpeshl.ini
EOF

# The peer's input: boot files where it looks for a mounted installation ISO,
# and an overlay of the same application (hard links, so that the changed
# files change there too) and winpeshl.ini.
mkdir -p "$peer/windows/sources" "$peer/windows/boot" "$peer/overlay/TarnwickToolset/Brightmoor" \
    "$peer/overlay/Windows/System32"
cp "$pe/etfsboot.com" "$peer/windows/boot/etfsboot.com"
cp "$pe/ISO/BOOT/BOOT.SDI" "$peer/windows/boot/boot.sdi"
printf 'boot manager\n' > "$peer/windows/bootmgr"
printf 'boot store\n' > "$peer/windows/boot/bcd"
find "$app" -mindepth 1 -maxdepth 1 ! -name PE -exec cp -al -t "$peer/overlay/TarnwickToolset/Brightmoor" {} +
cp "$work/winpeshl.ini" "$peer/overlay/Windows/System32/winpeshl.ini"
peer_why=""
command -v mkwinpeimg >/dev/null || peer_why="mkwinpeimg is not installed (Debian's wimtools)"
[ -n "$peer_why" ] || command -v mkisofs >/dev/null ||
    peer_why="mkisofs, which mkwinpeimg --iso runs, is not installed (Debian's genisoimage)"

# A tenth of the application's files get new content of their kind, written
# in place.
change_tenth() {
    find "$app/data" -type f | sort | awk 'NR % 10 == 1' | while read -r f; do
        n=$(stat -c %s "$f")
        case "$f" in
        */media/*) head -c "$n" /dev/urandom > "$f" ;;
        */text/*) head -c "$n" /dev/urandom | base64 -w 76 | head -c "$n" > "$f" ;;
        *) head -c "$n" /dev/urandom | basenc --base16 -w 64 | head -c "$n" > "$f" ;;
        esac
    done
}

# A state folder of the pipeline holding the round's image.
reset_pipeline() {
    rm -rf "$1"
    mkdir -p "$1/ISO/SOURCES"
    cp -R "$pe/ISO/BOOT" "$1/ISO/"
    cp "$work/BOOT.wim" "$1/ISO/SOURCES/BOOT.wim"
    rm -f "$1/rewritten"
}

# The inputs of a build as the library sums them up: the batch, the start-up
# file, and every file of the application but the PE folder and the log the
# Wine series write there, by name, size and times.
build_inputs() {
    { cat "$work/update.txt" "$work/winpeshl.ini" "$work/exclude.ini"
      find "$app" \( -path "$pe" -o -path "$app/tarnwick.log" \) -prune -o -type f -printf '%P %s %T@ %C@\n' \
          -o -printf '%P %y\n'; } | sha256sum | cut -c1-64
}

# MakePEWithOptions' tool runs for flags 0 on the state folder $1: unless the
# image's record says it was built from the same inputs, the working copy,
# one update run, the rewrite past 3/2 of the size at the last one (with none
# recorded, the first build's size is recorded) and the swap; then the ISO.
pipeline() {
    d="$1"
    inputs=$(build_inputs)
    if [ "$(cat "$d/built" 2>/dev/null)" != "$(stat -c '%i %s %.9Y' "$d/ISO/SOURCES/BOOT.wim") $inputs" ]; then
        update_image "$d"
        echo "$(stat -c '%i %s %.9Y' "$d/ISO/SOURCES/BOOT.wim") $inputs" > "$d/built"
    fi
    rm -f "$d/boot.iso"
    xorriso -as mkisofs -quiet -iso-level 3 -J -joliet-long -R -graft-points -o "$d/boot.iso" \
        --set_all_file_dates "$stamp" --modification-date="$stamp" -hide etfsboot.com -hide-joliet etfsboot.com \
        -c boot.catalog -hide boot.catalog -hide-joliet boot.catalog -b etfsboot.com -no-emul-boot \
        "/=$d/ISO" "/etfsboot.com=$pe/etfsboot.com" 2>/dev/null
}

update_image() {
    d="$1"
    cp "$d/ISO/SOURCES/BOOT.wim" "$d/BOOT.wim.work"
    wimlib-imagex update "$d/BOOT.wim.work" 1 --no-acls --config="$work/exclude.ini" < "$work/update.txt" >/dev/null
    grown=$(stat -c %s "$d/BOOT.wim.work")
    [ -f "$d/rewritten" ] || echo "$grown" > "$d/rewritten"
    if [ $((grown * 2)) -gt $(($(cat "$d/rewritten") * 3)) ]; then
        wimlib-imagex optimize "$d/BOOT.wim.work" >/dev/null
        stat -c %s "$d/BOOT.wim.work" > "$d/rewritten"
        echo "$d" >> "$work/rewrites"
    fi
    mv "$d/BOOT.wim.work" "$d/ISO/SOURCES/BOOT.wim"
}

# The peer from the round's image; the first failure is kept as the reason
# and the peer is not run again.
peer_build() {
    [ -z "$peer_why" ] || return 0
    rm -rf "$peer/tmp" "$peer/boot.iso"
    _peer_start=$(now)
    if mkwinpeimg --iso --windows-dir="$peer/windows" --wim="$work/BOOT.wim" --overlay="$peer/overlay" \
        --tmp-dir="$peer/tmp" "$peer/boot.iso" > "$peer/log" 2>&1 </dev/null; then
        calc 3 "$(now) - $_peer_start" >> "$work/peer-$1.times"
        echo >> "$work/peer-$1.times"
    else
        peer_why="mkwinpeimg failed: $(tail -n 3 "$peer/log" | tr '\n' ' ')"
    fi
}

# Each export keeps its own image (and size record) between its builds.
reset_wine() {
    rm -rf "${state:?}/$1"
    mkdir -p "$state/$1"
    cp "$work/BOOT.wim" "$state/$1/BOOT.wim"
}

wine_build() {
    mv "$state/$1/BOOT.wim" "$pe/ISO/SOURCES/BOOT.wim"
    if [ -f "$state/$1/$size_record" ]; then mv "$state/$1/$size_record" "$pe/"; fi
    rm -f "$work/out/boot.iso"
    timed "$work/$1-$2.times" wine_in "$app" convert.exe "makepe-$1" "$(winpath "$app")" "$(winpath "$work/out")" \
        >/dev/null
    stat -c %s "$pe/ISO/SOURCES/BOOT.wim" >> "$work/$1-$2.sizes"
    mv "$pe/ISO/SOURCES/BOOT.wim" "$state/$1/BOOT.wim"
    if [ -f "$pe/$size_record" ]; then mv "$pe/$size_record" "$state/$1/"; fi
}

native_build() {
    if [ "$1" = peer ]; then
        peer_build "$2"
    else
        timed "$work/pipeline-$2.times" pipeline "$work/pipeline"
        stat -c %s "$work/pipeline/ISO/SOURCES/BOOT.wim" >> "$work/pipeline-$2.sizes"
    fi
}

# The overhead group, through bench_round of scripts/lib.sh.
through_library() {
    rm -f "$work/out/boot.iso"
    wine_in "$app" tarnwick.exe make-pe --deliver iso --target "$(winpath "$work/out")" \
        --startup "$(winpath "$app/tarnwick.exe")" "$(winpath "$app")" >/dev/null
}

direct() { pipeline "$work/direct"; }

# The journalling ISO tool leaves no ISO, which the host would refuse to replace.
fresh_journal() {
    rm -rf "$work/journal" "$work/out/boot.iso" && mkdir -p "$work/journal"
}

no_work() {
    TWSTANDIN_DIR="$(winpath "$work/journal")" wine_in "$app" tarnwick.exe make-pe --deliver iso \
        --target "$(winpath "$work/out")" --startup "$(winpath "$app/tarnwick.exe")" "$(winpath "$app")" >/dev/null
}

floor() {
    TWSTANDIN_DIR="$(winpath "$work/journal")" wine_in "$app" floor.exe makepe "$(winpath "$app")" \
        "$(winpath "$work/out")" >/dev/null
}

overhead_round() {
    cp "$work/BOOT.wim" "$pe/ISO/SOURCES/BOOT.wim"
    rm -f "$pe/$size_record"
    reset_pipeline "$work/direct"
    wine_in "$app" save.exe "$(winpath "$pe")" >> "$work/copy.times"
    bench_round
}

last() { if [ -s "$1" ]; then tail -n 1 "$1"; else echo -; fi; }

: > "$work/rewrites"
for f in library direct nowork floor copy; do : > "$work/$f.times"; done
for s in options list pipeline peer; do
    for b in first second changed; do : > "$work/$s-$b.times"; : > "$work/$s-$b.sizes"; done
done
for round in $(seq "$rounds"); do
    if [ $((round % 2)) = 1 ]; then
        wine_order="options list" native_order="pipeline peer"
    else
        wine_order="list options" native_order="peer pipeline"
    fi
    reset_wine options
    reset_wine list
    reset_pipeline "$work/pipeline"
    for b in first second changed; do
        runs wine || runs native || break
        if [ "$b" = changed ]; then change_tenth; fi
        if runs wine; then
            for s in $wine_order; do wine_build "$s" "$b"; done
        fi
        if runs native; then
            for s in $native_order; do native_build "$s" "$b"; done
        fi
        echo "round $round, $b build: options $(last "$work/options-$b.times") s, list $(last "$work/list-$b.times") s," \
            "pipeline $(last "$work/pipeline-$b.times") s, mkwinpeimg $(last "$work/peer-$b.times") s"
    done
    if runs overhead; then
        overhead_round
        echo "round $round, overhead: library $(last "$work/library.times") s, direct $(last "$work/direct.times") s," \
            "no work $(last "$work/nowork.times") s, floor $(last "$work/floor.times") s, copy $(last "$work/copy.times") s"
    fi
done

# median or -, spread or -, of a file of times.
med() { if [ -s "$1" ]; then median "$1"; else echo -; fi; }
spr() { if [ -s "$1" ]; then spread "$1"; else echo -; fi; }
ratio() { if [ "$1" = - ] || [ "$2" = - ]; then echo -; else calc 3 "$1 / $2"; fi; }
mib() { if [ -s "$1" ]; then median "$1" | awk '{ printf "%.1f", $1 / 1048576 }'; else echo -; fi; }

header="setting,build,ours,ours_s,ours_spread_pct,peer,peer_s,peer_spread_pct,ratio,goal_at_most"
row() { # SETTING BUILD OURS OURS_SERIES PEER PEER_SERIES GOAL
    o=$(med "$work/$4-$2.times")
    p=$(med "$work/$6-$2.times")
    [ "$o" != - ] || return 0
    if [ "$6" = peer ] && [ -n "$peer_why" ]; then p="n/a"; fi
    r=$(ratio "$o" "$p")
    if [ "$p" = n/a ]; then r="n/a"; fi
    csv_row "$csv" "$header" "$1,$2,$3,$o,$(spr "$work/$4-$2.times"),$5,$p,$(spr "$work/$6-$2.times"),$r,$7"
}
for b in first second changed; do
    case $b in first) goal=0.5 ;; second) goal=0.15 ;; changed) goal=0.35 ;; esac
    row native "$b" pipeline pipeline mkwinpeimg peer "$goal"
done
for b in first second changed; do
    case $b in second) goal=0.2 ;; *) goal=- ;; esac
    row wine "$b" MakePEWithOptions options MakePEFromList list "$goal"
done
if [ -s "$csv" ]; then
    echo "Builds of a $size MiB application, ISO out, $rounds rounds; medians in seconds, spread = (max - min) / median," \
        "ratio = ours / peer:"
    print_table "$csv"
    if runs native && [ -n "$peer_why" ]; then echo "No mkwinpeimg numbers: $peer_why"; fi
    echo "Boot image after the first, second and changed build (MiB, medians):" \
        "MakePEWithOptions $(mib "$work/options-first.sizes")/$(mib "$work/options-second.sizes")/$(mib "$work/options-changed.sizes")," \
        "MakePEFromList $(mib "$work/list-first.sizes")/$(mib "$work/list-second.sizes")/$(mib "$work/list-changed.sizes")," \
        "pipeline $(mib "$work/pipeline-first.sizes")/$(mib "$work/pipeline-second.sizes")/$(mib "$work/pipeline-changed.sizes");" \
        "the pipeline rewrote its image $(grep -c '/pipeline$' "$work/rewrites" || true) times in $rounds rounds"
fi

if runs overhead; then
    lib=$(median "$work/library.times")
    dir=$(median "$work/direct.times")
    none=$(median "$work/nowork.times")
    flo=$(median "$work/floor.times")
    copy=$(median "$work/copy.times")
    csv_row "$overhead_csv" "app_mib,rounds,library_s,nowork_s,floor_s,direct_s,own_s,own_share_pct,library_per_direct" \
        "$size,$rounds,$lib,$none,$flo,$dir,$(calc 3 "$none - $flo"),$(calc 2 "100 * ($none - $flo) / $lib"),$(calc 3 "$lib / $dir")"
    echo "tarnwick make-pe --deliver iso (MakePEWithOptions), medians in seconds; own = no work - floor, share of library:"
    print_table "$overhead_csv"
    echo "Working copy of BOOT.wim, median: $copy s ($(calc 2 "100 * $copy / $lib") % of a build)"
fi
