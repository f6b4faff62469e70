#!/bin/sh
# Runs a Windows program under Wine, in a Wine prefix of its own, quietly.
# Usage: wine-run.sh PREFIX PROGRAM [ARGUMENT...]
#        wine-run.sh PREFIX --start-server | --stop-server
# The prefix is created on first use; concurrent first uses wait for each
# other. The cross build uses this as its CMAKE_CROSSCOMPILING_EMULATOR.
#
# Whenever its last program ends, the Wine server of a prefix shuts down
# Wine's own services and then itself; a program started meanwhile fails
# ("wine client error: ... Connection reset by peer", status 1, nothing
# else). The tests start one server that stays up for the whole run
# (--start-server) and stop it at the end (--stop-server).
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

if [ -x /usr/lib/wine/wineserver64 ]; then
    wineserver=/usr/lib/wine/wineserver64
else
    wineserver=wineserver
fi
started="$prefix.server-started"
if [ "$1" = --stop-server ]; then
    rm -f "$started"
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    exit 0
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

# Wine's services (services.exe, winedevice.exe, ...) start with the first
# program, and take its output as theirs. Under a persistent server they live
# on, so a test whose output they held would never be seen to end: they are
# started here, with no output of anybody's.
start_services() {
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

if [ "$1" = --start-server ]; then
    # Started already in this run (ctest --repeat runs the set-up again):
    # kept, or started again where it has gone.
    if [ -f "$started" ]; then
        if "$wineserver" -p 2>/dev/null; then
            start_services
        fi
        exit 0
    fi
    # Persistent: it outlives every program until --stop-server. Only one
    # runs for a prefix, so one still there (wineboot's, winding down, or an
    # earlier run's) is ended first. It goes into the background by itself
    # once it listens.
    tries=0
    until "$wineserver" -k 2>/dev/null; "$wineserver" -w 2>/dev/null; "$wineserver" -p 2>/dev/null; do
        tries=$((tries + 1))
        if [ "$tries" -ge 5 ]; then
            echo "$0: cannot start a persistent Wine server for $prefix" >&2
            exit 1
        fi
        sleep 1
    done
    start_services
    touch "$started"
    exit 0
fi

exec "$wine" "$@"
