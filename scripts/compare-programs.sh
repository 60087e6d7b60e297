#!/usr/bin/env bash
# compare-programs.sh OLD NEW: runs two builds of the program on the same
# captures and fails on any difference in stdout, stderr or exit status.
# For a change that must leave the reports as they are: OLD is the build
# before it. Captures: the sample, two generated ones (by GEN, a
# bench_gen_capture), and every COMPARE_EVERY-th file (default 1) of the
# corpus ../shared/captures when present. On each: the targets zz, the
# empty text, the sample's client and the first three clients --all finds,
# each in text and JSON, then --all, --json --all and --max-clients=2 --all.
# COMPARE_EMULATOR (such as "qemu-mips -cpu 24Kc -L build-router/mips_24kc/root") runs
# both programs under it. Run as root: each run has a private /tmp.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
old=$(realpath "$1") new=$(realpath "$2")
read -r -a emulator <<<"${COMPARE_EMULATOR:-}"
every=${COMPARE_EVERY:-1}
work=$(mktemp -d /var/tmp/dhcpident-compare.XXXXXX)  # outside the /tmp each run covers
trap 'rm -rf "$work"' EXIT

captures=(samples/sample.pcap)
if [ -n "${GEN:-}" ]; then
    "$GEN" 20000 3 "$work/mixed.pcap" >/dev/null
    "$GEN" 5000 4 "$work/spread.pcap" spread >/dev/null
    captures+=("$work/mixed.pcap" "$work/spread.pcap")
fi
if [ -d ../shared/captures ]; then
    i=0
    for f in ../shared/captures/*; do
        [ $((i++ % every)) -eq 0 ] && [ -f "$f" ] && captures+=("$f")
    done
fi

runs=0 differ=0
run() {  # run PROGRAM CAPTURE OUT ARGS...
    local program=$1 capture=$2 out=$3
    shift 3
    set +e
    with_capture "$capture" "${emulator[@]}" "$program" "$@" >"$out.out" 2>"$out.err"
    echo $? >"$out.status"
    set -e
}
for capture in "${captures[@]}"; do
    run "$new" "$capture" "$work/clients" --all
    mapfile -t clients < <(sed -n "s/^mac='\(.*\)'$/\1/p" "$work/clients.out" | head -n 3)
    cases=()
    for mac in zz "" 00:1a:2b:3c:4d:5e "${clients[@]}"; do
        cases+=("$mac" "--json $mac")
    done
    cases+=(--all "--json --all" "--max-clients=2 --all")
    for args in "${cases[@]}"; do
        read -r -a argv <<<"$args"
        [ -n "$args" ] || argv=("")
        run "$old" "$capture" "$work/old" "${argv[@]}"
        run "$new" "$capture" "$work/new" "${argv[@]}"
        runs=$((runs + 1))
        for part in out err status; do
            if ! cmp -s "$work/old.$part" "$work/new.$part"; then
                differ=$((differ + 1))
                echo "differs: $capture [$args] ($part)"
                break
            fi
        done
    done
done
echo "compare: ${#captures[@]} captures, $runs runs, $differ differ"
[ "$differ" -eq 0 ]
