#!/usr/bin/env bash
# Builds libpcap for mips-linux-gnu from Debian's own source package into
# SYSROOT (default build-sysroot-mips). A second run finds it and does
# nothing. The source is fetched with a private apt configuration under the
# build directory: the machine's sources are read, never changed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages "${build_packages[@]}" g++-mips-linux-gnu dpkg-dev xz-utils flex bison
sysroot=$(realpath -m "${1:-build-sysroot-mips}")
if [ -f "$sysroot/usr/lib/pkgconfig/libpcap.pc" ]; then
    echo "libpcap for MIPS: cached in $sysroot"
    exit 0
fi
work=$sysroot.source
rm -rf "$work"
source_apt "$work"
(cd "$work" && apt-get "${apt_private[@]}" source -qq libpcap >/dev/null)
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libpcap-[0-9]*' | head -n 1)

cd "$src"
./configure --host=mips-linux-gnu --prefix=/usr --disable-dbus --disable-rdma \
    --disable-bluetooth --disable-usb --disable-netmap --without-libnl \
    CFLAGS="-O2 -g" >"$work/configure.log"
make -j"$(nproc)" >"$work/make.log"
make install DESTDIR="$sysroot" >"$work/install.log"
echo "libpcap for MIPS: built $(basename "$src") into $sysroot"
