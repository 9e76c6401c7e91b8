# SPDX-License-Identifier: MIT
# Cross build for the board: 32-bit ARM, hard float (Debian armhf), with
# Debian's cross compiler packages (g++-arm-linux-gnueabihf).  Libraries for
# the target come from Debian multiarch (e.g. libgtest-dev:armhf installs to
# /usr/lib/arm-linux-gnueabihf); test executables run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(LIU_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${LIU_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${LIU_CROSS_TRIPLE}-g++)
find_program(CMAKE_AR ${LIU_CROSS_TRIPLE}-ar)
find_program(CMAKE_RANLIB ${LIU_CROSS_TRIPLE}-ranlib)
find_program(CMAKE_STRIP ${LIU_CROSS_TRIPLE}-strip)
find_program(CMAKE_OBJDUMP ${LIU_CROSS_TRIPLE}-objdump)
find_program(CMAKE_READELF ${LIU_CROSS_TRIPLE}-readelf)

# GCC notes that passing some structures by value changed in GCC 7.1 on ARM;
# everything here is built with one compiler, so the note is only noise.
set(CMAKE_C_FLAGS_INIT -Wno-psabi)
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)

# ctest and gtest_discover_tests run target executables through the emulator;
# -L points it at the cross toolchain's loader and libraries.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm;-L;/usr/${LIU_CROSS_TRIPLE})

# Target headers, libraries and packages: a board sysroot if one is given
# (-DLIU_SYSROOT=DIR, e.g. where `DESTDIR=DIR cmake --install` put libliuDrv),
# then the cross toolchain's own and the multiarch directories of /usr.
# Programs are always the build machine's.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LIU_SYSROOT)
set(CMAKE_FIND_ROOT_PATH ${LIU_SYSROOT} /usr/${LIU_CROSS_TRIPLE} /usr)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must report armhf packages, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${LIU_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# umockdev is not multi-arch: tests reach the simulated chip in-process.
set(LIU_SIM_BINDING inproc CACHE STRING "Simulated chip binding for tests: umockdev or inproc")
