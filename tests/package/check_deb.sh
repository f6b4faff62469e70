#!/bin/sh
# Builds the Debian package from a configured and built tree, unpacks it into
# a scratch root and checks what a user gets: the program, its compressed
# manual page and its bash completion where dpkg puts them, the copyright file
# in Debian's machine-readable format with the terms of LICENSE, a changelog
# whose latest entry is this version, the package's name and version, Depends
# naming libc6 and each shared library the program needs from libpcap and
# libcap, and the unpacked program answering --version. Where lintian is
# installed, it must report no error on the package. Exits 77 (skipped) when
# dpkg-deb, dpkg-shlibdeps or file (which CPack needs for the dependencies)
# is missing.
#
# Usage: check_deb.sh CPACK CPACK_CONFIG SCRATCH_DIR VERSION LICENSE
set -u

cpack=$1
config=$2
scratch=$3
version=$4
licence=$5

for tool in dpkg-deb dpkg-shlibdeps file; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is not installed (apt-get install dpkg-dev file)"
        exit 77
    fi
done

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

rm -rf "$scratch"
mkdir -p "$scratch/out" "$scratch/root"
trap 'rm -rf "$scratch"' EXIT

if ! "$cpack" -G DEB --config "$config" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log"
    echo "FAIL: cpack -G DEB --config $config"
    exit 1
fi
set -- "$scratch"/out/*.deb
if [ "$#" -ne 1 ] || [ ! -f "$1" ]; then
    cat "$scratch/cpack.log"
    echo "FAIL: cpack made no single .deb in $scratch/out"
    exit 1
fi
deb=$1
echo "package: $(basename "$deb")"

dpkg-deb -x "$deb" "$scratch/root" || fail "dpkg-deb -x $deb"
program="$scratch/root/usr/bin/pktwatch"
[ -x "$program" ] || fail "usr/bin/pktwatch is not in the package or not executable"
# Debian's policy wants manual pages compressed.
[ -f "$scratch/root/usr/share/man/man1/pktwatch.1.gz" ] ||
    fail "usr/share/man/man1/pktwatch.1.gz is not in the package"
[ -f "$scratch/root/usr/share/bash-completion/completions/pktwatch" ] ||
    fail "usr/share/bash-completion/completions/pktwatch is not in the package"

# The copyright file (DEP-5): the format's URI first, the licence named for
# every file, and the stand-alone licence paragraph, once unindented, the
# terms of LICENSE (all of it after its copyright line and the empty line).
copyright="$scratch/root/usr/share/doc/pktwatch/copyright"
if [ ! -f "$copyright" ]; then
    fail "usr/share/doc/pktwatch/copyright is not in the package"
else
    [ "$(head -n 1 "$copyright")" = \
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
        fail "the copyright file does not start with the DEP-5 Format line: $(head -n 1 "$copyright")"
    grep -qxF "Files: *" "$copyright" || fail "the copyright file has no 'Files: *' paragraph"
    grep -qxF "Copyright: $(sed -n '1s/^Copyright //p' "$licence")" "$copyright" ||
        fail "the copyright file does not give LICENSE's copyright line"
    terms=$(awk 'done { print } /^$/ { done = 1 }' "$licence")
    paragraph=$(awk 'found { sub(/^ /, ""); if ($0 == ".") $0 = ""; print }
                     $0 == "License: BSD-2-Clause" { count++; if (count == 2) found = 1 }' \
        "$copyright")
    [ "$paragraph" = "$terms" ] ||
        fail "the copyright file's licence paragraph is not the terms of $licence"
fi

# The changelog (a native package's: changelog.gz) starts with this version.
changelog="$scratch/root/usr/share/doc/pktwatch/changelog.gz"
if [ ! -f "$changelog" ]; then
    fail "usr/share/doc/pktwatch/changelog.gz is not in the package"
else
    latest=$(gzip -dc "$changelog" | head -n 1)
    case "$latest" in
        "pktwatch ($version) "*) ;;
        *) fail "the changelog's latest entry is not version $version: $latest" ;;
    esac
fi

field() {
    dpkg-deb -f "$deb" "$1"
}
[ "$(field Package)" = pktwatch ] || fail "Package is '$(field Package)', not pktwatch"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
depends=$(field Depends)
echo "Depends: $depends"
case "$depends" in
    *libc6*) ;;
    *) fail "Depends names no libc6" ;;
esac
# Each of libpcap and libcap that the program links must come with its
# package: dpkg-shlibdeps reads the NEEDED entries, so a missing one means the
# dependencies were not computed, or not from this program.
needed=$(LC_ALL=C objdump -p "$program" 2>/dev/null | awk '$1 == "NEEDED" { print $2 }')
[ -n "$needed" ] || fail "objdump -p found no NEEDED library in usr/bin/pktwatch"
for entry in "libpcap.so libpcap" "libcap.so libcap"; do
    soname=${entry% *}
    package=${entry#* }
    case "$needed" in
        *"$soname"*)
            case "$depends" in
                *"$package"*) ;;
                *) fail "the program needs $soname but Depends names no $package" ;;
            esac
            ;;
    esac
done

# Bounded: a program that took --version for something else would start
# watching and never end.
expected="pktwatch $version"
output=$(timeout -k 5 20 "$program" --version </dev/null 2>"$scratch/stderr"; echo "status $?")
want=$(printf '%s\nstatus 0' "$expected")
if [ "$output" != "$want" ]; then
    fail "usr/bin/pktwatch --version gave (then its exit status):"
    printf '%s\n' "$output"
    cat "$scratch/stderr"
fi

# Lintian's warnings are shown, its errors fail the check.
if command -v lintian >/dev/null 2>&1; then
    report=$(lintian --fail-on error "$deb" 2>&1)
    status=$?
    report=$(printf '%s\n' "$report" | grep -v '^running with root privileges is not recommended')
    echo "lintian: ${report:-no errors, no warnings}"
    [ "$status" -eq 0 ] || fail "lintian reports errors on $(basename "$deb") (status $status)"
else
    echo "lintian is not installed: the package was not linted (apt-get install lintian)"
fi

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "package checked: $(basename "$deb")"
