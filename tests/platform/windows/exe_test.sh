#!/bin/sh
# pktwatch.exe under Wine, from the outside: the usage text, the sockets-layer
# lines, the options report, the failure line of the capture socket (Wine has
# no raw IPv4 receive and no SIO_RCVALL, so capture itself cannot start) and the
# exit statuses; Japanese text as Shift-JIS bytes when redirected and as real
# characters on a terminal; and the same usage text and options report bytes
# as the Linux build's.
#
# Usage: exe_test.sh PKTWATCH_EXE TESTS_DIR LINUX_PKTWATCH|"" WINE_RUN PREFIX
# TESTS_DIR is the repository's tests/: the expected outputs are in its
# platform/windows/data/, the usage text (shared with the options test) is
# its data/usage.txt.
# Wine writes "\n" as "\r\n" to redirected output; outputs are compared with
# one "\r" taken off each line end ("line ends aside").
set -u

exe=$1
expected=$2/platform/windows/data
usage=$2/data/usage.txt
linux_exe=$3
wine_run=$4
prefix=$5

export LC_ALL=C
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cr=$(printf '\r')
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# run NAME [ARGUMENT...]: runs pktwatch.exe in its own directory with standard
# input from $work/NAME.in (empty when there is none); leaves NAME.out (line
# ends normalised), NAME.err and NAME.status.
run() {
    name=$1
    shift
    mkdir -p "$work/$name"
    [ -f "$work/$name.in" ] || : >"$work/$name.in"
    (cd "$work/$name" && timeout 120 "$wine_run" "$prefix" "$exe" "$@" \
        <"$work/$name.in" >"$work/$name.raw" 2>"$work/$name.err")
    echo $? >"$work/$name.status"
    sed "s/$cr\$//" "$work/$name.raw" >"$work/$name.out"
}

expect_status() {
    actual=$(cat "$work/$1.status")
    [ "$actual" = "$2" ] || fail "$1: exit status $actual, expected $2"
}

# The start of every run: the usage text, then the two sockets-layer lines,
# each with its own "\r" before the line end. Leaves what follows in NAME.rest.
expect_start() {
    head -n 15 "$work/$1.out" >"$work/$1.usage"
    cmp -s "$work/$1.usage" "$usage" ||
        fail "$1: the usage text differs: $(diff "$usage" "$work/$1.usage")"
    sed -n 16p "$work/$1.out" | grep -q "^Description	:.*$cr\$" ||
        fail "$1: line 16 is not the description line: $(sed -n 16p "$work/$1.out")"
    sed -n 17p "$work/$1.out" | grep -q "^Systemstatus	:.*$cr\$" ||
        fail "$1: line 17 is not the status line: $(sed -n 17p "$work/$1.out")"
    tail -n +18 "$work/$1.out" >"$work/$1.rest"
}

# After the options report (REPORT_LINES lines of NAME.rest), the one failure
# line of the capture socket that Wine produces, on its stream, and status 255.
expect_capture_failure() {
    name=$1
    tail -n +$(($2 + 1)) "$work/$name.rest" >"$work/$name.failure"
    failure=$(cat "$work/$name.failure")
    case "$failure" in
        "::socket() failed.")
            # No line end after it.
            [ "$(tail -c 1 "$work/$name.failure")" = "." ] ||
                fail "$name: a line end after the socket failure line"
            ;;
        "::ioctlsocket() error.") ;;
        "")
            head -n 1 "$work/$name.err" | grep -qx "::bind() error.$cr\\{0,1\\}" ||
                fail "$name: no failure line on standard output or standard error"
            ;;
        *) fail "$name: unexpected text after the options report: $failure" ;;
    esac
    # The system's reason follows on standard error.
    [ -s "$work/$name.err" ] || fail "$name: no reason on standard error"
    expect_status "$name" 255
}

# --- -h: the usage text twice, status 0 -------------------------------------
run help -h
expect_start help
cmp -s "$work/help.rest" "$usage" ||
    fail "help: not the usage text a second time: $(cat "$work/help.rest")"
[ -s "$work/help.err" ] && fail "help: standard error: $(cat "$work/help.err")"
expect_status help 0

# --- the local address: report, then the capture socket's failure -----------
run bind_loopback 127.0.0.1
expect_start bind_loopback
printf '%s\n' "OPTIONS" "Show header detail   no" "Show dump            no" \
    "logfile              <no>" "Listen address       127.0.0.1" "" \
    "Filtering address    0.0.0.0 - 0.0.0.0" "Filtering port       0" >"$work/loopback.report"
