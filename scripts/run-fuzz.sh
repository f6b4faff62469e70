#!/bin/sh
# Builds the libFuzzer targets with clang in build-fuzz and runs each one for
# a bounded time (default 20 s) on a copy of its corpus in fuzz/corpus/, so the
# run adds nothing to the kept corpus. Fails on any finding; the failing input
# is kept in build-fuzz/findings/<target>/ (copy it into fuzz/corpus/<target>/
# once the fault is mended). Without clang and its fuzzer runtime the run is
# skipped, unless root can install them.
#
# Usage: scripts/run-fuzz.sh [seconds]
set -eu

seconds=${1:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
targets="fuzz_render fuzz_command_line fuzz_dialogue fuzz_prefilter fuzz_capture_file"

runtime_present() {
    command -v clang >/dev/null 2>&1 && command -v clang++ >/dev/null 2>&1 &&
        ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a >/dev/null 2>&1
}

if ! runtime_present; then
    if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
        echo "run-fuzz: installing clang and libclang-rt-14-dev"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -q
        apt-get install -y -q clang libclang-rt-14-dev
    fi
    if ! runtime_present; then
        echo "run-fuzz: clang++ or libclang-rt-14-dev missing; fuzzing skipped" >&2
        exit 0
    fi
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPKTWATCH_FUZZ=ON -DPKTWATCH_TESTS=OFF
# shellcheck disable=SC2086
cmake --build "$build" -j 2 --target $targets

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

failed=""
for target in $targets; do
    mkdir -p "$work/$target" "$build/findings/$target"
    cp -R "$root/fuzz/corpus/$target/." "$work/$target/"
    echo "run-fuzz: $target for $seconds s"
    if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/findings/$target/" \
        "$work/$target" >"$work/$target.log" 2>&1; then
        tail -n 60 "$work/$target.log" >&2
        failed="$failed $target"
    else
        grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done)' "$work/$target.log" ||
            true
    fi
done

if [ -n "$failed" ]; then
    echo "run-fuzz: findings in:$failed (inputs in $build/findings/)" >&2
    exit 1
fi
echo "run-fuzz: no findings"
