# Cross build for 32-bit big-endian MIPS Linux with Debian's mips-linux-gnu
# toolchain: cmake --toolchain cmake/mips-linux-gnu.cmake. libpcap comes from
# a sysroot that scripts/mips-libpcap.sh builds (DHCPIDENT_MIPS_SYSROOT,
# default build-sysroot-mips); tests run under qemu-mips.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(CMAKE_C_COMPILER mips-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mips-linux-gnu-g++)

# CMake reads this file again for each compiler check, in a project of its
# own: the sysroot given on the command line is handed on to those, or they
# would fall back to the default and point pkg-config elsewhere.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DHCPIDENT_MIPS_SYSROOT DHCPIDENT_MIPS_RUNTIME)
if(NOT DHCPIDENT_MIPS_SYSROOT)
  set(DHCPIDENT_MIPS_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build-sysroot-mips")
endif()
get_filename_component(DHCPIDENT_MIPS_SYSROOT "${DHCPIDENT_MIPS_SYSROOT}" ABSOLUTE)
set(DHCPIDENT_MIPS_SYSROOT "${DHCPIDENT_MIPS_SYSROOT}" CACHE PATH "libpcap sysroot for MIPS")
if(NOT DHCPIDENT_MIPS_RUNTIME)
  set(DHCPIDENT_MIPS_RUNTIME /usr/mips-linux-gnu)
endif()
set(DHCPIDENT_MIPS_RUNTIME "${DHCPIDENT_MIPS_RUNTIME}" CACHE PATH "The target's libc, for qemu -L")

set(CMAKE_FIND_ROOT_PATH ${DHCPIDENT_MIPS_RUNTIME} ${DHCPIDENT_MIPS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config answers for the target: the sysroot's libpcap.pc only.
set(ENV{PKG_CONFIG_LIBDIR} "${DHCPIDENT_MIPS_SYSROOT}/usr/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${DHCPIDENT_MIPS_SYSROOT}")

find_program(DHCPIDENT_QEMU_MIPS qemu-mips)
if(DHCPIDENT_QEMU_MIPS)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DHCPIDENT_QEMU_MIPS} -L ${DHCPIDENT_MIPS_RUNTIME})
endif()
