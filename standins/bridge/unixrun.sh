#!/bin/bash
# Runs one Linux command for a Windows program under Wine, which cannot wait
# on a Unix process. Called as: unixrun.sh BASE LIMIT WORKDIR [PORT]
# BASE.argv holds the command (NUL-separated), BASE.in its input if any. The
# answer is BASE.out (standard output and error) and BASE.rc, which appears
# last and atomically. BASE.rc holds the exit code in decimal and a line
# break; the reader takes anything else, such as the empty file that a full
# file system leaves, for a failure. The command is ended after LIMIT seconds,
# and as soon as the caller goes: PORT is a loopback port the caller listens
# on until it ends, the only sign of its end that reaches a Unix process.
base="$1"
limit="$2"
port="${4:-0}"
mapfile -d '' args < "$base.argv"
input=/dev/null
[ -f "$base.in" ] && input="$base.in"
(
    cd "$3" 2>/dev/null || cd /
    exec timeout -k 5 "$limit" "${args[@]}" < "$input" > "$base.out" 2>&1
) &
command=$!
watcher=
if [ "$port" != 0 ] && exec 3<>"/dev/tcp/127.0.0.1/$port"; then
    # The read ends when the caller's socket closes; timeout passes the
    # signal on to the command.
    (read -r -u 3 _; kill -TERM "$command" 2>/dev/null) &
    watcher=$!
    exec 3<&-
fi 2>/dev/null
wait "$command"
code="$?"
[ -n "$watcher" ] && kill "$watcher" 2>/dev/null
echo "$code" > "$base.rc.tmp"
mv "$base.rc.tmp" "$base.rc"
