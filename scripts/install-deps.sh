#!/bin/sh
# Installs what building, testing and packaging pktwatch needs on Debian,
# when run as root; otherwise says what is missing and ends with status 1.
# Plain sh and apt-get only: the README's two commands start with it, on a
# system that may have nothing else, not even make.
set -eu

missing=""
command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
command -v g++ >/dev/null 2>&1 || missing="$missing g++"
command -v make >/dev/null 2>&1 || missing="$missing make"
[ -f /usr/include/gtest/gtest.h ] || missing="$missing libgtest-dev"
[ -f /usr/include/gmock/gmock.h ] || missing="$missing libgmock-dev"
command -v ip >/dev/null 2>&1 || missing="$missing iproute2"
command -v setpriv >/dev/null 2>&1 || missing="$missing util-linux"
# The test that an executable with only the file capability cap_net_raw
# ends with none.
command -v setcap >/dev/null 2>&1 || [ -x /usr/sbin/setcap ] || [ -x /sbin/setcap ] || missing="$missing libcap2-bin"
# Capture files and giving up privileges.
[ -f /usr/include/pcap/pcap.h ] || missing="$missing libpcap0.8-dev"
[ -f /usr/include/sys/capability.h ] || missing="$missing libcap-dev"
# Tests: the manual page's lint, and an outside reader of capture files.
command -v mandoc >/dev/null 2>&1 || missing="$missing mandoc"
command -v tcpdump >/dev/null 2>&1 || missing="$missing tcpdump"
# The Debian package: CPack runs dpkg-shlibdeps for its Depends, and file to
# find the executables to give it.
command -v dpkg-shlibdeps >/dev/null 2>&1 || missing="$missing dpkg-dev"
command -v file >/dev/null 2>&1 || missing="$missing file"

[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    # shellcheck disable=SC2086
    apt-get install -y -q $missing
else
    echo "pktwatch needs:$missing" >&2
    echo "Install them with: sudo apt-get install -y$missing" >&2
    exit 1
fi
