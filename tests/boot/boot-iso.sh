#!/bin/sh
# Boots an ISO in QEMU under each firmware named, all at once, and prints for
# each "== <firmware>" and what reached COM1:
#   boot-iso.sh ISO bios|uefi...
# bios is SeaBIOS, uefi is OVMF. A boot payload ends QEMU through the
# isa-debug-exit port; a UEFI boot that finds nothing to start on the disc is
# ended once the firmware says so; anything else at the time limit.
set -eu
iso="$1"
shift
limit="${TW_BOOT_LIMIT_SECONDS:-60}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for fw in "$@"; do
    case "$fw" in
    bios) firmware="" ;;
    uefi) firmware="-bios /usr/share/ovmf/OVMF.fd" ;;
    *) echo "boot-iso.sh: unknown firmware $fw" >&2; exit 2 ;;
    esac
    : > "$work/$fw.serial"
    # shellcheck disable=SC2086
    timeout "$limit" qemu-system-x86_64 $firmware -cdrom "$iso" -boot d -serial "file:$work/$fw.serial" \
        -display none -monitor none -net none -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
        >"$work/$fw.err" 2>&1 &
    echo $! > "$work/$fw.pid"
done

running="$*"
while [ -n "$running" ]; do
    still=""
    for fw in $running; do
        pid=$(cat "$work/$fw.pid")
        if ! kill -0 "$pid" 2>/dev/null; then
            continue
        fi
        if grep -q 'failed to load Boot[0-9]* "UEFI QEMU DVD-ROM' "$work/$fw.serial"; then
            kill "$pid"
            continue
        fi
        still="$still $fw"
    done
    running="${still# }"
    [ -z "$running" ] || sleep 0.2
done
wait || true

for fw in "$@"; do
    echo "== $fw"
    sed 's/\x1b\[[0-9;=]*[A-Za-z]//g; s/\r//g' "$work/$fw.serial"
    echo
    cat "$work/$fw.err"
done
