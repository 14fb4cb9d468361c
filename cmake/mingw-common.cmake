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
# Unit tests of the cross build run under Wine when it has a loader of the build's kind: `wine`
# itself when it is one, or the one Debian's wrapper script would start (wine64 gives the 64-bit
# loader; wine32:i386, with the i386 architecture added, the 32-bit one). The wrapper prefers the
# 32-bit loader once it is installed, and that one cannot start even a 64-bit program in a prefix
# made before it came ("could not load kernel32.dll"): each kind gets its own loader. Without a
# loader the unit tests are not registered and the Wine suite skips (a failure under CI).
find_program(FWBURN_WINE NAMES wine)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(fwburn_wine_kind win64 02 /usr/lib/wine/wine64)  # kind, ELF class, Debian's loader
else()
    set(fwburn_wine_kind win32 01 /usr/lib/wine/wine)
endif()
list(GET fwburn_wine_kind 0 FWBURN_WINE_ARCH)
list(GET fwburn_wine_kind 1 fwburn_elf_class)
list(GET fwburn_wine_kind 2 fwburn_debian_loader)
set(FWBURN_WINE_LOADER "")
if(FWBURN_WINE)
    get_filename_component(fwburn_wine_real "${FWBURN_WINE}" REALPATH)
    foreach(loader "${fwburn_wine_real}" "${fwburn_debian_loader}")
        if(EXISTS "${loader}")
            file(READ "${loader}" fwburn_elf_head LIMIT 5 HEX)
            if(fwburn_elf_head STREQUAL "7f454c46${fwburn_elf_class}")
                set(FWBURN_WINE_LOADER "${loader}")
                break()
            endif()
        endif()
    endforeach()
endif()
if(FWBURN_WINE_LOADER)
    # A prefix of the build's own and of its kind, not Wine's default one that anything else may
    # have made or changed. The first test makes it (Wine makes it once when several start).
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${CMAKE_COMMAND} -E env "WINEPREFIX=${CMAKE_BINARY_DIR}/wine/unit-prefix"
        WINEARCH=${FWBURN_WINE_ARCH} "WINEDLLOVERRIDES=mscoree,mshtml=" ${FWBURN_WINE_LOADER})
endif()
