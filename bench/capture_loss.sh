#!/bin/bash
# Capture loss on loopback: how many of COUNT small UDP datagrams (60 bytes
# with their IPv4 header) sent to 127.0.0.1:PORT each capturer accounts for,
# at 50k, 200k and 500k datagrams a second and at the sender's maximum; the
# median of RUNS runs. The capturers, run one after the other in the same
# conditions:
#   pktwatch            -p PORT -f LOG 127.0.0.1        (summary view in the log)
#   pktwatch -d -b      -p PORT -f LOG 127.0.0.1        (detail view and dump)
#   tcpdump -l          -i lo -nn -l udp port PORT > FILE   (when installed)
#   tcpdump -w          -i lo -nn -w FILE udp port PORT     (when installed)
# pktwatch's console echo goes to /dev/null (-e FILE: to that file, which
# costs a second file write per datagram); its standard error goes to a file
# of its own. Each capturer is stopped with SIGINT (then SIGTERM, then
# SIGKILL if it has not ended within 10 s, 5 s). Beside what it captured, each
# run reports what the capturer says of itself: pktwatch's summary line on
# standard error at the stop ("R datagrams received, S shown, F left out by
# the filter, K dropped by the kernel, E console echoes skipped": S, K and
# whether S + K equals the datagrams the sender reports it sent, all of them
# to the filtered port), tcpdump's "N packets dropped by kernel"; n/a when the
# line is absent (a build that prints none).
#
# Then the latency of an account on an idle interface: latency_probe sends
# LATENCY_COUNT datagrams 5 ms apart, one at a time, and times how long the
# capturer's file takes to grow after each (given up after 1 s: lost; at most
# 30 s a capturer), for
#   pktwatch            -p PORT -f LOG 127.0.0.1
#   tcpdump -U -w       -i lo -nn -U -w FILE udp port PORT  (when installed)
#   tcpdump -l          -i lo -nn -l udp port PORT > FILE   (when installed)
# Then the monitor's CPU time while a flood of FLOOD datagrams at 500k/s goes
# to a port its filter does not match (the kernel prefilter should drop them
# all), and its summary line for that run.
#
# Run as root, by hand, from the top of the repository, after
#   cmake -S . -B build-perf -DCMAKE_BUILD_TYPE=Release -DPKTWATCH_BENCH=ON
#   cmake --build build-perf -j2
# Usage: bench/capture_loss.sh [-b BUILD_DIR] [-n COUNT] [-r RUNS] [-p PORT]
#                              [-R "RATES"] [-F FLOOD] [-e ECHO_FILE]
#                              [-L LATENCY_COUNT]   (0: no latency runs)
# Only loopback is used; every wait is bounded; only the processes this
# script starts are stopped, by their PIDs.
set -u

build="build-perf"
count=200000
runs=5
port=47123
rates="50000 200000 500000 0"
flood=1000000
echo_file=/dev/null
latency_count=300
while getopts "b:n:r:p:R:F:e:L:" option; do
    case $option in
        b) build=$OPTARG ;;
        n) count=$OPTARG ;;
        r) runs=$OPTARG ;;
        p) port=$OPTARG ;;
        R) rates=$OPTARG ;;
        F) flood=$OPTARG ;;
        e) echo_file=$OPTARG ;;
        L) latency_count=$OPTARG ;;
        *) sed -n '2,40p' "$0"; exit 2 ;;
    esac
done

pktwatch=$build/pktwatch
sender=$build/bench/udp_sender
probe=$build/bench/latency_probe
if [ "$(id -u)" -ne 0 ]; then
    echo "capture_loss: run as root (the capturers need packet sockets)" >&2
    exit 2
fi
for program in "$pktwatch" "$sender" "$probe"; do
    if [ ! -x "$program" ]; then
        echo "capture_loss: $program missing; build with -DPKTWATCH_BENCH=ON" >&2
        exit 2
    fi
done
have_tcpdump=0
if command -v tcpdump >/dev/null 2>&1; then
    have_tcpdump=1
