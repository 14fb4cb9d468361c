# Shared part of the MinGW-w64 cross toolchains; FWBURN_MINGW_TRIPLE is set by the including file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${FWBURN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FWBURN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${FWBURN_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${FWBURN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Operators' workstations get one self-contained .exe: no MinGW runtime DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Unit tests of the 64-bit cross build run under Wine when it is installed (Debian's wine64 runs
# no 32-bit program without the i386 multiarch packages; the i686 build is build-only here).
find_program(FWBURN_WINE NAMES wine)
if(FWBURN_WINE AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(CMAKE_CROSSCOMPILING_EMULATOR ${FWBURN_WINE})
endif()
