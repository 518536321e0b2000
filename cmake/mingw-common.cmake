# What both MinGW-w64 toolchain files share; NORV_MINGW_PREFIX names the
# compiler. The posix-threads flavour is the one whose C++ library has
# std::mutex; it is linked statically, so the modules need nothing beyond
# Windows' own DLLs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${NORV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NORV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${NORV_MINGW_PREFIX}-windres)
find_program(CMAKE_DLLTOOL ${NORV_MINGW_PREFIX}-dlltool REQUIRED)
find_program(NORV_OBJDUMP ${NORV_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${NORV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
