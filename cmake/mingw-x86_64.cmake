# A 64-bit build of the same sources, never shipped: it stands in under Wine
# where Linux runs no 32-bit programs (scripts/wine-env.sh).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CORVANE_MINGW x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
