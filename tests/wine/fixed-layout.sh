#!/bin/sh
# Checks that the Wine launcher starts programs without address randomisation
# and that the programs they start inherit it: with randomisation, about one
# process start in a thousand fails because the loader's heap covers the
# range Wine needs for the shared user data.
launcher="$1"
if ! setarch "$(uname -m)" -R true 2>/dev/null; then
    echo "address randomisation cannot be turned off on this machine"
    exit 77
fi
# The reply timeout marks the outer and inner interpreter and the ping.
marker="-w $$ 127.0.0.1"
"$launcher" cmd /c "cmd /c ping -n 4 $marker >nul" &
launched=$!
pids=""
for _ in $(seq 100); do
    pids=$(pgrep -f -- "$marker" | grep -vx "$$") || true
    [ "$(echo "$pids" | wc -w)" -ge 3 ] && break
    sleep 0.2
done
status=0
count=0
for pid in $pids; do
    personality=$(cat "/proc/$pid/personality" 2>/dev/null) || continue
    count=$((count + 1))
    if [ $((0x$personality & 0x40000)) -eq 0 ]; then
        echo "process $pid ($(tr '\0' ' ' < "/proc/$pid/cmdline")) runs with randomised addresses"
        status=1
    fi
done
wait "$launched"
if [ "$count" -lt 3 ]; then
    echo "saw $count of the 3 Wine processes"
    exit 1
fi
[ "$status" -eq 0 ] && echo "$count Wine processes run with a fixed layout"
exit "$status"
