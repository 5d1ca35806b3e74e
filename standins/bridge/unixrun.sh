#!/bin/bash
# Runs one Linux command for a Windows program under Wine, which cannot wait
# on a Unix process. Called as: unixrun.sh BASE LIMIT WORKDIR
# BASE.argv holds the command (NUL-separated), BASE.in its input if any. The
# answer is BASE.out (standard output and error) and BASE.rc, which appears
# last and atomically. BASE.rc holds the exit code in decimal and a line
# break; the reader takes anything else, such as the empty file that a full
# file system leaves, for a failure. The command is ended after LIMIT seconds.
base="$1"
limit="$2"
mapfile -d '' args < "$base.argv"
input=/dev/null
[ -f "$base.in" ] && input="$base.in"
(
    cd "$3" 2>/dev/null || cd /
    exec timeout -k 5 "$limit" "${args[@]}" < "$input" > "$base.out" 2>&1
)
code="$?"
echo "$code" > "$base.rc.tmp"
mv "$base.rc.tmp" "$base.rc"
