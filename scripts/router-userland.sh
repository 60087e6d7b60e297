#!/usr/bin/env bash
# Builds the userland of an OpenWrt router of architecture ARCH (one of
# router_arches in scripts/common.sh: mips_24kc, mipsel_24kc,
# aarch64_cortex-a53, arm_cortex-a7_neon-vfpv4) to build and test against,
# from Debian's source packages, into DIR (default build-router/ARCH):
#   DIR/root        the router's files: musl 1.2.3 (its loader, such as
#                   /lib/ld-musl-mips-sf.so.1, is libc.so) and libpcap 1.10.3
#                   as libpcap.so.1, headers and static libraries included;
#                   the staging directory of builds for the router
#   DIR/toolchain   a compiler for it: bin/ARCH-musl-gcc and -g++, Debian's
#                   cross gcc driven against DIR/root, and its libgcc
# The sources are fetched once for every architecture, into
# build-router/sources.
# Debian's mips and mipsel gcc are built for hard float: their libgcc.a
# holds the floating-point helpers (__adddf3 and friends) as FPU code, which
# a router without an FPU kills with SIGILL. So for those libgcc is compiled
# here from gcc's own sources, with -msoft-float: the soft-fp routines a
# soft-float MIPS gcc builds, and libgcc2's integer and complex helpers; and
# every library made is checked to hold no FPU instruction
# (scripts/fpu-free.sh). The ARM ones, hard float as OpenWrt builds them,
# take Debian's own libgcc. On each, a program of float arithmetic built
# with the toolchain must print under the architecture's emulated CPU (for
# MIPS the 24Kc, which has no FPU) what it prints on this machine.
# The stamp DIR/.complete, written last, names the script that made it: a
# half-made userland, or one made by an older script, is built anew.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
arch=${1:?usage: router-userland.sh ARCH [DIR]}
arch_of "$arch"
need_packages "${build_packages[@]}" "g++-$triplet" "$headers" dpkg-dev xz-utils flex bison qemu-user
dir=$(realpath -m "${2:-build-router/$arch}")
version=$(sha256sum scripts/router-userland.sh scripts/fpu-free.sh scripts/common.sh | sha256sum | cut -c1-16)
if [ "$(cat "$dir/.complete" 2>/dev/null)" = "$version" ]; then
    echo "router userland: cached in $dir"
    exit 0
fi
start=$SECONDS
rm -rf "$dir"
root=$dir/root
toolchain=$dir/toolchain
work=$dir/source
mkdir -p "$root" "$toolchain/bin" "$toolchain/lib" "$work"
log=$work/build.log
: >"$log"
cc=$triplet-gcc

# The sources, fetched once for all architectures.
sources=$(realpath -m build-router/sources)
if [ ! -f "$sources/.complete" ]; then
    rm -rf "$sources"
    mkdir -p "$sources"
    source_apt "$sources"
    (cd "$sources" && apt-get "${apt_private[@]}" source -qq --download-only musl libpcap gcc-12 \
        >>"$log" 2>&1)
    touch "$sources/.complete"
fi
(cd "$work" && dpkg-source -x "$sources"/musl_*.dsc >>"$log" 2>&1)
cp "$sources"/libpcap_*.orig.tar.gz "$sources"/gcc-12_*.orig.tar.gz "$work/"

# --- libgcc ------------------------------------------------------------------
if [ "$soft_float" = 1 ]; then
# Debian's gcc-12 source holds gcc's upstream tarball; only libgcc's sources
# and libstdc++'s headers for a libc other than glibc are taken from it.
tar -xzf "$work"/gcc-12_*.orig.tar.gz -C "$work" --wildcards '*/gcc-*-dfsg.tar.xz'
tar -xJf "$work"/gcc-12-*/gcc-*-dfsg.tar.xz -C "$work" --wildcards \
    'gcc-*/libgcc/*' 'gcc-*/include/*' 'gcc-*/gcc/tsystem.h' 'gcc-*/gcc/coretypes.h' \
    'gcc-*/libstdc++-v3/config/os/generic/*' 'gcc-*/COPYING.RUNTIME' 'gcc-*/COPYING3'
