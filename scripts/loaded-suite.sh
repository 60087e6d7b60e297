#!/usr/bin/env bash
# Runs the host suite (build/, as scripts/test.sh builds it) LOADED_RUNS
# times in a row (default 10) under ctest -j2 while a CPU hog runs on every
# core, and fails on the first run that does not pass: the suite must not
# depend on how busy the machine is.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages "${build_packages[@]}" googletest libgtest-dev libbenchmark-dev man-db groff python3 ieee-data
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDHCPIDENT_BUILD_TESTS=ON \
    -DDHCPIDENT_SANITIZE=OFF -DDHCPIDENT_BUILD_BENCH=ON -DDHCPIDENT_BUILD_TOOLS=ON >/dev/null
cmake --build build -j"$(nproc)" >/dev/null

hogs=()
trap 'kill "${hogs[@]}" 2>/dev/null || true' EXIT
for _ in $(seq "$(nproc)"); do
    sh -c 'while :; do :; done' &
    hogs+=($!)
done
runs=${LOADED_RUNS:-10}
for run in $(seq "$runs"); do
    start=$SECONDS
    if ! ctest --test-dir build -j2 --output-on-failure >"build/loaded-run-$run.log" 2>&1; then
        tail -n 60 "build/loaded-run-$run.log"
        echo "loaded suite: run $run of $runs failed"
        exit 1
    fi
    echo "loaded suite: run $run of $runs passed ($(grep -o '[0-9]*% tests passed, [0-9]* tests failed out of [0-9]*' "build/loaded-run-$run.log" || true), $((SECONDS - start)) s)"
done
echo "loaded suite: $runs of $runs runs passed with $(nproc) CPU hogs"
