# 32-bit Windows (x86) with Debian's g++-mingw-w64-i686: build/win32.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(IFFPCX_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