rm -rf "$work"/gcc-12_*.orig.tar.gz "$work"/gcc-12-*/
gcc_src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'gcc-[0-9]*' | head -n 1)
libgcc=$work/libgcc
mkdir -p "$libgcc/include"
# libgcc2.c's configuration headers, which a gcc build generates: what a
# 32-bit MIPS target says of its word size is all they need to hold here.
printf '#define USED_FOR_TARGET 1\n' >"$libgcc/include/tconfig.h"
printf '#define MIN_UNITS_PER_WORD 4\n#define LIBGCC2_UNITS_PER_WORD 4\n' >"$libgcc/include/tm.h"
: >"$libgcc/include/libgcc_tm.h"
# As libgcc is built: optimised, hidden (each library that links it keeps
# its own copy), no stack protector in the helpers the protector may call.
libgcc_flags=(-O2 $cpu_flags -fPIC -fbuilding-libgcc -fno-stack-protector -fvisibility=hidden
              -DIN_LIBGCC2 -DHIDE_EXPORTS -Dinhibit_libc -I"$libgcc/include" -I"$gcc_src/libgcc"
              -I"$gcc_src/libgcc/config/mips" -I"$gcc_src/include" -I"$gcc_src/gcc")
# What a soft-float MIPS libgcc is made of (libgcc/config/t-softfp with
# t-softfp-sfdf): arithmetic, comparisons and conversions of float and
# double...
softfp=(extendsfdf2 truncdfsf2)
for m in sf df; do
    for f in add${m}3 div${m}3 eq${m}2 ge${m}2 le${m}2 mul${m}3 neg${m}2 sub${m}3 unord${m}2; do
        softfp+=("$f")
    done
    for i in si di; do softfp+=("fix$m$i" "fixuns$m$i" "float$i$m" "floatun$i$m"); done
done
# ... and libgcc2.c's helpers, less the float conversions soft-fp gives and
# what a program for Linux never calls (trampolines, __main, constructors,
# cache flushing).
lib2=(_muldi3 _negdi2 _lshrdi3 _ashldi3 _ashrdi3 _cmpdi2 _ucmpdi2 _absvsi2 _absvdi2 _addvsi3
      _addvdi3 _subvsi3 _subvdi3 _mulvsi3 _mulvdi3 _negvsi2 _negvdi2 _ffssi2 _ffsdi2 _clz
      _clzsi2 _clzdi2 _ctzsi2 _ctzdi2 _popcount_tab _popcountsi2 _popcountdi2 _paritysi2
      _paritydi2 _powisf2 _powidf2 _mulsc3 _muldc3 _divsc3 _divdc3 _bswapsi2 _bswapdi2 _clrsbsi2
      _clrsbdi2 _divdi3 _moddi3 _divmoddi4 _udivdi3 _umoddi3 _udivmoddi4 _udiv_w_sdiv)
objects=()
for f in "${softfp[@]}"; do
    $cc "${libgcc_flags[@]}" -Wno-missing-prototypes -c "$gcc_src/libgcc/soft-fp/$f.c" \
        -o "$libgcc/$f.o" >>"$log" 2>&1 &
    objects+=("$libgcc/$f.o")
done
wait
for f in "${lib2[@]}"; do
    $cc "${libgcc_flags[@]}" -DL$f -c "$gcc_src/libgcc/libgcc2.c" -o "$libgcc/$f.o" \
        >>"$log" 2>&1 &
    objects+=("$libgcc/$f.o")
done
wait
for o in "${objects[@]}"; do [ -s "$o" ] || { tail -n 30 "$log"; echo "libgcc: $o not built" >&2; exit 1; }; done
$triplet-ar rcs "$toolchain/lib/libgcc.a" "${objects[@]}"
libgcc_kind="soft-float libgcc of ${#objects[@]} objects"
else
    # Hard float, as Debian's gcc for the target: its own libgcc.
    tar -xzf "$work"/gcc-12_*.orig.tar.gz -C "$work" --wildcards '*/gcc-*-dfsg.tar.xz'
    tar -xJf "$work"/gcc-12-*/gcc-*-dfsg.tar.xz -C "$work" --wildcards \
        'gcc-*/libstdc++-v3/config/os/generic/*' 'gcc-*/COPYING.RUNTIME' 'gcc-*/COPYING3'
    rm -rf "$work"/gcc-12_*.orig.tar.gz "$work"/gcc-12-*/
    gcc_src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'gcc-[0-9]*' | head -n 1)
    cp "$($cc -print-libgcc-file-name)" "$toolchain/lib/libgcc.a"
    libgcc_kind="Debian's libgcc"
fi
cp "$gcc_src/COPYING.RUNTIME" "$gcc_src/COPYING3" "$toolchain/lib/"

