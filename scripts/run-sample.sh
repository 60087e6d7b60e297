#!/usr/bin/env bash
# Builds the program and runs it on the bundled sample capture, as root, in
# a private mount namespace with its own /tmp: the machine's /tmp is left
# alone. Usage: scripts/run-sample.sh [MAC]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages "${build_packages[@]}"

if [ ! -f build/CMakeCache.txt ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DDHCPIDENT_BUILD_TESTS=OFF >/dev/null
fi
cmake --build build --target dhcpident -j"$(nproc)" >/dev/null

mac=${1:-00:1a:2b:3c:4d:5e}
echo "build/dhcpident $mac, on samples/sample.pcap:"
# The capture and the program are opened before /tmp is covered, since the
# checkout itself may live under /tmp.
exec unshare --mount --propagation private sh -c '
    exec 3<"$1" 4<"$2"
    mount -t tmpfs -o mode=1777 dhcpident-sample /tmp
    cat <&3 >/tmp/capfileall.pcap
    exec 3<&-
    exec /proc/self/fd/4 "$3"' sh samples/sample.pcap build/dhcpident "$mac"
