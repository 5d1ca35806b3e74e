#!/bin/sh
# Runs a Windows program under the build tree's private Wine prefix.
# TW_WINEPREFIX is set by CTest; otherwise the prefix lives in the current build tree.
: "${TW_WINEPREFIX:=$(pwd)/wineprefix}"
export WINEPREFIX="$TW_WINEPREFIX"
. "$(dirname "$0")/wine-env.sh"
exec $tw_wine_launch "$@"
