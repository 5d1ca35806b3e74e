#!/bin/sh
# tarnwick make-pe --deliver disk on a console, a pseudo-terminal made by
# script: the disk's line, the question, and what each answer does. A yes
# lets the library run, which refuses for want of a PE folder (exit 1);
# anything else, and Ctrl+C at the question, writes nothing and never loads
# the library (exit 130). Wine's console reads the terminal only once it
# waits for a line, after the type-ahead is dropped, so that is not tried.
#   tests/host/disk-question.sh BUILD
set -eu
build="$(cd "$1" && pwd)"
src="$(cd "$(dirname "$0")/../.." && pwd)"
. "$src/scripts/lib.sh"
: "${TW_WINEPREFIX:=$build/wineprefix}"
export TW_WINEPREFIX
work="$(mktemp -d "$build/disk-question.XXXXXX")"
link="$TW_WINEPREFIX/dosdevices/physicaldrive9"
trap 'rm -rf "$work"; rm -f "$link"' EXIT

mkdir -p "$work/inst/tools"
cp "$build/bin/tarnwick.exe" "$build/bin/TarnwickMedia.dll" "$build/bin/ravenfs.dll" "$build/bin/Discforge.dll" \
    "$work/inst/"
cp "$build/bin/tools/wimlib-imagex.exe" "$build/bin/tools/cdimage.exe" "$build/bin/tools/oscdimg.exe" \
    "$work/inst/tools/"
: > "$work/disk9.img"
ln -sfn "$work/disk9.img" "$link"

fail() {
    printf 'FAIL: %s\n' "$*" >&2
    sed 's/^/   | /' "$work/screen" >&2
    exit 1
}

# The text of the console, whose cursor moves stand for blanks.
screen() {
    [ -f "$work/typescript" ] || : > "$work/typescript"
    perl -pe 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\[[?0-9;]*[a-zA-Z]//g; s/\r//g' "$work/typescript" > "$work/screen"
}

# Types KEYS once the question shows, and leaves the screen's text in
# $work/screen and the exit code in $status: answer KEYS
answer() {
    rm -f "$work/in" "$work/typescript"
    mkfifo "$work/in"
    command="$src/cmake/wine-run.sh '$(winpath "$work/inst/tarnwick.exe")' make-pe --deliver disk --target 9"
    # Wine answers no disk query.
    command="$command --unknown-disk"
    command="$command --startup '$(winpath "$work/inst/tarnwick.exe")' '$(winpath "$work/inst")'"
    # A read that the keys do not end is ended after a minute.
    timeout 60 script -qefc "$command" "$work/typescript" < "$work/in" > /dev/null &
    pid=$!
    # Wine's console reads a line only once it has set up the terminal, so
    # the answer waits for the question.
    exec 3> "$work/in"
    tries=0
    until screen && grep -qF '[y/N]' "$work/screen"; do
        tries=$((tries + 1))
        [ "$tries" -lt 300 ] || { kill "$pid"; fail "no question within a minute"; }
        sleep 0.2
    done
    printf '%s' "$1" >&3
    status=0
    wait "$pid" || status=$?
    exec 3>&-
    screen
}

# \003 is Ctrl+C on the terminal, which ends the read without Enter.
cr="$(printf '\r')"
for reply in "y$cr" "YES$cr" "n$cr" "$cr" "$(printf '\003')"; do
    answer "$reply"
    label="$(printf '%s' "$reply" | sed 's/\x03/Ctrl+C/; s/\r$//')"
    for line in "Disk 9: unknown model, unknown size (error 50), unknown bus" \
        "The media boot on UEFI PCs; a raw ISO image on a disk does not boot on BIOS." \
        "Note: whether disk 9 holds the running system could not be determined." \
        "Erase disk 9 and write the WinPE media to it? [y/N]"; do
        grep -qF "$line" "$work/screen" || fail "answer '$label': no \"$line\""
    done
    case "$reply" in
    "y$cr" | "YES$cr") code=1 expected="tarnwick: make-pe failed: disk 9 was not written" unexpected="nothing written" ;;
    *) code=130 expected="tarnwick: cancelled, nothing written" unexpected="make-pe failed" ;;
    esac
    [ "$status" -eq "$code" ] || fail "answer '$label': exit code $status"
    grep -qF "$expected" "$work/screen" || fail "answer '$label': no \"$expected\""
    ! grep -qF "$unexpected" "$work/screen" || fail "answer '$label': \"$unexpected\""
    echo "answer '$label': $expected"
done
