#!/bin/bash
# Runs one Linux command for a Windows program under Wine, which cannot wait
# on a Unix process. Called as: unixrun.sh BASE LIMIT WORKDIR
# BASE.argv holds the command (NUL-separated), BASE.in its input if any. The
# answer is BASE.out (standard output and error) and BASE.rc, which appears
# last and atomically. The command is ended after LIMIT seconds.
base="$1"
limit="$2"
mapfile -d '' args < "$base.argv"
input=/dev/null
[ -f "$base.in" ] && input="$base.in"
(
    cd "$3" 2>/dev/null || cd /
    exec timeout -k 5 "$limit" "${args[@]}" < "$input" > "$base.out" 2>&1
)
echo "$?" > "$base.rc.tmp"
mv "$base.rc.tmp" "$base.rc"
