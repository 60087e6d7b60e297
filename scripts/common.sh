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

# source_apt WORK: a private apt configuration under WORK/apt that reads
# the machine's Debian entries as source entries, without changing the
# machine's own; sets apt_private to the options that select it. Then
# (cd WORK && apt-get "${apt_private[@]}" source ...) fetches a source
# package.
source_apt() {
    local work=$1
    mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/apt/sources"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >"$work/apt/sources/$(basename "$f")"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] && sed -n 's/^deb /deb-src /p' "$f" >"$work/apt/sources/$(basename "$f").list"
    done
    apt_private=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/apt/sources"
                 -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache="$work/apt/cache")
    # An unrelated entry that has no sources must not stop the one that does.
    apt-get "${apt_private[@]}" update -qq || true
}

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
