#!/usr/bin/env bash
# Builds the program for the device: 32-bit big-endian MIPS, optimised for
# size (MinSizeRel, -Os, as router firmware is built), into
# build-device/ (the program at build-device/dhcpident, and a stripped copy
# beside it). Installs the cross toolchain; libpcap for MIPS is built once
# from Debian's source package into build-sysroot-mips/ and then reused.
# Then prints how the program is hardened and its size, and fails when a
# goal is missed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/mips-libpcap.sh build-sysroot-mips
dir=build-device
cmake -S . -B "$dir" --toolchain cmake/mips-linux-gnu.cmake -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DDHCPIDENT_MIPS_SYSROOT="$PWD/build-sysroot-mips" -DDHCPIDENT_BUILD_TESTS=OFF \
    -DDHCPIDENT_BUILD_BENCH=OFF -DDHCPIDENT_BUILD_TOOLS=OFF >/dev/null
cmake --build "$dir" --target dhcpident -j"$(nproc)" >/dev/null
bash scripts/program-figures.sh "$dir/dhcpident"
