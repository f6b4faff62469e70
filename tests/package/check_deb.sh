#!/bin/sh
# Builds the Debian package from a configured and built tree, unpacks it into
# a scratch root and checks what a user gets: the program, its manual page and
# its bash completion where dpkg puts them, the package's name and version,
# Depends naming libc6 and each shared library the program needs from libpcap
# and libcap, and the unpacked program answering --version. Exits 77 (skipped) when dpkg-deb,
# dpkg-shlibdeps or file (which CPack needs for the dependencies) is missing.
#
# Usage: check_deb.sh CPACK CPACK_CONFIG SCRATCH_DIR VERSION
set -u

cpack=$1
config=$2
scratch=$3
version=$4

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
man_dir="$scratch/root/usr/share/man/man1"
[ -f "$man_dir/pktwatch.1" ] || [ -f "$man_dir/pktwatch.1.gz" ] ||
    fail "usr/share/man/man1/pktwatch.1 (or .1.gz) is not in the package"
[ -f "$scratch/root/usr/share/bash-completion/completions/pktwatch" ] ||
    fail "usr/share/bash-completion/completions/pktwatch is not in the package"

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

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "package checked: $(basename "$deb")"
