# SPDX-License-Identifier: MIT
# Cross-builds for 64-bit Windows with MinGW-w64, against the static freeglut
# and GLU that scripts/package-windows builds into QUENDAL_WINDOWS_PREFIX.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
# The win32 thread model needs no winpthread DLL.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# try_compile re-reads this file without the command line's variables.
if(NOT QUENDAL_WINDOWS_PREFIX)
  set(QUENDAL_WINDOWS_PREFIX "$ENV{QUENDAL_WINDOWS_PREFIX}")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUENDAL_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${QUENDAL_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Otherwise pkg-config hands CMake the build machine's own glut.pc.
set(ENV{PKG_CONFIG_LIBDIR} "${QUENDAL_WINDOWS_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

if(QUENDAL_WINDOWS_PREFIX)
  # Windows' own glu32.dll has no working NURBS renderer.
  set(OPENGL_glu_LIBRARY "${QUENDAL_WINDOWS_PREFIX}/lib/libGLU.a" CACHE FILEPATH "Mesa's GLU")
endif()
set(CMAKE_C_FLAGS_INIT "-DFREEGLUT_STATIC")
set(CMAKE_CXX_FLAGS_INIT "-DFREEGLUT_STATIC")
# Everything but Windows' own DLLs is linked in. Static freeglut needs these
# system libraries after it; the cache entry wins over the platform default.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CXX_STANDARD_LIBRARIES "-lopengl32 -lwinmm -lgdi32 -luser32 -lkernel32"
  CACHE STRING "Windows libraries every program links")
