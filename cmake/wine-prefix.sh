#!/bin/sh
# Creates the private Wine prefix if it is missing and starts its background
# services with their output detached, kept alive by a persistent wineserver,
# so that no test program starts them with its own output and test runners
# see EOF.
set -e
prefix="$1"
export WINEPREFIX="$prefix"
. "$(dirname "$0")/wine-env.sh"

# True when a server that outlives its programs serves the prefix.
persistent_server_running() {
    server_dir=$(printf 'server-%x-%x' "$(stat -c %d "$prefix")" "$(stat -c %i "$prefix")")
    for pid in $(pgrep -x wineserver64); do
        case "$(readlink "/proc/$pid/cwd")" in */"$server_dir") ;; *) continue ;; esac
        case "$(tr '\0' ' ' < "/proc/$pid/cmdline")" in *" -p ") return 0 ;; esac
    done
    return 1
}

if [ ! -f "$prefix/system.reg" ]; then
    $tw_wine_launch wineboot -i >/dev/null 2>&1 </dev/null
fi
if ! persistent_server_running; then
    # A server that ends with its last program, such as the one that made the
    # prefix, refuses a persistent one beside it: let it end first.
    /usr/lib/wine/wineserver -w
    /usr/lib/wine/wineserver -p >/dev/null 2>&1 </dev/null
fi
$tw_wine_launch wineboot >/dev/null 2>&1 </dev/null
