# Cross build of the 32-bit Windows DLLs with Debian's MinGW-w64 compilers:
# the build that ships.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(NORV_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
