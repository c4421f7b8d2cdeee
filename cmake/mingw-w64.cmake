# Cross build for Windows with Debian's mingw-w64, shared by the toolchain
# files of the two processors, which set IFFPCX_MINGW_PREFIX and
# CMAKE_SYSTEM_PROCESSOR first. The posix thread variant gives the tests
# std::thread and std::mutex; the library itself needs neither and builds with
# the win32 variant too (-DIFFPCX_MINGW_THREADS=win32).
set(CMAKE_SYSTEM_NAME Windows)

set(IFFPCX_MINGW_THREADS posix CACHE STRING "mingw-w64 thread variant: posix or win32")
set(CMAKE_C_COMPILER ${IFFPCX_MINGW_PREFIX}-gcc-${IFFPCX_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${IFFPCX_MINGW_PREFIX}-g++-${IFFPCX_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${IFFPCX_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${IFFPCX_MINGW_PREFIX}-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/${IFFPCX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
