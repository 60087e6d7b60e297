#!/usr/bin/env bash
# Measures the program against the floor, libpcap reading the same capture
# with an empty callback. Builds both in Release, writes BENCH_FRAMES
# (default 1,000,000) frames of mixed traffic from 10,000 clients, then,
# BENCH_PAIRS times (default 7) after a warm-up, each run as root in a
# private mount namespace with the capture at the fixed path:
#   - dhcpident MAC against the two-pass floor, alternately;
#   - dhcpident --all against the one-pass floor, alternately;
#   - dhcpident --all --names against --all, alternately;
#   - once: dhcpident MAC for each of BENCH_CLIENTS (default 100) clients,
#     the way scripts ask today, against one --all;
#   - --all on BENCH_COLLIDING (default 65536) clients, each twice, whose
#     addresses collide in the client index's old unkeyed hash, against as
#     many clients with random addresses;
#   - dhcpident-capture -r on the capture against the one-pass floor;
#   - the live dhcpident-capture on a veth pair in a network namespace of
#     its own: CPU seconds and peak memory for BENCH_LIVE (default 100,000)
#     requests from as many addresses; the bursts of new clients, sent as
#     fast as a socket writes them, that its default buffer keeps whole;
#     and its lines of warnings a minute under a flood of BENCH_FLOOD
#     (default 600) seconds.
# With BENCH_BASELINE=PROGRAM (an earlier build, outside /tmp), --all of
# both is run alternately too, and on the colliding clients.
# Prints median wall and CPU seconds, peak memory and the ratios.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages "${build_packages[@]}" libbenchmark-dev python3 ieee-data

frames=${BENCH_FRAMES:-1000000}
pairs=${BENCH_PAIRS:-7}
clients=${BENCH_CLIENTS:-100}
dir=build-bench
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DDHCPIDENT_BUILD_TESTS=OFF \
    -DDHCPIDENT_BUILD_BENCH=ON -DDHCPIDENT_BUILD_TOOLS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target dhcpident dhcpident-capture bench_gen_capture bench_floor \
    bench_measure bench_send_requests dhcpident-names >/dev/null
capture=$dir/bench-$frames.pcap
[ -f "$capture" ] || "$dir/bench/bench_gen_capture" "$frames" 1 "$capture"
# Measured from memory: on a machine that drops its page cache eagerly, a
# capture read from disk times the disk.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    memory_copy=/dev/shm/dhcpident-bench-$$.pcap
    trap 'rm -f "$memory_copy"' EXIT
    cp "$capture" "$memory_copy"
    capture=$memory_copy
fi

# measure PROGRAM ARGS...: prints "wall cpu peak_rss_kib" of one run, with
# the capture at the program's fixed path in a private /tmp.
measure() { with_capture "$capture" "$dir/bench/bench_measure" "$@"; }

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
col() { awk -v c="$2" '{ print $c }' "$1"; }
report() {  # report NAME...: medians of each NAME's runs
    for who in "$@"; do
        printf '%-10s wall %7.4f s  cpu %7.4f s  peak rss %6d KiB (medians)\n' "$who" \
            "$(col "$dir/$who.runs" 1 | median)" "$(col "$dir/$who.runs" 2 | median)" \
            "$(col "$dir/$who.runs" 3 | median)"
    done
}
ratio() { paste "$dir/$1.runs" "$dir/$2.runs" | awk '{ printf "%.4f\n", ($5 > 0) ? $2 / $5 : 0 }' | median; }
rss_above() { echo $(( $(col "$dir/$1.runs" 3 | median) - $(col "$dir/$2.runs" 3 | median) )); }