head -n 8 "$work/bind_loopback.rest" | cmp -s - "$work/loopback.report" ||
    fail "bind_loopback: options report: $(head -n 8 "$work/bind_loopback.rest")"
expect_capture_failure bind_loopback 8

# --- every option: the report, and no log file before capture started -------
set -- -d -b -i 192.168.1.10 -w 5 -p 80 -f pktwatch.log 192.0.2.1
run all_options "$@"
expect_start all_options
head -n 8 "$work/all_options.rest" | cmp -s - "$expected/options_report.txt" ||
    fail "all_options: options report: $(head -n 8 "$work/all_options.rest")"
expect_capture_failure all_options 8
[ -e "$work/all_options/pktwatch.log" ] && fail "all_options: log file created"

# The same bytes as the Linux build's (192.0.2.1 is no local address, so the
# Linux monitor cannot start either; the timeout is only a guard).
if [ -n "$linux_exe" ] && [ -x "$linux_exe" ]; then
    mkdir -p "$work/linux"
    (cd "$work/linux" && timeout 20 "$linux_exe" "$@" </dev/null >"$work/linux.out" 2>/dev/null)
    head -n 15 "$work/linux.out" | cmp -s - "$work/all_options.usage" ||
        fail "the usage text differs from the Linux build's"
    sed -n '/^OPTIONS$/,/^Filtering port/p' "$work/linux.out" >"$work/linux.report"
    head -n 8 "$work/all_options.rest" | cmp -s - "$work/linux.report" ||
        fail "the options report differs from the Linux build's: $(cat "$work/linux.report")"
else
    echo "note: no Linux pktwatch given; not compared with the Linux build's output"
fi

# --- a bad option value: Shift-JIS message bytes, status 255 ----------------
run bad_port -p 0
expect_start bad_port
cmp -s "$work/bad_port.rest" "$expected/port_error.cp932" ||
    fail "bad_port: not the Shift-JIS port message: $(od -c "$work/bad_port.rest" | head -n 5)"
expect_status bad_port 255

# --- the dialogue: Shift-JIS questions, answers from standard input ---------
printf 'n\nn\nn\nn\nn\n1\n' >"$work/dialogue.in"
run dialogue
expect_start dialogue
size=$(wc -c <"$expected/dialogue_questions.cp932")
head -c "$size" "$work/dialogue.rest" | cmp -s - "$expected/dialogue_questions.cp932" ||
    fail "dialogue: not the five questions in Shift-JIS: $(head -c "$size" "$work/dialogue.rest" | od -c | head -n 5)"
for line in "Show header detail   no" "Show dump            no" "logfile              <no>" \
    "Filtering port       0"; do
    grep -qxF "$line" "$work/dialogue.rest" || fail "dialogue: no report line \"$line\""
done
grep -q 'No\.1 : [0-9]*\.[0-9]*\.[0-9]*\.[0-9]*$' "$work/dialogue.rest" ||
    fail "dialogue: no local address listed"
expect_capture_failure dialogue "$(grep -n '^Filtering port' "$work/dialogue.rest" | cut -d: -f1)"

# --- on a terminal Wine makes a console: Japanese goes out as characters ----
if command -v script >/dev/null 2>&1; then
    mkdir -p "$work/tty"
    command="cd '$work/tty' && '$wine_run' '$prefix' '$exe' -p 0"
    LC_ALL=C.UTF-8 timeout 120 script -qec "$command" /dev/null </dev/null >"$work/tty.raw" 2>&1
    echo $? >"$work/tty.status"
    expect_status tty 255
    # Wine draws the console with terminal escape sequences; take them away.
    sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$work/tty.raw" >"$work/tty.out"
    grep -qF "ポート番号を正しく指定してください." "$work/tty.out" ||
        fail "tty: the port message is not on the terminal as UTF-8 characters: $(od -c "$work/tty.out" | tail -n 8)"
else
    echo "note: no script(1); the console test did not run"
fi

if [ "$failures" -ne 0 ]; then
    # What each run left on standard error, and its status, before the work
    # folder goes: a failure under Wine often says why only there.
    for err in "$work"/*.err; do
        name=$(basename "$err" .err)
        echo "--- $name: status $(cat "$work/$name.status" 2>/dev/null), standard error:" >&2
        cat "$err" >&2
    done
    echo "$failures failure(s)" >&2
    exit 1
fi
echo "pktwatch.exe: all checks passed"
