#!/bin/sh
# The OpenWrt init script against stand-ins for what rc.common, functions.sh
# (UCI) and procd.sh give it: each config below is loaded, start_service and
# service_triggers run, and the procd calls they make are compared with
# what is expected. There is no procd here to run it for real.
# Usage: init_script_test.sh INIT_SCRIPT
script=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/lib/functions"
# Logical networks and their devices (lan and lan6 share one); "wan" has
# none yet.
cat >"$root/lib/functions/network.sh" <<'NET'
network_get_device() {
	case $2 in lan|lan6) eval "$1=br-lan" ;; guest) eval "$1=br-guest" ;; *) return 1 ;; esac
}
NET
failed=0

# check NAME CONFIG EXPECTED: CONFIG's lines and the procd calls expected
# of start_service, then of service_triggers, joined by "|".
check() {
	printf '%s\n' "$2" | tr '|' '\n' >"$root/config"
	got=$(IPKG_INSTROOT=$root sh -c '
		config_load() { :; }
		# config_get VAR SECTION OPTION: "option NAME VALUE" and "list NAME
		# VALUE" lines of the one section.
		config_get() {
			v=$(awk -v o="$3" "(\$1 == \"option\" || \$1 == \"list\") && \$2 == o { printf \"%s%s\", s, \$3; s = \" \" }" "$IPKG_INSTROOT/config")
			eval "$1=\$v"
		}
		config_get_bool() { config_get "$@"; eval "[ \"\${$1:-0}\" = 1 ] && $1=1 || $1=0"; }
		for call in procd_open_instance procd_set_param procd_append_param procd_close_instance \
		    procd_add_reload_trigger procd_add_reload_interface_trigger procd_add_raw_trigger; do
			eval "$call() { echo \"$call\${1+ \$*}\"; }"
		done
		. "$0"
		start_service 2>&1
		service_triggers' "$script" | tr '\n' '|')
	if [ "$got" != "$3|" ]; then
		printf 'init script: %s:\n  expected %s\n  got      %s\n' "$1" "$3" "$got" >&2
		failed=1
	fi
}

open="procd_open_instance|procd_set_param command /usr/sbin/dhcpident-capture"
close="procd_set_param respawn 3600 15 0|procd_set_param no_new_privs 1|procd_set_param stderr 1|procd_close_instance"
check "disabled: no instance" "option enabled 0|list network lan" \
	"procd_add_reload_trigger dhcpident|procd_add_reload_interface_trigger lan"
check "two networks and a device, the bounds, the buffer" \
	"option enabled 1|list network lan|list network guest|list device eth0.5|option max_clients 1000|option max_memory 4M|option interval 5|option buffer 2M" \
	"$open|procd_append_param command -i br-lan|procd_append_param command -i br-guest|procd_append_param command -i eth0.5|procd_append_param command --max-clients=1000|procd_append_param command --max-memory=4M|procd_append_param command --interval=5|procd_append_param command --buffer=2M|procd_set_param netdev br-lan br-guest eth0.5|$close|procd_add_reload_trigger dhcpident|procd_add_reload_interface_trigger lan|procd_add_reload_interface_trigger guest|procd_add_raw_trigger interface.* 1000 /etc/init.d/dhcpident reload"
check "a network without a device, no bounds" "option enabled 1|list network wan|list network lan" \
	"dhcpident: network wan has no device (yet)|$open|procd_append_param command -i br-lan|procd_set_param netdev br-lan|$close|procd_add_reload_trigger dhcpident|procd_add_reload_interface_trigger wan|procd_add_reload_interface_trigger lan"
check "each device once" "option enabled 1|list network lan|list network lan6|list device br-lan" \
	"$open|procd_append_param command -i br-lan|procd_set_param netdev br-lan|$close|procd_add_reload_trigger dhcpident|procd_add_reload_interface_trigger lan|procd_add_reload_interface_trigger lan6|procd_add_raw_trigger interface.* 1000 /etc/init.d/dhcpident reload"
check "nothing to capture on" "option enabled 1" "dhcpident: no device to capture on|procd_add_reload_trigger dhcpident"

[ "$failed" -eq 0 ] && echo "init script: 5 configurations give the procd calls expected"
exit "$failed"
