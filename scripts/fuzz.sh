#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, ASan + UBSan) and runs each for
# FUZZ_SECONDS (default 60), all three at once, in build-fuzz/. Seeds come
# from the test kit and, when present, the capture corpus (the
# DHCPIDENT_CAPTURES cache option). Any finding fails the run and leaves the
# input in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages "${build_packages[@]}" googletest libgtest-dev clang libclang-rt-14-dev

seconds=${FUZZ_SECONDS:-60}
jobs=$(nproc)
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDHCPIDENT_FUZZ=ON \
    -DDHCPIDENT_BUILD_TESTS=OFF -DDHCPIDENT_BUILD_BENCH=OFF -DDHCPIDENT_BUILD_TOOLS=ON >/dev/null
cmake --build build-fuzz -j"$jobs" \
    --target fuzz_frame fuzz_capture fuzz_fingerprint_file make_fuzz_seeds >/dev/null

work=build-fuzz/run
rm -rf "$work"
mkdir -p "$work" build-fuzz/artifacts
captures=$(captures_of build-fuzz)
build-fuzz/tools/make_fuzz_seeds "$work/seeds" $captures

run() {  # run HARNESS SEED_KIND [FLAGS...] [-- EXTRA_SEED_DIRS...]
    # The first directory is the one libFuzzer writes new inputs to: always
    # the run's own corpus, never a seed directory such as the shared
    # captures.
    local harness=$1 kind=$2
    shift 2
    local flags=() seeds=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do flags+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    seeds=("$@")
    mkdir -p "$work/corpus-$harness"
    build-fuzz/fuzz/"$harness" -max_total_time="$seconds" -print_final_stats=1 \
        -close_fd_mask=3 -artifact_prefix=build-fuzz/artifacts/"$harness"- "${flags[@]}" \
        "$work/corpus-$harness" "$work/seeds/$kind" "${seeds[@]}" >"$work/$harness.log" 2>&1
}

pids=()
run fuzz_frame frame & pids+=($!)
run fuzz_capture capture -max_len=65536 -- $captures & pids+=($!)
run fuzz_fingerprint_file prints & pids+=($!)

failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done

total=0
for harness in fuzz_frame fuzz_capture fuzz_fingerprint_file; do
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$harness.log" | tail -n 1)
    findings=$(grep -c -E '^==[0-9]+==ERROR|runtime error:|deadly signal' "$work/$harness.log" || true)
    printf 'fuzz: %-22s %10s executions in %s s, %s findings\n' "$harness" "${runs:-?}" "$seconds" "$findings"
    total=$((total + ${runs:-0}))
done
echo "fuzz: $total executions in all"
if [ "$failed" -ne 0 ]; then
    echo "fuzz: a harness failed; its log:" >&2
    grep -l -E 'ERROR|runtime error|deadly signal' "$work"/*.log | xargs -r tail -n 40 >&2
    exit 1
fi