# --- musl --------------------------------------------------------------------
musl_src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'musl-[0-9]*' | head -n 1)
(cd "$musl_src" &&
    ./configure --target=$triplet --prefix=/usr --syslibdir=/lib --disable-wrapper \
        CC="$cc $driver_flags" CROSS_COMPILE=$triplet- CFLAGS="-Os $cpu_flags" \
        LIBCC="$toolchain/lib/libgcc.a" >"$work/musl-configure.log" 2>&1)
# Its variant names its loader: mips-sf, mipsel-sf, armhf; aarch64 has none.
variant=$(sed -n 's/^configured for [a-z0-9_]* variant: //p' "$work/musl-configure.log")
if [ "/lib/ld-musl-${variant:-aarch64}.so.1" != "$loader" ]; then
    cat "$work/musl-configure.log" >&2
    echo "musl: configured for variant '$variant', whose loader is not $loader" >&2
    exit 1
fi
make -C "$musl_src" -j"$(nproc)" >>"$log" 2>&1
make -C "$musl_src" install DESTDIR="$root" >>"$log" 2>&1
# The kernel's user-space headers, as a router's toolchain has them:
# Debian's for the target, which name no libc.
for d in $(dpkg -L "$headers" | grep -E "^/usr/$triplet/include/[^/]+\$"); do
    cp -a "$d" "$root/usr/include/"
done
# The loader is libc.so itself. A relative link, so that the root works
# wherever it is mounted (the emulator's -L, a router's flash).
ln -sfn ../usr/lib/libc.so "$root$loader"

# --- the toolchain -----------------------------------------------------------
# gcc's own link rules pick the loader from -mmusl and the float ABI; this
# driver file, read through the wrappers' option, replaces what else the driver
# would take from glibc's world: headers, start files, libraries. %R is the
# --sysroot the wrappers give.
cat >"$toolchain/lib/musl.driver" <<EOF
%rename cpp_options old_cpp_options
%rename cc1_options old_cc1_options
%rename link old_link

*cpp_options:
%(old_cpp_options) -nostdinc -isystem %R/usr/include -isystem include%s

*cc1_options:
%(old_cc1_options) -nostdinc -isystem %R/usr/include -isystem include%s

*link_libgcc:
-L$toolchain/lib -L%R/usr/lib

*libgcc:
-lgcc

*lib:
-lc

*startfile:
%{shared:;static-pie:%R/usr/lib/rcrt1.o;static|no-pie:%R/usr/lib/crt1.o;:%R/usr/lib/Scrt1.o} %R/usr/lib/crti.o

*endfile:
%R/usr/lib/crtn.o

*link:
%(old_link) %{static-pie:-static --no-dynamic-linker -z text}
EOF
cxx_headers=$(realpath "$(dirname "$($cc -print-libgcc-file-name)")/../../../../$triplet/include/c++/12")
# libstdc++'s headers: Debian's for the target, but for their few files
# that speak of glibc (its version macros, its ctype tables) those that
# libstdc++ itself uses with musl.
cxx_target=$toolchain/include/c++/$arch-musl
mkdir -p "$(dirname "$cxx_target")"
cp -a "$cxx_headers/$triplet" "$cxx_target"
cp "$gcc_src"/libstdc++-v3/config/os/generic/{os_defines.h,ctype_base.h,ctype_inline.h,error_constants.h} \
    "$cxx_target/bits/"
# The C++ compiler has no C++ runtime to link: it compiles with libstdc++'s
# headers (templates and inline code only) and links as the C compiler does,
# so a program that needs libstdc++ at run time does not link at all.
for tool in gcc g++; do
    extra=""
    [ "$tool" = g++ ] && extra="-isystem $cxx_headers -isystem $cxx_target -isystem $cxx_headers/backward"
    cat >"$toolchain/bin/$arch-musl-$tool" <<EOF
#!/bin/sh
# $tool for the router userland in $root ($arch, musl).
exec $cc --sysroot="$root" -specs="$toolchain/lib/musl.driver" $driver_flags $extra "\$@"
EOF
    chmod 755 "$toolchain/bin/$arch-musl-$tool"
done
# gcc-ar and its kin: archives of objects compiled for link-time
# optimisation, as OpenWrt's toolchain has them.
for tool in ar nm ranlib strip objdump readelf gcc-ar gcc-nm gcc-ranlib; do
    ln -sfn "$(command -v $triplet-$tool)" "$toolchain/bin/$arch-musl-$tool"
