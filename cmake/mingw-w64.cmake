# Cross build for 64-bit Windows with Debian's MinGW-w64 (the posix thread model, which
# std::thread and std::mutex need). Programs run here under Wine, which CMake uses to run
# what it builds (tests, the sample image's writer).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(TARVIK_WINE NAMES wine wine64 PATHS /usr/lib/wine)
if(TARVIK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVIK_WINE})
endif()
