# Cross build of the 32-bit Windows DLL with mingw-w64 (Debian:
# g++-mingw-w64-i686-posix, mingw-w64). The posix thread model gives
# std::thread and std::mutex; libgcc, libstdc++ and winpthread are linked in
# statically, so the DLL imports only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QUARO7_MINGW_PREFIX i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${QUARO7_MINGW_PREFIX}-gcc-posix ${QUARO7_MINGW_PREFIX}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QUARO7_MINGW_PREFIX}-g++-posix ${QUARO7_MINGW_PREFIX}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QUARO7_MINGW_PREFIX}-windres REQUIRED)
find_program(CMAKE_OBJDUMP NAMES ${QUARO7_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${QUARO7_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run under Wine on the build machine.
find_program(QUARO7_WINE NAMES wine)
if(QUARO7_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARO7_WINE})
endif()