done

# --- libpcap -----------------------------------------------------------------
# The upstream tarball, without Debian's patches (one renames the SONAME),
# built with CMake as OpenWrt builds it; each function in a section of its
# own, so that a static program keeps only what it calls.
tar -xzf "$work"/libpcap_*.orig.tar.gz -C "$work"
pcap_src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libpcap-[0-9]*' | head -n 1)
cmake -S "$pcap_src" -B "$work/libpcap-build" -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=$processor \
    -DCMAKE_C_COMPILER="$toolchain/bin/$arch-musl-gcc" \
    -DCMAKE_C_FLAGS="-Os $cpu_flags -ffunction-sections -fdata-sections" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_FIND_ROOT_PATH="$root" \
    -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY \
    -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_AR="$toolchain/bin/$arch-musl-ar" \
    -DCMAKE_RANLIB="$toolchain/bin/$arch-musl-ranlib" \
    -DBUILD_SHARED_LIBS=ON -DPCAP_TYPE=linux -DBUILD_WITH_LIBNL=OFF -DENABLE_REMOTE=OFF \
    -DDISABLE_DBUS=ON -DDISABLE_DAG=ON -DDISABLE_DPDK=ON -DDISABLE_NETMAP=ON -DDISABLE_RDMA=ON \
    -DDISABLE_SEPTEL=ON -DDISABLE_SNF=ON -DDISABLE_TC=ON -DDISABLE_LINUX_USBMON=ON \
    -DDISABLE_BLUETOOTH=ON >>"$log" 2>&1
cmake --build "$work/libpcap-build" -j"$(nproc)" >>"$log" 2>&1
DESTDIR="$root" cmake --install "$work/libpcap-build" >>"$log" 2>&1
rm -rf "$root/usr/bin" "$root/usr/share/man"

# --- checks ------------------------------------------------------------------
fail() { echo "router userland: $*" >&2; exit 1; }
soname=$($triplet-readelf -d "$root/usr/lib/libpcap.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libpcap.so.1 ] || fail "libpcap's SONAME is '$soname', not libpcap.so.1"
needed=$($triplet-readelf -d "$root/usr/lib/libpcap.so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
[ "$needed" = "libc.so " ] || fail "libpcap needs '$needed', not only libc.so"
undefined=$($triplet-nm -D --undefined-only "$root/usr/lib/libc.so" | grep -v ' w ' || true)
[ -z "$undefined" ] || fail "libc.so leaves symbols undefined: $undefined"
if [ "$soft_float" = 1 ]; then
    bash scripts/fpu-free.sh "$root/usr/lib/libc.so" "$root/usr/lib/libpcap.so.1" "$root/usr/lib/libc.a" \
        "$root/usr/lib/libpcap.a" "$toolchain/lib/libgcc.a"
fi
# The float helpers compute what IEEE arithmetic gives: a program of double
# and float arithmetic, conversions and printf, run on the emulated CPU (for
# MIPS QEMU's 24Kc, without an FPU, as the routers), prints what the same
# program prints here.
cat >"$work/float-check.c" <<'EOF'
#include <stdio.h>
#include <stdlib.h>
int main(int argc, char** argv) {
    double a = strtod(argc > 1 ? argv[1] : "2.5", 0), b = strtod("-0.1", 0);
    float f = (float)a / 3.0f;
    printf("%.17g %.17g %.17g %.17g %.9g %d %lld %u %.17g %d\n", a + b, a * b, a / b, a - b, f,
           (int)(a * 7.3), (long long)(a * 1e15), (unsigned)(a * 1e9), (double)f, a > b);
    return 0;
}
EOF
"$toolchain/bin/$arch-musl-gcc" -Os $cpu_flags "$work/float-check.c" -o "$work/float-check"
gcc -O2 "$work/float-check.c" -o "$work/float-check-host"
expected=$("$work/float-check-host")
got=$($emulator -L "$root" "$work/float-check")
[ "$got" = "$expected" ] || fail "float arithmetic under $emulator gives '$got', not '$expected'"
if [ "$soft_float" = 1 ]; then bash scripts/fpu-free.sh "$work/float-check" >/dev/null; fi
echo "$version" >"$dir/.complete"
echo "router userland $arch: musl $(basename "$musl_src" | sed 's/musl-//') (loader $loader), $(basename "$pcap_src") (SONAME $soname), $libgcc_kind, in $((SECONDS - start)) s: $dir"
