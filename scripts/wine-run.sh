#!/bin/sh
# Runs a Windows program under Wine, in a Wine prefix of its own, quietly.
# Usage: wine-run.sh PREFIX PROGRAM [ARGUMENT...]
# The prefix is created on first use; concurrent first uses wait for each
# other. The cross build uses this as its CMAKE_CROSSCOMPILING_EMULATOR.
set -eu

if [ $# -lt 2 ]; then
    echo "usage: $0 PREFIX PROGRAM [ARGUMENT...]" >&2
    exit 2
fi
prefix=$1
shift

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono or Gecko: console programs need neither, and no installer dialogue.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Debian's /usr/bin/wine prefers the 32-bit loader and complains when only the
# 64-bit one is installed; the programs here are 64-bit, so ask for it.
if [ -x /usr/lib/wine/wine64 ]; then
    wine=/usr/lib/wine/wine64
    export WINELOADER="$wine"
elif command -v wine64 >/dev/null 2>&1; then
    wine=wine64
elif command -v wine >/dev/null 2>&1; then
    wine=wine
else
    echo "$0: wine is not installed (make test-windows installs it when root)" >&2
    exit 127
fi

ready="$prefix/.pktwatch-ready"
if [ ! -f "$ready" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ ! -f "$ready" ]; then
            "$wine" wineboot --init >/dev/null 2>&1 </dev/null
            touch "$ready"
        fi
    ) 9>"$prefix.lock"
fi

exec "$wine" "$@"
