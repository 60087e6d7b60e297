#!/usr/bin/env bash
# Builds everything and runs every test suite with CTest:
#   build-device/  the router programs of each architecture, dynamic and
#                  static, as scripts/build-device.sh builds and checks them
#                  (with the router userlands in build-router/), and their
#                  packages
#   build/         the device build's flags, on this machine; its
#                  end-to-end suite runs on this machine's programs, and on
#                  each architecture's two router programs under its qemu
#                  and CPU (for MIPS -cpu 24Kc, no FPU), the dynamic one in
#                  its router userland, the static one with none; then the
#                  packages are opened and checked
#   build-asan/    the suite with AddressSanitizer and UBSan
#   build-mips/    the unit tests cross-built for 32-bit big-endian MIPS
#                  (glibc), run under qemu-mips
# then checks how this machine's program is hardened.
# Run as root: the end-to-end tests run the program in private mount
# namespaces. The capture corpus in ../shared/captures is used when present.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages "${build_packages[@]}" googletest libgtest-dev libbenchmark-dev man-db groff python3 ieee-data \
    g++-mips-linux-gnu qemu-user dpkg-dev xz-utils flex bison iproute2

jobs=$(nproc)
suite() {  # suite NAME BUILD_DIR CMAKE_ARGS...
    local name=$1 dir=$2
    shift 2
    echo "== $name suite ($dir)"
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDHCPIDENT_BUILD_TESTS=ON "$@" >/dev/null
    cmake --build "$dir" -j"$jobs" >/dev/null
    local start=$SECONDS
    ctest --test-dir "$dir" --output-on-failure -j"$jobs"
    echo "$name suite: $((SECONDS - start)) s"
    grep -hE '^(capture corpus|capture service|signals|package|init script):' "$dir/Testing/Temporary/LastTest.log" || true
}

echo "== device programs"
bash scripts/build-device.sh
suite host build -DDHCPIDENT_SANITIZE=OFF -DDHCPIDENT_BUILD_BENCH=ON -DDHCPIDENT_BUILD_TOOLS=ON \
    -DDHCPIDENT_DEVICE_DIR="$PWD/build-device" -DDHCPIDENT_ROUTER_DIR="$PWD/build-router"
suite sanitizer build-asan -DDHCPIDENT_SANITIZE=ON -DDHCPIDENT_BUILD_BENCH=OFF -DDHCPIDENT_BUILD_TOOLS=OFF
bash scripts/mips-libpcap.sh build-sysroot-mips
suite mips build-mips --toolchain cmake/mips-linux-gnu.cmake \
    -DDHCPIDENT_MIPS_SYSROOT="$PWD/build-sysroot-mips" -DDHCPIDENT_BUILD_BENCH=OFF \
    -DDHCPIDENT_BUILD_TOOLS=OFF
echo "== this machine's program"
bash scripts/program-figures.sh build/dhcpident build/dhcpident-capture
