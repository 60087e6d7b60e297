#!/usr/bin/env bash
# Measures the program against the floor: libpcap reading the same capture
# twice with an empty callback. Builds both in Release, writes BENCH_FRAMES
# (default 1,000,000) frames of mixed traffic, then runs program and floor
# alternately, BENCH_PAIRS times (default 7) after a warm-up, each as root
# in a private mount namespace with the capture bound at the fixed path.
# Prints median wall and CPU seconds, peak memory and the CPU ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages "${build_packages[@]}" libbenchmark-dev

frames=${BENCH_FRAMES:-1000000}
pairs=${BENCH_PAIRS:-7}
dir=build-bench
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DDHCPIDENT_BUILD_TESTS=OFF \
    -DDHCPIDENT_BUILD_BENCH=ON -DDHCPIDENT_BUILD_TOOLS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target dhcpident bench_gen_capture bench_floor bench_measure >/dev/null
capture=$dir/bench-$frames.pcap
[ -f "$capture" ] || "$dir/bench/bench_gen_capture" "$frames" 1 "$capture"

# measure PROGRAM ARGS...: prints "wall cpu peak_rss_kib" of one run, with
# the capture at the program's fixed path in a private /tmp.
measure() { with_capture "$capture" "$dir/bench/bench_measure" "$@"; }

program=("$dir/dhcpident" 00:1a:2b:3c:4d:5e)
floor=("$dir/bench/bench_floor" /tmp/capfileall.pcap)
measure "${program[@]}" >/dev/null  # warm-up: the capture into the page cache
measure "${floor[@]}" >/dev/null
: >"$dir/program.runs"
: >"$dir/floor.runs"
for _ in $(seq "$pairs"); do
    measure "${program[@]}" >>"$dir/program.runs"
    measure "${floor[@]}" >>"$dir/floor.runs"
done

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
col() { awk -v c="$2" '{ print $c }' "$1"; }
echo "capture: $frames frames, $(stat -c %s "$capture") bytes; $pairs pairs; CPU: $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1)"
for who in program floor; do
    printf '%-8s wall %7.4f s  cpu %7.4f s  peak rss %6d KiB (medians)\n' "$who" \
        "$(col "$dir/$who.runs" 1 | median)" "$(col "$dir/$who.runs" 2 | median)" \
        "$(col "$dir/$who.runs" 3 | median)"
done
ratio=$(paste "$dir/program.runs" "$dir/floor.runs" | awk '{ printf "%.4f\n", ($5 > 0) ? $2 / $5 : 0 }' | median)
rss=$(( $(col "$dir/program.runs" 3 | median) - $(col "$dir/floor.runs" 3 | median) ))
echo "cpu ratio program/floor: $ratio (median of pairwise ratios; goal at most 1.10)"
echo "peak memory above the floor: $rss KiB (goal within 1024 KiB)"

if command -v tshark >/dev/null && [ -z "${CI:-}" ]; then
    start=$(date +%s.%N)
    tshark -r "$capture" -T fields -e eth.src -e dhcp.option.hostname -Y dhcp >/dev/null 2>&1 || true
    echo "tshark field extraction, one pass: $(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }') s wall"
fi
