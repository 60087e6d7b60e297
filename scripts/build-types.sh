#!/usr/bin/env bash
# Builds every target, tests included, in each CMake build type (Debug,
# Release, RelWithDebInfo, MinSizeRel) with -Werror, in build-types/TYPE/.
# Fails on the first type that does not build.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages "${build_packages[@]}" googletest libgtest-dev libbenchmark-dev
for type in ${BUILD_TYPES:-Debug Release RelWithDebInfo MinSizeRel}; do
    dir=build-types/$type
    start=$SECONDS
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DDHCPIDENT_BUILD_TESTS=ON \
        -DDHCPIDENT_BUILD_BENCH=ON -DDHCPIDENT_BUILD_TOOLS=ON -DDHCPIDENT_SANITIZE=OFF >/dev/null
    cmake --build "$dir" -j"$(nproc)" >"$dir.log" 2>&1 || { tail -n 40 "$dir.log"; exit 1; }
    echo "build type $type: every target built in $((SECONDS - start)) s"
done
