#!/bin/bash
# Runs one Linux command for a Windows program under Wine, which cannot wait
# on a Unix process. The request folder holds: argv (NUL-separated), cwd,
# stdin and limit (seconds). The answer is "output" (stdout and stderr) and
# "rc", which appears last and atomically.
req="$1"
mapfile -d '' args < "$req/argv"
limit=$(cat "$req/limit" 2>/dev/null || echo 600)
cwd=$(cat "$req/cwd" 2>/dev/null || echo /)
(
    cd "$cwd" 2>/dev/null || cd /
    exec timeout -k 5 "$limit" "${args[@]}" < "$req/stdin" > "$req/output" 2>&1
)
echo "$?" > "$req/rc.tmp"
mv "$req/rc.tmp" "$req/rc"
