#!/bin/sh
# Installs what the Windows cross build and its tests under Wine need on
# Debian (the mingw-w64 cross compiler, Wine, GoogleTest's sources), when run
# as root; otherwise says what is missing.
set -eu

missing=""
command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
command -v make >/dev/null 2>&1 || missing="$missing make"
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || missing="$missing g++-mingw-w64-x86-64"
[ -f /usr/src/googletest/CMakeLists.txt ] || missing="$missing googletest"
command -v flock >/dev/null 2>&1 || missing="$missing util-linux"
command -v script >/dev/null 2>&1 || missing="$missing bsdutils"
# The test programs are 64-bit: Debian 12 puts the 64-bit loader in wine64,
# beside the wine package's commands.
if ! [ -x /usr/lib/wine/wine64 ] && ! command -v wine64 >/dev/null 2>&1; then
    missing="$missing wine"
fi

[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    case "$missing" in
        *" wine"*)
            if apt-cache policy wine64 | grep -q 'Candidate: [0-9]'; then
                missing="$missing wine64"
            fi
            ;;
    esac
    # shellcheck disable=SC2086
    apt-get install -y -q --no-install-recommends $missing
else
    echo "the Windows build needs:$missing" >&2
    echo "Install them with: sudo apt-get install -y$missing" >&2
    exit 1
fi
