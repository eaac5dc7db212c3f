# SPDX-License-Identifier: MIT
# Cross-builds for another Debian architecture on a multiarch Debian, with
# crossbuild-essential-ARCH, pkgconf:ARCH and the :ARCH libraries installed,
# and runs what it builds under qemu's user emulation (qemu-user-static), as
# scripts/test-arch does. The architecture is dpkg's name for it (arm64,
# armhf, i386, ppc64el, riscv64, s390x), taken from DEB_HOST_ARCH in the
# environment, which dpkg-buildpackage --host-arch sets as well:
#   DEB_HOST_ARCH=arm64 cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=scripts/arch-toolchain.cmake

# Kept in the cache for CMake's later runs, which re-read this file, and
# handed to try_compile's.
if(NOT "$ENV{DEB_HOST_ARCH}" STREQUAL "")
  set(QUENDAL_ARCH "$ENV{DEB_HOST_ARCH}" CACHE STRING "The Debian architecture built for" FORCE)
endif()
if(NOT QUENDAL_ARCH)
  message(FATAL_ERROR "Set DEB_HOST_ARCH to the Debian architecture to build for, such as arm64")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUENDAL_ARCH)

# dpkg's own names for the architecture: its GNU triplet, CPU and multiarch
# directory, and the architecture of this machine.
foreach(name DEB_HOST_GNU_TYPE DEB_HOST_GNU_CPU DEB_HOST_MULTIARCH DEB_BUILD_ARCH)
  execute_process(COMMAND dpkg-architecture -a ${QUENDAL_ARCH} -q ${name}
    OUTPUT_VARIABLE ${name} OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0 OR NOT ${name})
    message(FATAL_ERROR "dpkg-architecture knows no ${name} for ${QUENDAL_ARCH}")
  endif()
endforeach()

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${DEB_HOST_GNU_CPU})
set(CMAKE_C_COMPILER ${DEB_HOST_GNU_TYPE}-gcc)
set(CMAKE_CXX_COMPILER ${DEB_HOST_GNU_TYPE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${DEB_HOST_MULTIARCH})
set(PKG_CONFIG_EXECUTABLE /usr/bin/${DEB_HOST_GNU_TYPE}-pkg-config CACHE FILEPATH
  "pkg-config for the architecture built for")

# An amd64 kernel runs i386 programs itself; the others run under qemu,
# which names two CPUs its own way.
if(NOT (QUENDAL_ARCH STREQUAL "i386" AND DEB_BUILD_ARCH STREQUAL "amd64"))
  set(qemu_cpu ${DEB_HOST_GNU_CPU})
  if(qemu_cpu STREQUAL "powerpc64le")
    set(qemu_cpu ppc64le)
  elseif(qemu_cpu MATCHES "^i.86$")
    set(qemu_cpu i386)
  endif()
  find_program(CMAKE_CROSSCOMPILING_EMULATOR NAMES qemu-${qemu_cpu}-static qemu-${qemu_cpu}
    DOC "qemu's user emulation of the architecture built for" REQUIRED)
endif()
