# Toolchain file for 32-bit Windows (x86) with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARVEX_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
