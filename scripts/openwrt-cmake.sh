#!/usr/bin/env bash
# Configures, builds and installs the project the way OpenWrt's
# include/cmake.mk does for the package recipe (packaging/openwrt/Makefile):
# no toolchain file of the project's; the target's compilers, tools and
# flags given as cache variables and in the environment; the root path at
# the staging directory, with libraries and headers found only there; the
# recipe's CMAKE_OPTIONS; installed under /usr into DESTDIR, as the
# recipe's PKG_INSTALL does. The staging directory and the compilers are
# those of the router userland of ARCH (default mips_24kc;
# scripts/router-userland.sh, in ROUTER, default build-router/ARCH), and
# the flags OpenWrt's own for ARCH. EXTRA_LDFLAGS are added to the link, as
# a recipe's own would be.
# Usage: scripts/openwrt-cmake.sh BUILD_DIR DESTDIR [CMAKE_ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
arch=${ARCH:-mips_24kc}
arch_of "$arch"
build=$(realpath -m "$1")
destdir=$(realpath -m "$2")
shift 2
router=$(realpath -m "${ROUTER:-build-router/$arch}")
staging=$router/root
cross=$router/toolchain/bin/$arch-musl-
# OpenWrt's TARGET_CFLAGS and TARGET_LDFLAGS for the architecture.
target_cflags="-Os $cpu_flags"
target_ldflags="-L$staging/usr/lib -L$staging/lib -znow -zrelro"
read -r -a recipe_options <<<"$(bash scripts/openwrt-recipe.sh CMAKE_OPTIONS)"
# pkg-config as OpenWrt's wrapper runs it: the staging directory's files,
# their paths taken inside it.
export PKG_CONFIG_LIBDIR=$staging/usr/lib/pkgconfig PKG_CONFIG_SYSROOT_DIR=$staging
mkdir -p "$build"
CFLAGS="$target_cflags" CXXFLAGS="$target_cflags" LDFLAGS="$target_ldflags ${EXTRA_LDFLAGS:-}" \
cmake -S . -B "$build" --no-warn-unused-cli \
    -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_VERSION=1 -DCMAKE_SYSTEM_PROCESSOR=$processor \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
    -DCMAKE_C_COMPILER="${cross}gcc" -DCMAKE_CXX_COMPILER="${cross}g++" \
    -DCMAKE_ASM_COMPILER="${cross}gcc" \
    -DCMAKE_EXE_LINKER_FLAGS:STRING="$target_ldflags" \
    -DCMAKE_MODULE_LINKER_FLAGS:STRING="$target_ldflags" \
    -DCMAKE_SHARED_LINKER_FLAGS:STRING="$target_ldflags" \
    -DCMAKE_AR="${cross}ar" -DCMAKE_NM="${cross}nm" -DCMAKE_RANLIB="${cross}ranlib" \
    -DCMAKE_FIND_ROOT_PATH="$staging/usr;$router/toolchain" \
    -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=BOTH -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY \
    -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_STRIP=: -DCMAKE_INSTALL_PREFIX=/usr \
    -DDL_LIBRARY="$staging" -DCMAKE_PREFIX_PATH="$staging" -DCMAKE_SKIP_RPATH=TRUE \
    -DCMAKE_EXPORT_PACKAGE_REGISTRY=FALSE -DCMAKE_EXPORT_NO_PACKAGE_REGISTRY=TRUE \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=FALSE -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=FALSE \
    -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=TRUE -DCMAKE_FIND_PACKAGE_NO_SYSTEM_PACKAGE_REGISTRY=TRUE \
    "${recipe_options[@]}" "$@" >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j"$(nproc)" >"$build.build.log" 2>&1 || { cat "$build.build.log"; exit 1; }
rm -rf "$destdir"
DESTDIR="$destdir" cmake --install "$build" >/dev/null
