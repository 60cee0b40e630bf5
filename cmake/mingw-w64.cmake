# Cross-compiling for Windows with Debian's MinGW-w64 (the posix-thread
# compilers). Included by the per-architecture toolchain files, which set
# TARVEX_MINGW_TRIPLET first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TARVEX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVEX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVEX_MINGW_TRIPLET}-windres)
# The caller may pass the cross-built dependencies' prefixes as
# -DCMAKE_FIND_ROOT_PATH=...; the compiler's own root is added to them.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${TARVEX_MINGW_TRIPLET})
# Programs run on the build machine; libraries, headers and packages come
# only from the target's roots, never from the Linux system.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Test programs and tools are run through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
