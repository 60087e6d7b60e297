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
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/apt/sources"

# The machine's Debian entries, as source entries.
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
(cd "$work" && apt-get "${apt_private[@]}" source -qq libpcap >/dev/null)
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libpcap-[0-9]*' | head -n 1)

cd "$src"
./configure --host=mips-linux-gnu --prefix=/usr --disable-dbus --disable-rdma \
    --disable-bluetooth --disable-usb --disable-netmap --without-libnl \
    CFLAGS="-O2 -g" >"$work/configure.log"
make -j"$(nproc)" >"$work/make.log"
make install DESTDIR="$sysroot" >"$work/install.log"
echo "libpcap for MIPS: built $(basename "$src") into $sysroot"
