# Cross build of vemtool.exe for 64-bit Windows with MinGW-w64 from Linux:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The posix-thread compiler is the one GoogleTest builds with. Where Wine is
# installed, ctest runs the Windows tests through it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VEMTOOL_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${VEMTOOL_MINGW_PREFIX}-g++-posix ${VEMTOOL_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${VEMTOOL_MINGW_PREFIX}-gcc-posix ${VEMTOOL_MINGW_PREFIX}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${VEMTOOL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VEMTOOL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(VEMTOOL_WINE NAMES wine wine64)
if(VEMTOOL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VEMTOOL_WINE})
endif()
