#!/usr/bin/env bash
# Builds the userland of an OpenWrt mips_24kc router (32-bit big-endian
# MIPS, soft float, musl) to build and test against, from Debian's source
# packages, into DIR (default build-router):
#   DIR/root        the router's files: musl 1.2.3 (its loader
#                   /lib/ld-musl-mips-sf.so.1 is libc.so) and libpcap 1.10.3
#                   as libpcap.so.1, headers and static libraries included;
#                   the staging directory of builds for the router
#   DIR/toolchain   a compiler for it: bin/mips-linux-muslsf-gcc and -g++,
#                   Debian's mips-linux-gnu gcc driven against DIR/root, and
#                   a libgcc of soft-float code
# Debian's mips-linux-gnu gcc is built for hard float: its libgcc.a holds the
# floating-point helpers (__adddf3 and friends) as FPU code, which a router
# without an FPU kills with SIGILL. So libgcc is compiled here from gcc's own
# sources, with -msoft-float: the soft-fp routines a soft-float MIPS gcc
# builds, and libgcc2's integer and complex helpers. Every library made here
# is checked to hold no FPU instruction (scripts/fpu-free.sh), and a program
# of float arithmetic built with the toolchain must print on QEMU's 24Kc,
# which has no FPU, what it prints on this machine.
# The stamp DIR/.complete, written last, names the script that made it: a
# half-made userland, or one made by an older script, is built anew.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages "${build_packages[@]}" g++-mips-linux-gnu dpkg-dev xz-utils flex bison qemu-user
dir=$(realpath -m "${1:-build-router}")
version=$(sha256sum scripts/router-userland.sh scripts/fpu-free.sh | sha256sum | cut -c1-16)
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
# OpenWrt's flags for mips_24kc.
cpu_flags="-mips32r2 -mtune=24kc -msoft-float"

source_apt "$work"
(cd "$work" && apt-get "${apt_private[@]}" source -qq musl >>"$log" 2>&1 &&
    apt-get "${apt_private[@]}" source -qq --download-only libpcap gcc-12 >>"$log" 2>&1)

# --- libgcc, soft float ----------------------------------------------------
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
    mips-linux-gnu-gcc "${libgcc_flags[@]}" -Wno-missing-prototypes -c "$gcc_src/libgcc/soft-fp/$f.c" \
        -o "$libgcc/$f.o" >>"$log" 2>&1 &
    objects+=("$libgcc/$f.o")
done
wait
for f in "${lib2[@]}"; do
    mips-linux-gnu-gcc "${libgcc_flags[@]}" -DL$f -c "$gcc_src/libgcc/libgcc2.c" -o "$libgcc/$f.o" \
        >>"$log" 2>&1 &
    objects+=("$libgcc/$f.o")
done
wait
for o in "${objects[@]}"; do [ -s "$o" ] || { tail -n 30 "$log"; echo "libgcc: $o not built" >&2; exit 1; }; done
mips-linux-gnu-ar rcs "$toolchain/lib/libgcc.a" "${objects[@]}"
cp "$gcc_src/COPYING.RUNTIME" "$gcc_src/COPYING3" "$toolchain/lib/"

# --- musl --------------------------------------------------------------------
musl_src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'musl-[0-9]*' | head -n 1)
(cd "$musl_src" &&
    ./configure --target=mips-linux-gnu --prefix=/usr --syslibdir=/lib --disable-wrapper \
        CC=mips-linux-gnu-gcc CROSS_COMPILE=mips-linux-gnu- CFLAGS="-Os $cpu_flags" \
        LIBCC="$toolchain/lib/libgcc.a" >"$work/musl-configure.log" 2>&1)
variant=$(sed -n 's/^configured for mips variant: //p' "$work/musl-configure.log")
if [ "$variant" != mips-sf ]; then
    cat "$work/musl-configure.log" >&2
    echo "musl: configured for variant '$variant', not mips-sf" >&2
    exit 1
fi
make -C "$musl_src" -j"$(nproc)" >>"$log" 2>&1
make -C "$musl_src" install DESTDIR="$root" >>"$log" 2>&1
# The kernel's user-space headers, as a router's toolchain has them:
# Debian's for mips, which name no libc.
for d in $(dpkg -L linux-libc-dev-mips-cross | grep -E '^/usr/mips-linux-gnu/include/[^/]+$'); do
    cp -a "$d" "$root/usr/include/"
done
# The loader is libc.so itself. A relative link, so that the root works
# wherever it is mounted (the emulator's -L, a router's flash).
ln -sfn ../usr/lib/libc.so "$root/lib/ld-musl-mips-sf.so.1"

# --- the toolchain -----------------------------------------------------------
# gcc's own link rules pick the loader from -mmusl -msoft-float; this
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
cxx_headers=$(realpath "$(dirname "$(mips-linux-gnu-gcc -print-libgcc-file-name)")/../../../../mips-linux-gnu/include/c++/12")
# libstdc++'s headers: Debian's for mips, but for their few files that
# speak of glibc (its version macros, its ctype tables) those that
# libstdc++ itself uses with musl.
cxx_target=$toolchain/include/c++/mips-linux-muslsf
mkdir -p "$(dirname "$cxx_target")"
cp -a "$cxx_headers/mips-linux-gnu" "$cxx_target"
cp "$gcc_src"/libstdc++-v3/config/os/generic/{os_defines.h,ctype_base.h,ctype_inline.h,error_constants.h} \
    "$cxx_target/bits/"
