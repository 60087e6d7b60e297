#!/usr/bin/env bash
# Builds the programs for the routers they are for, into build-device/ARCH/
# for each architecture of router_arches (scripts/common.sh), or for the one
# ARCH given: OpenWrt's mips_24kc (32-bit big-endian MIPS 24Kc without an
# FPU, musl built soft-float), mipsel_24kc (the same, little-endian),
# aarch64_cortex-a53 and arm_cortex-a7_neon-vfpv4 (hard float), each with
# libpcap.so.1. Makes each router userland once (scripts/router-userland.sh,
# build-router/ARCH/), then builds the way OpenWrt's package build does
# (scripts/openwrt-cmake.sh), with OpenWrt's flags for the architecture:
#   dhcpident, dhcpident.stripped      needs libc.so (musl) and libpcap.so.1
#   dhcpident-static, .stripped        musl and libpcap inside (static-pie),
#                                      for firmware without libpcap or musl
#   dhcpident-capture, .stripped,      the capture service, built the same
#   dhcpident-capture-static, .stripped  two ways
#   dhcpident_VERSION_ARCH.ipk         the opkg package
#   emulator                           the qemu and CPU the tests run them under
# and once, for every architecture, build-device/dhcpident-names_VERSION_all.ipk,
# the data of --names (build-device/names/), from Debian's ieee-data.
# Then prints how each program is built, hardened and sized, and fails when
# a goal is missed.
# Usage: scripts/build-device.sh [ARCH]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
if [ $# -gt 0 ]; then arches=("$@"); else arches=("${router_arches[@]}"); fi
need_packages python3 ieee-data
mkdir -p build-device/names
python3 scripts/make-makers.py /usr/share/ieee-data build-device/names/makers
cp data/devices build-device/names/devices
bash scripts/make-names-ipk.sh build-device/names build-device
for arch in "${arches[@]}"; do
    arch_of "$arch"
    bash scripts/router-userland.sh "$arch"
    dir=build-device/$arch
    mkdir -p "$dir"
    ARCH=$arch bash scripts/openwrt-cmake.sh "$dir/cmake" "$dir/install"
    ARCH=$arch bash scripts/openwrt-cmake.sh "$dir/cmake-static" "$dir/install-static" -DDHCPIDENT_STATIC=ON
    programs=()
    for program in dhcpident dhcpident-capture; do
        cp "$dir/install/usr/sbin/$program" "$dir/$program"
        cp "$dir/install-static/usr/sbin/$program" "$dir/$program-static"
        for built in "$program" "$program-static"; do
            "$triplet-strip" -o "$dir/$built.stripped" "$dir/$built"
            programs+=("$dir/$built")
        done
    done
    bash scripts/make-ipk.sh "$dir" "$arch"
    # What the end-to-end suites run these programs under.
    echo "$emulator" >"$dir/emulator"
    bash scripts/program-figures.sh "${programs[@]}"
done
