# A 64-bit build of the same Windows tree. It does not ship (the host loads
# 32-bit DLLs); it lets a 64-bit Wine run the Windows code on machines whose
# kernel runs no 32-bit programs (scripts/wine-check.sh --64).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(NORV_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
