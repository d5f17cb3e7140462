# Cross-builds the Windows kestrane.exe on Linux with mingw-w64
# (Debian packages g++-mingw-w64-x86-64 and mingw-w64):
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
# Tests then run under wine when it is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTRANE_MINGW_TARGET x86_64-w64-mingw32)
# The POSIX thread model: GoogleTest needs std::mutex, which the win32
# model of this compiler lacks. -static links its thread library in.
set(CMAKE_C_COMPILER ${KESTRANE_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRANE_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRANE_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRANE_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One standalone .exe: the C and C++ runtimes linked in, so it needs no DLL
# beyond those every Windows system has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Lets CTest run the built programs on Linux.
find_program(KESTRANE_WINE wine)
if(KESTRANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRANE_WINE})
endif()
