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
# costs a second file write per datagram). Then the monitor's CPU time while
# a flood of FLOOD datagrams at 500k/s goes to a port its filter does not
# match (the kernel prefilter should drop them all).
#
# Run as root, by hand, from the top of the repository, after
#   cmake -S . -B build-perf -DCMAKE_BUILD_TYPE=Release -DPKTWATCH_BENCH=ON
#   cmake --build build-perf -j2
# Usage: bench/capture_loss.sh [-b BUILD_DIR] [-n COUNT] [-r RUNS] [-p PORT]
#                              [-R "RATES"] [-F FLOOD] [-e ECHO_FILE]
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
while getopts "b:n:r:p:R:F:e:" option; do
    case $option in
        b) build=$OPTARG ;;
        n) count=$OPTARG ;;
        r) runs=$OPTARG ;;
        p) port=$OPTARG ;;
        R) rates=$OPTARG ;;
        F) flood=$OPTARG ;;
        e) echo_file=$OPTARG ;;
        *) sed -n '2,25p' "$0"; exit 2 ;;
    esac
done

pktwatch=$build/pktwatch
sender=$build/bench/udp_sender
if [ "$(id -u)" -ne 0 ]; then
    echo "capture_loss: run as root (the capturers need packet sockets)" >&2
    exit 2
fi
for program in "$pktwatch" "$sender"; do
    if [ ! -x "$program" ]; then
        echo "capture_loss: $program missing; build with -DPKTWATCH_BENCH=ON" >&2
        exit 2
    fi
done
have_tcpdump=0
if command -v tcpdump >/dev/null 2>&1; then
    have_tcpdump=1
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

# The processor time a (single-threaded) process has used, in nanoseconds.
cpu_ns() {
    awk '{ print $1 }' "/proc/$1/schedstat" 2>/dev/null || echo 0
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

# Stops a process this script started.
stop() {
    local kept="" one
    kill "-${2:-TERM}" "$1" 2>/dev/null
    wait "$1" 2>/dev/null
    for one in $started; do
        [ "$one" != "$1" ] && kept="$kept $one"
    done
    started=$kept
}

# send RATE -> prints "sent achieved_rate"
send() {
    "$sender" 127.0.0.1 "$port" "$count" "$1" 32 120 |
        sed -n 's/^sent=\([0-9]*\) seconds=[0-9.]* rate=\([0-9]*\)$/\1 \2/p'
}

# One pktwatch run. Sets result to "sent achieved captured cpu_ns" (no
# subshell, so that the PIDs it starts stay known to the exit trap).
run_pktwatch() {
    local rate=$1 mode=$2 log=$work/pktwatch.log pid
    rm -f "$log"
    # shellcheck disable=SC2086
    "$pktwatch" $mode -p "$port" -f "$log" 127.0.0.1 >"$echo_file" 2>&1 &
    pid=$!
    started="$started $pid"
    wait_for_text "$log" "Filtering port" || { stop "$pid"; result="0 0 0 0"; return; }
    local sent_rate cpu
    cpu=$(cpu_ns "$pid")
    sent_rate=$(send "$rate")
    wait_until_quiet "$log"
    cpu=$(( $(cpu_ns "$pid") - cpu ))
    stop "$pid"
    local captured
    if [ -n "$mode" ]; then
        captured=$(grep -c '^>>> IP HEAD$' "$log")
    else
        captured=$(grep -c 'bytes\]-> ' "$log")
    fi
    result="$sent_rate $captured $cpu"
}

# One tcpdump run, text (-l) or pcap (-w). Sets result as run_pktwatch does.
run_tcpdump() {
    local rate=$1 kind=$2 out=$work/tcpdump.out err=$work/tcpdump.err pcap=$work/tcpdump.pcap pid
    rm -f "$out" "$pcap"
    if [ "$kind" = text ]; then
        tcpdump -i lo -nn -l udp port "$port" >"$out" 2>"$err" &
    else
        tcpdump -i lo -nn -w "$pcap" udp port "$port" 2>"$err" &
    fi
    pid=$!
    started="$started $pid"
    wait_for_text "$err" "listening on" || { stop "$pid" INT; result="0 0 0 0"; return; }
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
    result="$sent_rate $captured $cpu"
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
            printf '  rate %-7s run %s %-13s sent/achieved/captured/cpu-ns %s\n' \
                "$rate" "$run" "$capturer" "$result"
        done
    done
done

# rate capturer sent achieved captured cpu_ns
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

# The flood that the filter does not match: the monitor filters port+1.
echo
log=$work/flood.log
"$pktwatch" -p "$((port + 1))" -f "$log" 127.0.0.1 >"$work/flood.out" 2>&1 &
pid=$!
started="$started $pid"
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
stop "$pid"
