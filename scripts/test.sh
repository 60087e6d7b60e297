#!/usr/bin/env bash
# Builds everything and runs every test (unit and end-to-end) with CTest.
# Run as root: the end-to-end tests run the program in private mount
# namespaces.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages "${build_packages[@]}" googletest libgtest-dev util-linux

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDHCPIDENT_BUILD_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
