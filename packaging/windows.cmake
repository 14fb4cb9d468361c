# The Windows release archive: both window programs and both console programs, the operator's text
# and SHA256SUMS, one archive per architecture, fwburn-<version>[-TEST-BUILD]-windows-<x64|x86>.zip.
if(NOT TARGET fwburn-cpu OR NOT TARGET fwburn-aio OR NOT TARGET fwburn-cpu-cli
   OR NOT TARGET fwburn-aio-cli)
    return()
endif()
if(CMAKE_SYSTEM_PROCESSOR MATCHES "64")
    set(fwburn_arch x64)
else()
    set(fwburn_arch x86)
endif()
install(TARGETS fwburn-cpu fwburn-aio fwburn-cpu-cli fwburn-aio-cli RUNTIME DESTINATION .
        COMPONENT windows)
install(FILES windows/README.txt windows/NOTICES.txt DESTINATION . COMPONENT windows)
# The texts with Windows line ends (Notepad before Windows 10 shows LF-only text as one line),
# then the sums of what was just installed, in the format sha256sum -c reads.
install(CODE [[
    set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    foreach(name README.txt NOTICES.txt)
        file(READ "${dir}/${name}" text)
        string(REPLACE "\r\n" "\n" text "${text}")
        string(REPLACE "\n" "\r\n" text "${text}")
        file(WRITE "${dir}/${name}" "${text}")
    endforeach()
    set(sums "")
    foreach(name fwburn-cpu.exe fwburn-aio.exe fwburn-cpu-cli.exe fwburn-aio-cli.exe README.txt
                 NOTICES.txt)
        file(SHA256 "${dir}/${name}" digest)
        string(APPEND sums "${digest}  ${name}\n")
    endforeach()
    file(WRITE "${dir}/SHA256SUMS" "${sums}")
]] COMPONENT windows)

set(CPACK_GENERATOR ZIP)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_COMPONENTS_ALL windows)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_FILE_NAME "fwburn-${fwburn_archive_version}-windows-${fwburn_arch}")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
include(CPack)
