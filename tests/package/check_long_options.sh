#!/bin/sh
# The long options stay in step: every one that `pktwatch --help` lists is
# offered by the bash completion script after "--" (and the script offers no
# other), and has its own entry in the manual page's OPTIONS and a row in the
# README's command line table. Exits 77 (skipped) when bash is missing.
#
# Usage: check_long_options.sh PKTWATCH SOURCE_DIR
set -u

program=$1
completion=$2/doc/pktwatch.bash-completion
manual=$2/doc/pktwatch.1
readme=$2/README.md

if ! command -v bash >/dev/null 2>&1; then
    echo "skipped: bash is not installed (apt-get install bash)"
    exit 77
fi

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Bounded: a program that took --help for something else would start
# watching and never end.
help=$(timeout -k 5 20 "$program" --help </dev/null 2>&1)
status=$?
if [ "$status" -ne 0 ]; then
    printf '%s\n' "$help"
    echo "FAIL: $program --help ended with status $status"
    exit 1
fi
options=$(printf '%s\n' "$help" | sed -n 's/^  \(--[a-z][a-z-]*\).*/\1/p' | sort -u)
if [ -z "$options" ]; then
    printf '%s\n' "$help"
    echo "FAIL: $program --help lists no long option"
    exit 1
fi
echo "long options: $(echo $options)"

# What the completion function offers for "pktwatch --<TAB>".
offered=$(bash -c '
    . "$1" || exit 1
    function=$(complete -p pktwatch | sed -n "s/.* -F \([^ ]*\) .*/\1/p")
    [ -n "$function" ] || exit 1
    COMP_WORDS=(pktwatch --)
    COMP_CWORD=1
    "$function" pktwatch -- pktwatch
    printf "%s\n" "${COMPREPLY[@]}"
' sh "$completion" | sort -u)
[ "$offered" = "$options" ] ||
    fail "$completion offers for \"--\": $(echo $offered); --help lists: $(echo $options)"

# The manual page's entries are the lines after each .TP.
entries=$(awk 'previous == ".TP" { print } { previous = $0 }' "$manual")
for option in $options; do
    escaped=$(printf '%s' "$option" | sed 's/-/\\\\-/g')
    printf '%s\n' "$entries" | grep -q "^\.BI\{0,1\} $escaped\( \|\$\)" ||
        fail "$manual has no entry (.TP, then .B or .BI) for $option"
    grep -q "^| [^|]*\`$option[\` ]" "$readme" ||
        fail "$readme has no table row for $option"
done

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "the completion script, the manual page and the README list every long option"
