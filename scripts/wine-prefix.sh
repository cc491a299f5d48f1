#!/bin/sh
# Creates the Wine prefix given as $1 once; later runs reuse it.
set -e
prefix="$1"
if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    WINEPREFIX="$prefix" wineboot -i
fi
WINEPREFIX="$prefix" wineserver -w
