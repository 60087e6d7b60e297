#!/usr/bin/env bash
# Prints the MIPS program's figures: its NEEDED libraries and its stripped
# size, which must stay within 32 KiB. Fails when either goal is missed.
# Usage: scripts/mips-figures.sh [BUILD_DIR], default build-mips.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-mips}
stripped=$dir/dhcpident.stripped
mips-linux-gnu-strip -o "$stripped" "$dir/dhcpident"
needed=$(mips-linux-gnu-readelf -d "$stripped" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
bytes=$(stat -c %s "$stripped")
echo "mips: NEEDED: $needed"
mips-linux-gnu-size "$stripped" | sed 's/^/mips: /'
echo "mips: stripped file size: $bytes bytes ($(( (bytes + 1023) / 1024 )) KiB, goal 32 KiB)"
status=0
for lib in $needed; do
    case $lib in libpcap.so.*|libc.so.*) ;; *) echo "mips: unexpected NEEDED entry $lib" >&2; status=1 ;; esac
done
[ "$bytes" -le 32768 ] || { echo "mips: stripped program over 32 KiB" >&2; status=1; }
exit $status
