# Corvane.exe as it is shipped: 32-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CORVANE_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
