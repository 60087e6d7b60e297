#!/usr/bin/env bash
# Builds the program (build-sample/, Release) and runs it on the bundled
# sample capture, as root, in a private mount namespace with its own /tmp:
# the machine's /tmp is left alone. Usage: scripts/run-sample.sh [MAC]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages "${build_packages[@]}"

dir=build-sample
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DDHCPIDENT_BUILD_TESTS=OFF \
    -DDHCPIDENT_BUILD_BENCH=OFF -DDHCPIDENT_BUILD_TOOLS=OFF >/dev/null
cmake --build "$dir" --target dhcpident -j"$(nproc)" >/dev/null

mac=${1:-00:1a:2b:3c:4d:5e}
echo "$dir/dhcpident $mac, on samples/sample.pcap:"
with_capture samples/sample.pcap "$dir/dhcpident" "$mac"
