#!/usr/bin/env bash
# Opens the package of --names' data as opkg would and checks it: its three
# members, its fields, its conffile, that each file inside, root's, is byte
# for byte the data the tests read (NAMES_DIR/devices and makers) or the
# recipe's local rules file, and that it is at most 256 KiB.
# Usage: scripts/check-names-package.sh DEVICE_ROOT NAMES_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
root=$1 names=$2
status=0
fail() { echo "names package: $*" >&2; status=1; }
mapfile -t recipe < <(bash scripts/openwrt-recipe.sh PKG_VERSION PKG_RELEASE)
package=$root/dhcpident-names_${recipe[0]}-${recipe[1]}_all.ipk
[ -f "$package" ] || { echo "names package: no $package" >&2; exit 1; }
[ "$(stat -c %s "$package")" -le 262144 ] || fail "$(stat -c %s "$package") bytes, over 256 KiB"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ "$(tar -tzf "$package" | sort | tr '\n' ' ')" = "./control.tar.gz ./data.tar.gz ./debian-binary " ] || fail "members"
tar -xzf "$package" -C "$work"
tar -xzOf "$work/control.tar.gz" ./control >"$work/control"
for expected in "Package: dhcpident-names" "Version: ${recipe[0]}-${recipe[1]}" "Architecture: all" "Section: net"; do
    grep -qx "$expected" "$work/control" || fail "no '$expected'"
done
[ "$(tar -xzOf "$work/control.tar.gz" ./conffiles)" = /etc/dhcpident/devices ] || fail "conffiles"
listing=$(tar -tvzf "$work/data.tar.gz" | awk '$1 ~ /^-/ { print $1, $2, $NF }' | sort | tr '\n' ';')
[ "$listing" = "-rw-r--r-- 0/0 ./etc/dhcpident/devices;-rw-r--r-- 0/0 ./usr/share/dhcpident/devices;-rw-r--r-- 0/0 ./usr/share/dhcpident/makers;" ] ||
    fail "data: $listing"
tar -xzf "$work/data.tar.gz" -C "$work"
for pair in usr/share/dhcpident/devices:"$names/devices" usr/share/dhcpident/makers:"$names/makers" \
    etc/dhcpident/devices:packaging/openwrt/files/dhcpident.devices; do
    cmp -s "$work/${pair%%:*}" "${pair#*:}" || fail "./${pair%%:*} inside is not ${pair#*:}"
done
[ "$status" -eq 0 ] && echo "names package: $package ($(stat -c %s "$package") bytes) holds the data the tests read"
exit $status