# compare A B: A and B alternately, BENCH_PAIRS times, after a warm-up run
# of each (the capture into the page cache).
compare() {
    local a=$1 b=$2
    : >"$dir/$a.runs"
    : >"$dir/$b.runs"
    # shellcheck disable=SC2086 # the commands are words without blanks
    measure ${commands[$a]} >/dev/null
    # shellcheck disable=SC2086
    measure ${commands[$b]} >/dev/null
    for _ in $(seq "$pairs"); do
        # shellcheck disable=SC2086
        measure ${commands[$a]} >>"$dir/$a.runs"
        # shellcheck disable=SC2086
        measure ${commands[$b]} >>"$dir/$b.runs"
    done
}
baseline=${BENCH_BASELINE:-}
declare -A commands=(
    [program]="$dir/dhcpident 00:1a:2b:3c:4d:5e"
    [floor]="$dir/bench/bench_floor /tmp/capfileall.pcap 2"
    [all]="$dir/dhcpident --all"
    [names]="$dir/dhcpident --names=$dir/names --all"
    [floor1]="$dir/bench/bench_floor /tmp/capfileall.pcap 1"
    [before]="$baseline --all"
    [compact]="$dir/dhcpident-capture --max-memory=64M -r /tmp/capfileall.pcap -w /tmp/out.pcap"
)

echo "capture: $frames frames, $(stat -c %s "$capture") bytes (read from $(dirname "$capture")); $pairs pairs; CPU: $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1)"
compare program floor
report program floor
echo "cpu ratio program/floor: $(ratio program floor) (median of pairwise ratios; goal at most 1.10)"
echo "peak memory above the floor: $(rss_above program floor) KiB (goal within 1024 KiB)"

compare all floor1
report all floor1
echo "cpu ratio --all/one-pass floor: $(ratio all floor1) (median of pairwise ratios; goal at most 1.25)"
echo "peak memory of --all above the one-pass floor: $(rss_above all floor1) KiB (goal within 8192 KiB)"

compare names all
report names all
echo "cpu ratio --all --names/--all: $(ratio names all) (median of pairwise ratios; goal at most 1.15)"
clients_seen=$(with_capture "$capture" "$dir/dhcpident" --all | grep -c "^mac=" || true)
echo "clients reported by --all: $clients_seen"
if [ -n "$baseline" ]; then
    compare all before
    report all before
    echo "cpu ratio --all/--all of $baseline: $(ratio all before) (median of pairwise ratios)"
fi

compare compact floor1
report compact floor1
echo "cpu ratio dhcpident-capture -r/one-pass floor: $(ratio compact floor1) (median of pairwise ratios; goal at most 1.5)"

# in_veth_namespace SCRIPT ARGS...: SCRIPT (sh, its arguments $1...) in a
# network namespace of its own with a veth pair, veth0 and veth1, up, and a
# tmpfs of its own on /tmp and on /var/run (the locks): no frame leaves it.
in_veth_namespace() {
    unshare --net --mount --propagation private sh -c '
        set -e
        ip link add veth0 type veth peer name veth1
        ip link set veth0 up
        ip link set veth1 up
        mount -t tmpfs -o mode=1777 dhcpident-live /tmp
        mount -t tmpfs -o mode=0755 dhcpident-run /var/run
        eval "$0"' "$@"
}

# The live service under a flood: every request from an address of its own.
live=${BENCH_LIVE:-100000}
in_veth_namespace '
    "$1/dhcpident-capture" -i veth1 2>/tmp/err &
    pid=$!
    sleep 1
    "$1/bench/bench_send_requests" veth0 "$2"
    sleep 2
    requests=$2
    set -- $(cut -d" " -f14,15 "/proc/$pid/stat") $(sed -n "s/^VmHWM: *//p" "/proc/$pid/status")
    kill -TERM "$pid"
    wait "$pid"
    printf "live service: %s s cpu, peak memory %s %s, file %s bytes\n" \
        "$(awk -v u="$1" -v s="$2" -v t="$(getconf CLK_TCK)" "BEGIN { printf \"%.2f\", (u + s) / t }")" \
        "$3" "$4" "$(stat -c %s /tmp/capfileall.pcap)"
    set -- "$1" "$2" "$requests"
    grep -c "^Warning: Dropped" /tmp/err | sed "s/^/live service: drop warnings: /"
    awk -v u="$1" -v s="$2" -v t="$(getconf CLK_TCK)" -v n="$3" \
        "BEGIN { printf \"live service: %.1f us cpu a request\\n\", (u + s) / t / n * 1e6 }" </dev/null
' "$dir" "$live" | sed "s/^live service:/live service, $live requests from as many addresses:/"

