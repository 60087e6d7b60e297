# Shared by the scripts. Each script owns its build directory and passes
# every option it relies on, so any of them works after any other.

# Installs Debian packages that are missing.
need_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

build_packages=(g++ cmake make pkg-config libpcap-dev util-linux mount)

# captures_of BUILD_DIR: the capture corpus that build was configured with
# (the DHCPIDENT_CAPTURES cache option), when that directory exists.
captures_of() {
    local dir
    dir=$(sed -n 's/^DHCPIDENT_CAPTURES:PATH=//p' "$1/CMakeCache.txt")
    if [ -n "$dir" ] && [ -d "$dir" ]; then echo "$dir"; fi
}

# with_capture CAPTURE COMMAND ARGS...: runs COMMAND as root in a private
# mount namespace whose /tmp is a fresh tmpfs with CAPTURE at the program's
# fixed path, so the machine's /tmp is left alone. The checkout may itself
# lie under /tmp: the capture and the working directory are opened before
# /tmp is covered, and COMMAND and its arguments are taken relative to the
# checkout.
with_capture() {
    local capture=$1
    shift
    unshare --mount --propagation private sh -c '
        exec 3<"$1" 4<"$PWD"
        mount -t tmpfs -o mode=1777 dhcpident-run /tmp
        touch /tmp/capfileall.pcap
        mount --bind /proc/self/fd/3 /tmp/capfileall.pcap
        cd /proc/self/fd/4
        exec 3<&- 4<&-
        shift
        exec "$@"' sh "$capture" "$@"
}
