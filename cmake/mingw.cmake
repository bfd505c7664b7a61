# Cross-compiling for Windows with MinGW-w64; included by the toolchain file
# of each processor, which sets CORVANE_MINGW to the compilers' prefix.
# The posix threading flavour: GoogleTest needs std::mutex. Its runtime
# imports one function newer than XP, which Corvane.exe replaces
# (os/win32/xp_runtime.cpp).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${CORVANE_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CORVANE_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${CORVANE_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${CORVANE_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
