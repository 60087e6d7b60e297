#!/usr/bin/env bash
# Packs DEVICE_DIR/dhcpident.stripped and dhcpident-capture.stripped as an
# opkg package for ARCH (default mips_24kc), in the format OpenWrt's
# ipkg-build writes: a gzip'd tar of ./debian-binary, ./data.tar.gz (./usr/sbin/dhcpident and
# ./usr/sbin/dhcpident-capture, ./etc/init.d/dhcpident, 0755, and
# ./etc/config/dhcpident, 0600, all root's, as the recipe installs them) and
# ./control.tar.gz (./control, ./conffiles, and the ./postinst and ./prerm
# that OpenWrt's package build writes, which enable and start, or stop and
# disable, the service). The fields come from the recipe (packaging/openwrt/Makefile);
# each dependency is named by its library's ABI version, as OpenWrt names
# libpcap's package libpcap1. Files are dated from the last commit, so the
# same program gives the same package.
# Usage: scripts/make-ipk.sh DEVICE_DIR [ARCH]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
dir=$1
arch=${2:-mips_24kc}
arch_of "$arch"
staging=build-router/$arch/root
mapfile -t field < <(bash scripts/openwrt-recipe.sh PKG_NAME PKG_VERSION PKG_RELEASE PKG_LICENSE \
    SECTION DEPENDS Package/dhcpident/description)
name=${field[0]} version=${field[1]}-${field[2]} license=${field[3]} section=${field[4]}
depends=libc
for dep in ${field[5]}; do
    dep=${dep#+}
    soname=$($triplet-readelf -d "$staging/usr/lib/$dep.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    depends+=", $dep${soname##*.so.}"
done
work=$dir/ipk
rm -rf "$work"
mkdir -p "$work/data/usr/sbin" "$work/data/etc/init.d" "$work/data/etc/config" "$work/control"
install -m 0755 "$dir/dhcpident.stripped" "$work/data/usr/sbin/dhcpident"
install -m 0755 "$dir/dhcpident-capture.stripped" "$work/data/usr/sbin/dhcpident-capture"
install -m 0755 packaging/openwrt/files/dhcpident.init "$work/data/etc/init.d/dhcpident"
install -m 0600 packaging/openwrt/files/dhcpident.config "$work/data/etc/config/dhcpident"
cat >"$work/control/control" <<CONTROL
Package: $name
Version: $version
Depends: $depends
Recommends: dhcpident-names
Source: packaging/openwrt
License: $license
Section: $section
Architecture: $arch
Installed-Size: $(find "$work/data" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
Description: ${field[6]}
CONTROL
bash scripts/openwrt-recipe.sh Package/dhcpident/conffiles | tr ' ' '\n' >"$work/control/conffiles"
for script in postinst prerm; do
    printf '#!/bin/sh\n[ -s ${IPKG_INSTROOT}/lib/functions.sh ] || exit 0\n. ${IPKG_INSTROOT}/lib/functions.sh\ndefault_%s $0 $@\n' \
        "$script" >"$work/control/$script"
    chmod 0755 "$work/control/$script"
done
echo 2.0 >"$work/debian-binary"
pack "$work/data.tar.gz" "$work/data" .
pack "$work/control.tar.gz" "$work/control" ./conffiles ./control ./postinst ./prerm
package=$dir/${name}_${version}_$arch.ipk
rm -f "$dir"/"${name}"_*_"$arch".ipk
pack "$package" "$work" ./debian-binary ./data.tar.gz ./control.tar.gz
echo "package: $package ($(stat -c %s "$package") bytes): $name $version, depends on $depends"