fi
# A command started with & from a script ignores SIGINT; started through
# this, it has SIGINT's default action again (or the handler it installs).
with_sigint=""
if env --default-signal=INT true 2>/dev/null; then
    with_sigint="env --default-signal=INT"
fi

work=$(mktemp -d /tmp/capture_loss.XXXXXX)
results=$work/results
started=""
stop_started() {
    for pid in $started; do
        kill "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap stop_started EXIT
trap 'exit 130' INT TERM

# The processor time the threads of a process have used, in nanoseconds.
cpu_ns() {
    cat "/proc/$1"/task/*/schedstat 2>/dev/null | awk '{ t += $1 } END { print t + 0 }'
}

# Waits (at most 5 s) until FILE holds TEXT.
wait_for_text() {
    local file=$1 text=$2 tries=0
    while [ $tries -lt 50 ]; do
        grep -q -- "$text" "$file" 2>/dev/null && return 0
        sleep 0.1
        tries=$((tries + 1))
    done
    echo "capture_loss: no \"$text\" in $file" >&2
    return 1
}

# Waits until FILE has not grown for 0.5 s (at most 30 s): the capturer has
# worked off its queue.
wait_until_quiet() {
    local file=$1 last=-1 size still=0 tries=0
    while [ $tries -lt 300 ] && [ $still -lt 5 ]; do
        size=$(stat -c %s "$file" 2>/dev/null || echo 0)
        if [ "$size" = "$last" ]; then still=$((still + 1)); else still=0; fi
        last=$size
        sleep 0.1
        tries=$((tries + 1))
    done
}

# Whether a process this script started is still running.
alive() {
    kill -0 "$1" 2>/dev/null && [ "$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1)" != Z ]
}

# Waits (at most $2 tenths of a second) for a process to end.
wait_for_end() {
    local tries=0
    while [ $tries -lt "$2" ] && alive "$1"; do
        sleep 0.1
        tries=$((tries + 1))
    done
    ! alive "$1"
}

# Stops a process this script started with signal $2 (default TERM): waits
# for it at most 10 s, then sends SIGTERM and waits 5 s, then SIGKILL. Sets
# stop_status to its exit status and stop_signal to the signal that ended it.
stop() {
    local kept="" one
    stop_signal=${2:-TERM}
    kill "-$stop_signal" "$1" 2>/dev/null
    if ! wait_for_end "$1" 100; then
        stop_signal=TERM
        kill -TERM "$1" 2>/dev/null
        if ! wait_for_end "$1" 50; then
            stop_signal=KILL
            kill -KILL "$1" 2>/dev/null
        fi
    fi
    wait "$1" 2>/dev/null
    stop_status=$?
    for one in $started; do
        [ "$one" != "$1" ] && kept="$kept $one"
    done
    started=$kept
}

# send RATE -> prints "sent achieved_rate"
send() {
    local line
    line=$("$sender" 127.0.0.1 "$port" "$count" "$1" 32 120 |
        sed -n 's/^sent=\([0-9]*\) seconds=[0-9.]* rate=\([0-9]*\)$/\1 \2/p')
    echo "${line:-0 0}"
}

# pktwatch's summary line in its standard error FILE -> prints
# "received shown filtered kernel_drops echoes_skipped", or "n/a" when the
# file holds none.
monitor_counts() {
    local counts
    counts=$(sed -n 's/^pktwatch: \([0-9]*\) datagrams received, \([0-9]*\) shown, \([0-9]*\) left out by the filter, \([0-9]*\) dropped by the kernel, \([0-9]*\) console echoes skipped$/\1 \2 \3 \4 \5/p' \
        "$1" 2>/dev/null | tail -n 1)
    echo "${counts:-n/a}"
}

# The last running total of pktwatch's "N datagrams dropped by the kernel
# (total T)" lines in FILE, or "-" when there is none.
running_drops() {
    local total
    total=$(sed -n 's/^pktwatch: [0-9]* datagrams dropped by the kernel (total \([0-9]*\))$/\1/p' \
        "$1" 2>/dev/null | tail -n 1)
    echo "${total:--}"
}

# tcpdump's "N packets dropped by kernel" in its standard error FILE, or n/a.
tcpdump_drops() {
    local drops
    drops=$(sed -n 's/^\([0-9]*\) packets\{0,1\} dropped by kernel$/\1/p' "$1" 2>/dev/null | tail -n 1)
    echo "${drops:-n/a}"
}

# Starts pktwatch MODE... -p PORT -f LOG 127.0.0.1, its echo to the echo
# file and its standard error to ERR. Sets pid (no subshell, so that the PIDs
# it starts stay known to the exit trap).
start_pktwatch() {
    local log=$1 err=$2 monitored_port=$3
    shift 3
    rm -f "$log" "$err"
    # shellcheck disable=SC2086
    $with_sigint "$pktwatch" "$@" -p "$monitored_port" -f "$log" 127.0.0.1 \
        >"$echo_file" 2>"$err" &
    pid=$!
    started="$started $pid"
}

# One pktwatch run. Sets result to
# "sent achieved captured cpu_ns shown kernel_drops" (the last two n/a when
# the monitor printed no summary line) and note to the rest of what it said.
run_pktwatch() {
    local rate=$1 mode=$2 log=$work/pktwatch.log err=$work/pktwatch.err pid
    # shellcheck disable=SC2086
    start_pktwatch "$log" "$err" "$port" $mode
    wait_for_text "$log" "Filtering port" || {
        stop "$pid" INT
        result="0 0 0 0 n/a n/a"
        note="did not start"
        return
    }
    local sent_rate cpu
    cpu=$(cpu_ns "$pid")
    sent_rate=$(send "$rate")
    wait_until_quiet "$log"
    cpu=$(( $(cpu_ns "$pid") - cpu ))
    stop "$pid" INT
    local captured counts shown drops
    if [ -n "$mode" ]; then
        captured=$(grep -c '^>>> IP HEAD$' "$log")
    else
        captured=$(grep -c 'bytes\]-> ' "$log")
    fi
    counts=$(monitor_counts "$err")
    if [ "$counts" = n/a ]; then
        shown=n/a
        drops=n/a
    else
        # shellcheck disable=SC2086
        set -- $counts
        shown=$2
        drops=$4
    fi
    result="$sent_rate $captured $cpu $shown $drops"
    note="summary: $counts; running drop total: $(running_drops "$err");"
    note="$note SIG$stop_signal, exit status $stop_status"
}

# Starts tcpdump -i lo -nn ... udp port PORT: text (-l, to OUT), pcap (-w
# OUT) or packet-buffered pcap (-U -w OUT); its standard error to ERR. Sets
# pid.
start_tcpdump() {
    local kind=$1 out=$2 err=$3
    rm -f "$out" "$err"
    case $kind in
        text) $with_sigint tcpdump -i lo -nn -l udp port "$port" >"$out" 2>"$err" & ;;
        pcap) $with_sigint tcpdump -i lo -nn -w "$out" udp port "$port" 2>"$err" & ;;
        pcap-U) $with_sigint tcpdump -i lo -nn -U -w "$out" udp port "$port" 2>"$err" & ;;
    esac
    pid=$!
    started="$started $pid"
}

# One tcpdump run, text (-l) or pcap (-w). Sets result as run_pktwatch does,
# with tcpdump's own "packets dropped by kernel" as the kernel drops.
run_tcpdump() {
    local rate=$1 kind=$2 out=$work/tcpdump.out err=$work/tcpdump.err pcap=$work/tcpdump.pcap pid
    if [ "$kind" = text ]; then
        start_tcpdump text "$out" "$err"
    else
        start_tcpdump pcap "$pcap" "$err"
    fi
    wait_for_text "$err" "listening on" || {
        stop "$pid" INT
        result="0 0 0 0 n/a n/a"
        note="did not start"
        return
    }
    local sent_rate cpu
    cpu=$(cpu_ns "$pid")
    sent_rate=$(send "$rate")
    if [ "$kind" = text ]; then wait_until_quiet "$out"; else sleep 1; fi
    cpu=$(( $(cpu_ns "$pid") - cpu ))
    stop "$pid" INT
    local captured
    if [ "$kind" = text ]; then
        captured=$(grep -c 'UDP, length' "$out")
    else
        captured=$(tcpdump -nn -r "$pcap" 2>/dev/null | grep -c 'UDP, length')
    fi
    result="$sent_rate $captured $cpu n/a $(tcpdump_drops "$err")"
    note="SIG$stop_signal, exit status $stop_status"
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print 0; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "capture_loss: $(nproc) cores, kernel $(uname -r), $count datagrams a run, $runs runs, port $port, echo to $echo_file"
capturers="pktwatch pktwatch-d-b"
if [ $have_tcpdump -eq 1 ]; then
    capturers="$capturers tcpdump-l tcpdump-w"
else
    echo "capture_loss: tcpdump not installed: pktwatch only"
fi

: >"$results"
for rate in $rates; do
    for run in $(seq 1 "$runs"); do
        for capturer in $capturers; do
            case $capturer in
                pktwatch) run_pktwatch "$rate" "" ;;
                pktwatch-d-b) run_pktwatch "$rate" "-d -b" ;;
                tcpdump-l) run_tcpdump "$rate" text ;;
                tcpdump-w) run_tcpdump "$rate" pcap ;;
            esac
            echo "$rate $capturer $result" >>"$results"
            # shellcheck disable=SC2086
            set -- $result
            printf '  rate %-7s run %s %-13s sent %s achieved %s captured %s cpu-ns %s\n' \
                "$rate" "$run" "$capturer" "$1" "$2" "$3" "$4"
            printf '  %32s shown %s kernel drops %s S+K=sent %s (%s)\n' "" "$5" "$6" \
                "$(awk -v s="$1" -v S="$5" -v K="$6" 'BEGIN {
                    if (S == "n/a" || K == "n/a") print "n/a"
                    else if (S + K == s) print "yes"
                    else printf "no, %+d\n", S + K - s }')" "$note"
        done
    done
done

# rate capturer sent achieved captured cpu_ns shown kernel_drops
fraction() {  # median captured fraction, in percent
    awk -v r="$1" -v c="$2" '$1 == r && $2 == c && $3 > 0 { printf "%.4f\n", 100 * $5 / $3 }' "$results" | median
}
achieved() {
    awk -v r="$1" '$1 == r { print $4 }' "$results" | median
}
cpu_per_datagram() {  # median CPU microseconds per captured datagram
    awk -v r="$1" -v c="$2" '$1 == r && $2 == c && $5 > 0 { printf "%.2f\n", $6 / 1000 / $5 }' \
        "$results" | median
}
reported() {  # median of field $3 (7: shown, 8: kernel drops) over the runs that report it
    awk -v r="$1" -v c="$2" -v f="$3" '$1 == r && $2 == c && $f != "n/a" { print $f }' \
        "$results" | sort -n | awk '{ v[NR] = $1 } END {
            if (NR == 0) print "n/a"
            else if (NR % 2) print v[(NR + 1) / 2]
            else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
balanced() {  # "H/N": of the N runs with a summary line, H had S + K = sent
    awk -v r="$1" -v c="$2" '$1 == r && $2 == c && $7 != "n/a" && $8 != "n/a" {
            n++; if ($7 + $8 == $3) h++ }
        END { if (n) printf "%d/%d\n", h, n; else print "n/a" }' "$results"
}

echo
echo "Captured fraction, median of $runs runs (percent of the datagrams sent):"
printf '%-9s %-10s' "rate" "achieved"
for capturer in $capturers; do printf ' %-13s' "$capturer"; done
[ $have_tcpdump -eq 1 ] && printf ' %-14s %-14s' "pw/tcpdump-l" "pw-d-b/tcpd-l"
echo
for rate in $rates; do
    label=$rate
    [ "$rate" = 0 ] && label=max
    printf '%-9s %-10s' "$label" "$(achieved "$rate")"
    for capturer in $capturers; do printf ' %-13s' "$(fraction "$rate" "$capturer")"; done
    if [ $have_tcpdump -eq 1 ]; then
        text=$(fraction "$rate" tcpdump-l)
        printf ' %-14s %-14s' \
            "$(awk -v a="$(fraction "$rate" pktwatch)" -v b="$text" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "-" }')" \
            "$(awk -v a="$(fraction "$rate" pktwatch-d-b)" -v b="$text" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "-" }')"
    fi
    echo
done
echo
echo "CPU time per captured datagram, microseconds (median):"
for rate in $rates; do
    label=$rate
    [ "$rate" = 0 ] && label=max
    printf '%-9s' "$label"
    for capturer in $capturers; do printf ' %-13s' "$(cpu_per_datagram "$rate" "$capturer")"; done
    echo
done
echo
echo "What the capturers report themselves, median of $runs runs: pktwatch's summary"
echo "line (S shown, K dropped by the kernel, runs where S + K = sent), tcpdump's"
echo "packets dropped by kernel:"
printf '%-9s' "rate"
for capturer in pktwatch pktwatch-d-b; do
    printf ' %-26s' "$capturer S/K/S+K=sent"
done
for capturer in $capturers; do
    case $capturer in tcpdump-*) printf ' %-13s' "$capturer K" ;; esac
done
echo
for rate in $rates; do
    label=$rate
    [ "$rate" = 0 ] && label=max
    printf '%-9s' "$label"
    for capturer in pktwatch pktwatch-d-b; do
        printf ' %-26s' "$(reported "$rate" "$capturer" 7) / $(reported "$rate" "$capturer" 8) / $(balanced "$rate" "$capturer")"
    done
    for capturer in $capturers; do
        case $capturer in tcpdump-*) printf ' %-13s' "$(reported "$rate" "$capturer" 8)" ;; esac
    done
    echo
done

# The latency of one account on an idle interface, for each capturer in
# turn: sets line to latency_probe's report for the file FILE.
probe_file() {
    line=$("$probe" "$1" 127.0.0.1 "$port" "$latency_count" 5 30)
    [ -n "$line" ] || line="(no report)"
}
latency() {
    local capturer=$1 pid line=""
    case $capturer in
        pktwatch)
            start_pktwatch "$work/latency.log" "$work/latency.err" "$port"
            wait_for_text "$work/latency.log" "Filtering port" && probe_file "$work/latency.log"
            ;;
        tcpdump-U-w)
            start_tcpdump pcap-U "$work/latency.pcap" "$work/latency.err"
            wait_for_text "$work/latency.err" "listening on" && probe_file "$work/latency.pcap"
            ;;
        tcpdump-l)
            start_tcpdump text "$work/latency.out" "$work/latency.err"
            wait_for_text "$work/latency.err" "listening on" && probe_file "$work/latency.out"
            ;;
    esac
    stop "$pid" INT
    printf '  %-12s %s\n' "$capturer" "${line:-did not start}"
}
if [ "$latency_count" -gt 0 ]; then
    echo
    echo "Latency of an account on an idle interface: $latency_count datagrams 5 ms apart,"
    echo "each timed from its send until the capturer's file grows (lost: no growth"
    echo "within 1 s; at most 30 s a capturer); microseconds over those not lost:"
    latency pktwatch
    if [ $have_tcpdump -eq 1 ]; then
        latency tcpdump-U-w
        latency tcpdump-l
    fi
fi

# The flood that the filter does not match: the monitor filters port+1.
echo
log=$work/flood.log
start_pktwatch "$log" "$work/flood.err" "$((port + 1))"
if wait_for_text "$log" "Filtering port"; then
    before=$(cpu_ns "$pid")
    line=$("$sender" 127.0.0.1 "$port" "$flood" 500000 32 120)
    sleep 0.5
    after=$(cpu_ns "$pid")
    accounts=$(grep -c 'bytes\]-> ' "$log")
    echo "Flood to a port the filter does not match: $line"
    echo "  monitor CPU time during the flood: $(( (after - before) / 1000 )) us;" \
        "accounts written: $accounts"
fi
stop "$pid" INT
echo "  monitor's summary (received shown filtered kernel-drops echoes-skipped):" \
    "$(monitor_counts "$work/flood.err")"
