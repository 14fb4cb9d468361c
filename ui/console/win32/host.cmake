# The console's host on Windows, included by ../CMakeLists.txt: the session's seam on Win32, the
# COM ports and the controller's USB device through the window's link (link/win32), the update
# lock shared with the window; user32 for the hidden window that takes a logoff or shutdown.
set(console_host
    win32/console_modes.cpp
    win32/control_events.cpp
    win32/device_names.cpp
    win32/ending_events.cpp
    win32/keyboard.cpp
    win32/output.cpp
    win32/platform.cpp
    win32/replace_file.cpp
    win32/same_handle.cpp
    win32/text.cpp
    win32/win32_host.cpp
    win32/win32_link.cpp)
set(console_host_libraries fwburn_link_win32 user32)
set(console_main win32/main.cpp)

# CLI11 and nlohmann-json are header-only: the cross build takes Debian's headers from copies of
# their own folders, never the whole of the build machine's /usr/include.
set(console_host_includes "${CMAKE_BINARY_DIR}/header-only")
foreach(header CLI/CLI.hpp nlohmann/json.hpp)
    string(REGEX REPLACE "/.*" "" folder "${header}")
    find_path(FWBURN_${folder}_DIR ${header} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    file(COPY "${FWBURN_${folder}_DIR}/${folder}" DESTINATION "${console_host_includes}")
endforeach()

# A console program of Windows: wmain (the arguments in UTF-16), static, and, checked after every
# link as for the window, importing nothing but system DLLs.
function(fwburn_console_windows_program program)
    target_link_options(${program} PRIVATE -municode)
    add_custom_command(TARGET ${program} POST_BUILD
        COMMAND "${CMAKE_COMMAND}" -DOBJDUMP=${CMAKE_OBJDUMP} -DPROGRAM=$<TARGET_FILE:${program}>
                -P "${PROJECT_SOURCE_DIR}/tests/wine/check_imports.cmake"
        VERBATIM)
endfunction()
