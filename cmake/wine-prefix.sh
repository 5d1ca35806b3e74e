#!/bin/sh
# Creates the private Wine prefix if it is missing and starts its background
# services with their output detached, kept alive by a persistent wineserver,
# so that no test program starts them with its own output and test runners
# see EOF.
set -e
prefix="$1"
export WINEPREFIX="$prefix"
. "$(dirname "$0")/wine-env.sh"
/usr/lib/wine/wineserver -p >/dev/null 2>&1 </dev/null || true
if [ -f "$prefix/system.reg" ]; then
    $tw_wine_launch wineboot >/dev/null 2>&1 </dev/null
else
    $tw_wine_launch wineboot -i >/dev/null 2>&1 </dev/null
fi
