#!/bin/sh
# Creates the private Wine prefix once and leaves its background services
# running with their output detached, so that test runners see EOF.
set -e
prefix="$1"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 </dev/null
fi
/usr/lib/wine/wineserver -p >/dev/null 2>&1 </dev/null || true
