#!/usr/bin/env bash
# Opens the opkg package of a device build as opkg would and checks it: its
# three members, the control fields against the recipe and the project's
# version, the conffiles and install scripts, and that each file inside,
# root's, is byte for byte what the device suite runs
# (DEVICE_DIR/dhcpident.stripped, dhcpident-capture.stripped) or the
# recipe installs (the init script and the configuration).
# Usage: scripts/check-package.sh DEVICE_DIR [ARCH]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
arch=${2:-mips_24kc}
status=0
fail() { echo "package: $*" >&2; status=1; }
project_version=$(sed -n 's/^project(dhcpident VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
mapfile -t recipe < <(bash scripts/openwrt-recipe.sh PKG_VERSION PKG_RELEASE)
[ "${recipe[0]}" = "$project_version" ] || fail "the recipe's PKG_VERSION ${recipe[0]} is not the project's $project_version"
version=$project_version-${recipe[1]}
package=$dir/dhcpident_${version}_$arch.ipk
[ -f "$package" ] || { echo "package: no $package" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
members=$(tar -tzf "$package" | sort | tr '\n' ' ')
[ "$members" = "./control.tar.gz ./data.tar.gz ./debian-binary " ] || fail "members: $members"
tar -xzf "$package" -C "$work"
[ "$(cat "$work/debian-binary")" = 2.0 ] || fail "debian-binary: $(cat "$work/debian-binary")"
tar -xzOf "$work/control.tar.gz" ./control >"$work/control"
field() { sed -n "s/^$1: //p" "$work/control"; }
expect() {  # expect FIELD VALUE
    [ "$(field "$1")" = "$2" ] || fail "$1: '$(field "$1")', expected '$2'"
}
expect Package dhcpident
expect Version "$version"
expect Depends "libc, libpcap1"
expect Recommends dhcpident-names
expect License BSD-2-Clause
expect Section net
expect Architecture "$arch"
installed=$(cat "$dir/dhcpident.stripped" "$dir/dhcpident-capture.stripped" packaging/openwrt/files/dhcpident.init \
    packaging/openwrt/files/dhcpident.config | wc -c)
expect Installed-Size "$installed"
control_members=$(tar -tzf "$work/control.tar.gz" | sort | tr '\n' ' ')
[ "$control_members" = "./conffiles ./control ./postinst ./prerm " ] || fail "control: $control_members"
[ "$(tar -xzOf "$work/control.tar.gz" ./conffiles)" = /etc/config/dhcpident ] || fail "conffiles"
tar -xzOf "$work/control.tar.gz" ./postinst | grep -q '^default_postinst \$0 \$@$' || fail "postinst"
[ -n "$(field Source)" ] || fail "no Source"
[ -n "$(field Description)" ] || fail "no Description"
listing=$(tar -tvzf "$work/data.tar.gz" | awk '$1 ~ /^-/ { print $1, $2, $NF }' | sort | tr '\n' ';')
[ "$listing" = "-rw------- 0/0 ./etc/config/dhcpident;-rwxr-xr-x 0/0 ./etc/init.d/dhcpident;-rwxr-xr-x 0/0 ./usr/sbin/dhcpident;-rwxr-xr-x 0/0 ./usr/sbin/dhcpident-capture;" ] ||
    fail "data: $listing"
tar -xzf "$work/data.tar.gz" -C "$work"
for pair in usr/sbin/dhcpident:"$dir/dhcpident.stripped" usr/sbin/dhcpident-capture:"$dir/dhcpident-capture.stripped" \
    etc/init.d/dhcpident:packaging/openwrt/files/dhcpident.init etc/config/dhcpident:packaging/openwrt/files/dhcpident.config; do
    cmp -s "$work/${pair%%:*}" "${pair#*:}" || fail "./${pair%%:*} inside is not ${pair#*:}"
done
[ "$status" -eq 0 ] && echo "package: $package holds $dir/dhcpident.stripped and dhcpident-capture.stripped, the init script and the configuration, $version, depends on libc, libpcap1"
exit $status
