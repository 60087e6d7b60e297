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

# pack OUT DIR MEMBERS...: a gzip'd tar of root's files, as opkg's
# packages are made, dated from the last commit so that the same files give
# the same package.
pack() {
    local out=$1 from=$2
    shift 2
    tar --format=gnu --numeric-owner --owner=0 --group=0 --sort=name \
        --mtime="@$(git log -1 --format=%ct 2>/dev/null || echo 0)" \
        -C "$from" -cf - "$@" | gzip -n -9 >"$out"
}

# The router architectures the device build makes programs for, with what
# OpenWrt builds each with. arch_of ARCH sets: triplet (Debian's cross
# compiler), cpu_flags (OpenWrt's CPU flags for the target), driver_flags
# (what gcc's driver needs to pick musl's loader and float ABI), soft_float
# (1: no FPU, the libgcc is built soft-float), loader, processor (CMake's
# CMAKE_SYSTEM_PROCESSOR), headers (Debian's kernel headers package) and
# emulator (the qemu and CPU the tests run it under).
router_arches=(mips_24kc mipsel_24kc aarch64_cortex-a53 arm_cortex-a7_neon-vfpv4)
arch_of() {
    case $1 in
    mips_24kc)
        triplet=mips-linux-gnu cpu_flags="-mips32r2 -mtune=24kc -msoft-float"
        driver_flags="-mmusl -msoft-float" soft_float=1 loader=/lib/ld-musl-mips-sf.so.1
        processor=mips headers=linux-libc-dev-mips-cross emulator="qemu-mips -cpu 24Kc" ;;
    mipsel_24kc)
        triplet=mipsel-linux-gnu cpu_flags="-mips32r2 -mtune=24kc -msoft-float"
        driver_flags="-mmusl -EL -msoft-float" soft_float=1 loader=/lib/ld-musl-mipsel-sf.so.1
        processor=mipsel headers=linux-libc-dev-mipsel-cross emulator="qemu-mipsel -cpu 24Kc" ;;
    aarch64_cortex-a53)
        # No outline atomics: their helpers in Debian's libgcc call
        # __getauxval, which musl does not export.
        triplet=aarch64-linux-gnu cpu_flags="-mcpu=cortex-a53 -mno-outline-atomics"
        driver_flags="-mmusl" soft_float=0 loader=/lib/ld-musl-aarch64.so.1
        processor=aarch64 headers=linux-libc-dev-arm64-cross emulator="qemu-aarch64 -cpu cortex-a53" ;;
    arm_cortex-a7_neon-vfpv4)
        # musl's loader is named armhf only with the float ABI said.
        triplet=arm-linux-gnueabihf cpu_flags="-mcpu=cortex-a7 -mfpu=neon-vfpv4 -mfloat-abi=hard"
        driver_flags="-mmusl -mfloat-abi=hard" soft_float=0 loader=/lib/ld-musl-armhf.so.1
        processor=arm headers=linux-libc-dev-armhf-cross emulator="qemu-arm -cpu cortex-a7" ;;
    *) echo "unknown router architecture $1 (one of ${router_arches[*]})" >&2; return 1 ;;
    esac
}
