#!/usr/bin/env bash
# Writes samples/sample.pcap anew with tools/make_sample_capture.cpp (built
# in build-tools/), then samples/sample.expected from the program's report
# on it. Review the difference before committing either.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages "${build_packages[@]}"
dir=build-tools
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DDHCPIDENT_BUILD_TESTS=OFF \
    -DDHCPIDENT_BUILD_BENCH=OFF -DDHCPIDENT_BUILD_TOOLS=ON >/dev/null
cmake --build "$dir" --target make_sample_capture dhcpident -j"$(nproc)" >/dev/null
"$dir/tools/make_sample_capture" samples/sample.pcap
with_capture samples/sample.pcap "$dir/dhcpident" 00:1a:2b:3c:4d:5e >samples/sample.expected
git diff --stat -- samples || true