# Bursts of new clients at the defaults, each sent as fast as a socket
# writes them: kept whole, or the frames the kernel dropped told.
in_veth_namespace '
    for burst in 1000 2000 4000 8000 16000 32000; do
        rm -f /tmp/capfileall.pcap
        "$1/dhcpident-capture" -i veth1 --max-memory=64M 2>/tmp/err &
        pid=$!
        sleep 1
        "$1/bench/bench_send_requests" veth0 "$burst" burst
        sleep 2
        kill -TERM "$pid"
        wait "$pid"
        dropped=$(sed -n "s/^Warning: The kernel dropped \([0-9]*\) frames.*/\1/p" /tmp/err | awk "{ s += \$1 } END { print s + 0 }")
        echo "live service, a burst of $burst new clients at the default buffer: $((burst - dropped)) kept, $dropped dropped by the kernel, told"
    done
' "$dir"

# A flood that outruns the service, for BENCH_FLOOD seconds: the lines of
# warnings it writes a minute (clients dropped past the bound, frames the
# kernel dropped).
flood=${BENCH_FLOOD:-600}
in_veth_namespace '
    "$1/dhcpident-capture" -i veth1 --max-clients=1000 --buffer=64K 2>/tmp/err &
    pid=$!
    sleep 1
    "$1/bench/bench_send_requests" veth0 "$2" for
    sleep 2
    kill -TERM "$pid"
    wait "$pid"
    lines=$(wc -l </tmp/err)
    echo "live service, a flood of $2 s: $lines lines of warnings, $(awk -v l="$lines" -v s="$2" "BEGIN { printf \"%.1f\", l / (s / 60) }") a minute ($(grep -c "kernel dropped" /tmp/err) of frames the kernel dropped, $(grep -c "^Warning: Dropped" /tmp/err) of clients dropped)"
' "$dir" "$flood"

# Addresses prepared against the old index hash, against random ones.
colliding=${BENCH_COLLIDING:-65536}
mixed_capture=$capture
for kind in colliding spread; do
    file=$dir/bench-$kind-$colliding.pcap
    [ -f "$file" ] || "$dir/bench/bench_gen_capture" $((2 * colliding)) 1 "$file" "$kind" >/dev/null
    capture=$file
    : >"$dir/$kind.runs"
    # A budget that holds them all: the index is measured, not the bound.
    for _ in $(seq "$pairs"); do measure "$dir/dhcpident" --max-memory=64M --all >>"$dir/$kind.runs"; done
    if [ -n "$baseline" ]; then
        : >"$dir/$kind-before.runs"
        measure "$baseline" --all >>"$dir/$kind-before.runs"
    fi
done
report colliding spread
echo "cpu ratio --all on $colliding colliding/random clients: $(ratio colliding spread) (median of pairwise ratios)"
if [ -n "$baseline" ]; then
    report colliding-before spread-before
    echo "the same for $baseline: $(ratio colliding-before spread-before) (one run each)"
fi
capture=$mixed_capture

# The way scripts ask today: one run of the default mode for each client.
: >"$dir/each.runs"
for n in $(seq 0 $((clients - 1))); do
    measure "$dir/dhcpident" "$(printf '02:00:00:00:%02x:%02x' $((n >> 8)) $((n & 255)))" >>"$dir/each.runs"
done
each_cpu=$(awk '{ s += $2 } END { printf "%.4f", s }' "$dir/each.runs")
all_cpu=$(col "$dir/all.runs" 2 | median)
echo "dhcpident MAC for $clients clients: $each_cpu s cpu in all; --all: $all_cpu s; ratio $(awk -v a="$each_cpu" -v b="$all_cpu" 'BEGIN { printf "%.1f", (b > 0) ? a / b : 0 }') (expected above 100 for 100 clients)"

if [ -f build-device/mips_24kc/dhcpident.stripped ]; then
    echo "stripped MIPS program (all modes): $(stat -c %s build-device/mips_24kc/dhcpident.stripped) bytes (goal within 32768)"
fi

if command -v tshark >/dev/null && [ -z "${CI:-}" ]; then
    start=$(date +%s.%N)
    tshark -r "$capture" -T fields -e eth.src -e dhcp.option.hostname -Y dhcp >/dev/null 2>&1 || true
    echo "tshark field extraction, one pass: $(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }') s wall"
fi
