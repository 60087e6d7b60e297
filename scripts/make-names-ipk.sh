#!/usr/bin/env bash
# Packs the data of dhcpident --names as an opkg package for every
# architecture, OUT_DIR/dhcpident-names_VERSION_all.ipk, in the format
# make-ipk.sh writes: NAMES_DIR/devices and NAMES_DIR/makers (as the
# dhcpident-names CMake target or make-makers.py make them) in
# ./usr/share/dhcpident/, and the local rules file, a conffile, as
# ./etc/dhcpident/devices. Fields come from the recipe's dhcpident-names.
# Usage: scripts/make-names-ipk.sh NAMES_DIR OUT_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
names=$1 out=$2
mapfile -t field < <(bash scripts/openwrt-recipe.sh PKG_VERSION PKG_RELEASE Package/dhcpident-names/description)
version=${field[0]}-${field[1]}
work=$out/names-ipk
rm -rf "$work"
mkdir -p "$work/data/usr/share/dhcpident" "$work/data/etc/dhcpident" "$work/control"
install -m 0644 "$names/devices" "$names/makers" "$work/data/usr/share/dhcpident/"
install -m 0644 packaging/openwrt/files/dhcpident.devices "$work/data/etc/dhcpident/devices"
cat >"$work/control/control" <<CONTROL
Package: dhcpident-names
Version: $version
Depends: libc
Source: packaging/openwrt
License: BSD-2-Clause, public domain (the IEEE registry's listings)
Section: net
Architecture: all
Installed-Size: $(find "$work/data" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
Description: ${field[2]}
CONTROL
bash scripts/openwrt-recipe.sh Package/dhcpident-names/conffiles | tr ' ' '\n' >"$work/control/conffiles"
echo 2.0 >"$work/debian-binary"
pack "$work/data.tar.gz" "$work/data" .
pack "$work/control.tar.gz" "$work/control" ./conffiles ./control
package=$out/dhcpident-names_${version}_all.ipk
rm -f "$out"/dhcpident-names_*_all.ipk
pack "$package" "$work" ./debian-binary ./data.tar.gz ./control.tar.gz
echo "package: $package ($(stat -c %s "$package") bytes, goal at most 262144)"
[ "$(stat -c %s "$package")" -le 262144 ] || { echo "package: $package is over 256 KiB" >&2; exit 1; }