# The C++ compiler has no C++ runtime to link: it compiles with libstdc++'s
# headers (templates and inline code only) and links as the C compiler does,
# so a program that needs libstdc++ at run time does not link at all.
for tool in gcc g++; do
    extra=""
    [ "$tool" = g++ ] && extra="-isystem $cxx_headers -isystem $cxx_target -isystem $cxx_headers/backward"
    cat >"$toolchain/bin/mips-linux-muslsf-$tool" <<EOF
#!/bin/sh
# $tool for the router userland in $root (soft float, musl).
exec mips-linux-gnu-gcc --sysroot="$root" -specs="$toolchain/lib/musl.driver" -mmusl -msoft-float $extra "\$@"
EOF
    chmod 755 "$toolchain/bin/mips-linux-muslsf-$tool"
done
for tool in ar nm ranlib strip objdump readelf; do ln -sfn "$(command -v mips-linux-gnu-$tool)" "$toolchain/bin/mips-linux-muslsf-$tool"; done

# --- libpcap -----------------------------------------------------------------
# The upstream tarball, without Debian's patches (one renames the SONAME),
# built with CMake as OpenWrt builds it; each function in a section of its
# own, so that a static program keeps only what it calls.
tar -xzf "$work"/libpcap_*.orig.tar.gz -C "$work"
pcap_src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libpcap-[0-9]*' | head -n 1)
cmake -S "$pcap_src" -B "$work/libpcap-build" -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=mips \
    -DCMAKE_C_COMPILER="$toolchain/bin/mips-linux-muslsf-gcc" \
    -DCMAKE_C_FLAGS="-Os $cpu_flags -ffunction-sections -fdata-sections" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_FIND_ROOT_PATH="$root" \
    -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY \
    -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_AR="$toolchain/bin/mips-linux-muslsf-ar" \
    -DCMAKE_RANLIB="$toolchain/bin/mips-linux-muslsf-ranlib" \
    -DBUILD_SHARED_LIBS=ON -DPCAP_TYPE=linux -DBUILD_WITH_LIBNL=OFF -DENABLE_REMOTE=OFF \
    -DDISABLE_DBUS=ON -DDISABLE_DAG=ON -DDISABLE_DPDK=ON -DDISABLE_NETMAP=ON -DDISABLE_RDMA=ON \
    -DDISABLE_SEPTEL=ON -DDISABLE_SNF=ON -DDISABLE_TC=ON -DDISABLE_LINUX_USBMON=ON \
    -DDISABLE_BLUETOOTH=ON >>"$log" 2>&1
cmake --build "$work/libpcap-build" -j"$(nproc)" >>"$log" 2>&1
DESTDIR="$root" cmake --install "$work/libpcap-build" >>"$log" 2>&1
rm -rf "$root/usr/bin" "$root/usr/share/man"

# --- checks ------------------------------------------------------------------
fail() { echo "router userland: $*" >&2; exit 1; }
soname=$(mips-linux-gnu-readelf -d "$root/usr/lib/libpcap.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libpcap.so.1 ] || fail "libpcap's SONAME is '$soname', not libpcap.so.1"
needed=$(mips-linux-gnu-readelf -d "$root/usr/lib/libpcap.so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
[ "$needed" = "libc.so " ] || fail "libpcap needs '$needed', not only libc.so"
undefined=$(mips-linux-gnu-nm -D --undefined-only "$root/usr/lib/libc.so" | grep -v ' w ' || true)
[ -z "$undefined" ] || fail "libc.so leaves symbols undefined: $undefined"
bash scripts/fpu-free.sh "$root/usr/lib/libc.so" "$root/usr/lib/libpcap.so.1" "$root/usr/lib/libc.a" \
    "$root/usr/lib/libpcap.a" "$toolchain/lib/libgcc.a"
# The soft-float helpers compute what IEEE arithmetic gives: a program of
# double and float arithmetic, conversions and printf, run on QEMU's 24Kc
# (no FPU, as the routers), prints what the same program prints here.
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
"$toolchain/bin/mips-linux-muslsf-gcc" -Os $cpu_flags "$work/float-check.c" -o "$work/float-check"
gcc -O2 "$work/float-check.c" -o "$work/float-check-host"
expected=$("$work/float-check-host")
got=$(qemu-mips -cpu 24Kc -L "$root" "$work/float-check")
[ "$got" = "$expected" ] || fail "soft-float arithmetic on the 24Kc gives '$got', not '$expected'"
bash scripts/fpu-free.sh "$work/float-check" >/dev/null
echo "$version" >"$dir/.complete"
echo "router userland: musl $(basename "$musl_src" | sed 's/musl-//') ($variant), $(basename "$pcap_src") (SONAME $soname), soft-float libgcc of ${#objects[@]} objects, in $((SECONDS - start)) s: $dir"
