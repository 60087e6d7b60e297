#!/usr/bin/env bash
# Packs DEVICE_DIR/dhcpident.stripped as an opkg package for mips_24kc, in
# the format OpenWrt's ipkg-build writes: a gzip'd tar of ./debian-binary,
# ./data.tar.gz (./usr/sbin/dhcpident, root's, 0755) and ./control.tar.gz
# (./control). The fields come from the recipe (packaging/openwrt/Makefile);
# each dependency is named by its library's ABI version, as OpenWrt names
# libpcap's package libpcap1. Files are dated from the last commit, so the
# same program gives the same package.
# Usage: scripts/make-ipk.sh DEVICE_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
staging=build-router/root
arch=mips_24kc
mapfile -t field < <(bash scripts/openwrt-recipe.sh PKG_NAME PKG_VERSION PKG_RELEASE PKG_LICENSE \
    SECTION DEPENDS Package/dhcpident/description)
name=${field[0]} version=${field[1]}-${field[2]} license=${field[3]} section=${field[4]}
depends=libc
for dep in ${field[5]}; do
    dep=${dep#+}
    soname=$(mips-linux-gnu-readelf -d "$staging/usr/lib/$dep.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    depends+=", $dep${soname##*.so.}"
done
work=$dir/ipk
rm -rf "$work"
mkdir -p "$work/data/usr/sbin" "$work/control"
install -m 0755 "$dir/dhcpident.stripped" "$work/data/usr/sbin/dhcpident"
cat >"$work/control/control" <<CONTROL
Package: $name
Version: $version
Depends: $depends
Source: packaging/openwrt
License: $license
Section: $section
Architecture: $arch
Installed-Size: $(stat -c %s "$work/data/usr/sbin/dhcpident")
Description: ${field[6]}
CONTROL
echo 2.0 >"$work/debian-binary"
mtime=@$(git log -1 --format=%ct 2>/dev/null || echo 0)
pack() {  # pack OUT DIR MEMBERS...: a gzip'd tar of root's files
    local out=$1 from=$2
    shift 2
    tar --format=gnu --numeric-owner --owner=0 --group=0 --sort=name --mtime="$mtime" \
        -C "$from" -cf - "$@" | gzip -n -9 >"$out"
}
pack "$work/data.tar.gz" "$work/data" .
pack "$work/control.tar.gz" "$work/control" ./control
package=$dir/${name}_${version}_$arch.ipk
rm -f "$dir"/"${name}"_*_"$arch".ipk
pack "$package" "$work" ./debian-binary ./data.tar.gz ./control.tar.gz
echo "package: $package ($(stat -c %s "$package") bytes): $name $version, depends on $depends"
