# Shell helpers of the demo and the benchmarks. Sourced, not run; the caller
# sets src to the repository root first.

# A Unix path as Wine's Z: drive shows it.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# Seconds since the epoch, to the nanosecond.
now() { date +%s.%N; }

# Arithmetic with DIGITS decimals: calc DIGITS EXPRESSION.
calc() { awk "BEGIN { printf \"%.$1f\", $2 }"; }

# The median of a file of numbers, one a line.
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs a command and appends its wall time in seconds to FILE: timed FILE COMMAND...
timed() {
    _timed_file="$1"
    shift
    _timed_start=$(now)
    "$@"
    calc 3 "$(now) - $_timed_start" >> "$_timed_file"
    echo >> "$_timed_file"
}

# Starts a private Wine prefix and makes it the one wine_in uses.
use_wine_prefix() {
    "$src/cmake/wine-prefix.sh" "$1"
    export TW_WINEPREFIX="$1"
}

# Ends the wine server of the prefix use_wine_prefix started.
stop_wine_prefix() {
    WINEPREFIX="$TW_WINEPREFIX" /usr/lib/wine/wineserver -k 2>/dev/null || true
}

# Runs a Windows program in FOLDER with FOLDER\tools first on the search path,
# ahead of Wine's own stubs, as the real tools would be on a Windows machine:
#   wine_in FOLDER PROGRAM ARGS...
wine_in() {
    _wine_dir="$1"
    shift
    (cd "$_wine_dir" && WINEPATH="$(winpath "$_wine_dir/tools")" "$src/cmake/wine-run.sh" "$@")
}

# A sample installation of the host program in FOLDER: the host, the library,
# the volume and boot-disk libraries beside it and the stand-ins in tools\.
#   install_app BUILD FOLDER
install_app() {
    mkdir -p "$2/tools"
    cp "$1/bin/tarnwick.exe" "$1/bin/TarnwickMedia.dll" "$1/bin/ravenfs.dll" "$1/bin/Discforge.dll" "$2/"
    cp "$1/bin/tools/"* "$2/tools/"
}

# MIB MiB of application-like data in many files under FOLDER: a third
# incompressible (as already compressed files are), a third base64 text and
# a third hex tables, which compress to about three quarters and a half.
#   payload_tree FOLDER MIB
payload_tree() {
    _part=$(($2 / 3))
    mkdir -p "$1/media" "$1/text" "$1/tables"
    head -c "$((($2 - 2 * _part) * 1048576))" /dev/urandom | split -b 1M -d -a 4 - "$1/media/clip"
    head -c "$((_part * 786432 + 1048576))" /dev/urandom | base64 -w 76 | head -c "$((_part * 1048576))" |
        split -b 512K -d -a 4 - "$1/text/page"
    head -c "$((_part * 524288 + 1048576))" /dev/urandom | basenc --base16 -w 64 | head -c "$((_part * 1048576))" |
        split -b 256K -d -a 4 - "$1/tables/table"
}

# (max - min) / median of a file of numbers, in per cent.
spread() { sort -n "$1" | awk -v m="$(median "$1")" 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.1f", 100 * (hi - lo) / m }'; }

# Appends one row to a CSV file, writing HEADER first into a new file:
#   csv_row FILE HEADER VALUES (both comma-separated)
csv_row() {
    [ -s "$1" ] || echo "$2" > "$1"
    echo "$3" >> "$1"
}

# A CSV file as an aligned table.
print_table() { column -t -s, "$1"; }

# One round of a benchmark's four series into $work/*.times: the library, the
# direct run, then the no-work pairs. The caller defines through_library,
# direct, no_work, floor, fresh_journal.
bench_round() {
    timed "$work/library.times" through_library
    timed "$work/direct.times" direct
    no_work_pairs
}

# Three alternated pairs of the no-work run and the floor, cheap and noisy.
no_work_pairs() {
    for pair in 1 2 3; do
        fresh_journal
        timed "$work/nowork.times" no_work
        fresh_journal
        timed "$work/floor.times" floor
    done
}
