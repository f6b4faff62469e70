#!/bin/sh
# The manual page lints clean: mandoc -Tlint reports nothing at all, style
# suggestions included; without mandoc, groff with every warning on reports
# nothing. Exits 77 (skipped) when neither is installed.
#
# Usage: lint_manual.sh PAGE
set -u

page=$1
if command -v mandoc >/dev/null 2>&1; then
    tool="mandoc -Tlint -W style"
    report=$(mandoc -Tlint -W style "$page" 2>&1)
    status=$?
elif command -v groff >/dev/null 2>&1; then
    tool="groff -ww -man -z"
    report=$(groff -ww -man -z "$page" 2>&1)
    status=$?
else
    echo "skipped: neither mandoc nor groff is installed (apt-get install mandoc)"
    exit 77
fi

if [ "$status" -ne 0 ] || [ -n "$report" ]; then
    echo "$tool $page: status $status"
    echo "$report"
    exit 1
fi
echo "$tool $page: clean"
