#!/usr/bin/env bash
# Builds the program for the routers it is for, OpenWrt's mips_24kc targets:
# 32-bit big-endian MIPS 24Kc without an FPU, musl built soft-float,
# libpcap.so.1. Makes the router userland once (scripts/router-userland.sh,
# build-router/), then builds the way OpenWrt's package build does
# (scripts/openwrt-cmake.sh), with OpenWrt's flags (-Os -mips32r2
# -mtune=24kc -msoft-float), into build-device/:
#   dhcpident, dhcpident.stripped      needs libc.so (musl) and libpcap.so.1
#   dhcpident-static, .stripped        musl and libpcap inside (static-pie),
#                                      for firmware without libpcap or musl
#   dhcpident-capture, .stripped,      the capture service, built the same
#   dhcpident-capture-static, .stripped  two ways
#   dhcpident_VERSION_mips_24kc.ipk    the opkg package of dhcpident.stripped
#   install/                           the tree the recipe installs from
# Then prints how each program is built, hardened and sized, and fails when
# a goal is missed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/router-userland.sh build-router
dir=build-device
mkdir -p "$dir"
bash scripts/openwrt-cmake.sh "$dir/cmake" "$dir/install"
bash scripts/openwrt-cmake.sh "$dir/cmake-static" "$dir/install-static" -DDHCPIDENT_STATIC=ON
for program in dhcpident dhcpident-capture; do
    cp "$dir/install/usr/sbin/$program" "$dir/$program"
    cp "$dir/install-static/usr/sbin/$program" "$dir/$program-static"
    for built in "$program" "$program-static"; do
        mips-linux-gnu-strip -o "$dir/$built.stripped" "$dir/$built"
    done
done
bash scripts/make-ipk.sh "$dir"
bash scripts/program-figures.sh "$dir/dhcpident" "$dir/dhcpident-static" \
    "$dir/dhcpident-capture" "$dir/dhcpident-capture-static"
