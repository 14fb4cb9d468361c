# The Debian packages:
#   fwburn         fwburn-cpu-cli, fwburn-aio-cli, the udev rule, man pages, bash completion
#   fwburn-plcsim  the simulated controller, for service benches, demos and tests
# plcsim has a package of its own: an operator's machine needs no simulator, and a tool that
# answers like a controller has no place beside the updater on a machine that updates real ones.
set(doc_cpu "${CMAKE_INSTALL_DATADIR}/doc/fwburn")
set(doc_sim "${CMAKE_INSTALL_DATADIR}/doc/fwburn-plcsim")
set(gen "${CMAKE_CURRENT_BINARY_DIR}")

install(TARGETS fwburn-cpu-cli fwburn-aio-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT fwburn)
install(TARGETS plcsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT plcsim)
# Below the prefix (/usr in the package): systemd-udevd reads /usr/lib/udev/rules.d.
install(FILES udev/70-fwburn.rules DESTINATION lib/udev/rules.d COMPONENT fwburn)
foreach(program fwburn-cpu-cli fwburn-aio-cli)
    install(FILES completion/fwburn-cli.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
            RENAME ${program} COMPONENT fwburn)
endforeach()
install(FILES completion/plcsim.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME plcsim COMPONENT plcsim)

# The Debian changelog and copyright of each package, versioned from the project.
string(TIMESTAMP fwburn_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)  # honours SOURCE_DATE_EPOCH
set(fwburn_deb_revision 1)
foreach(package fwburn fwburn-plcsim)
    set(FWBURN_DEB_PACKAGE ${package})
    set(FWBURN_DEB_VERSION "${fwburn_package_version}-${fwburn_deb_revision}")
    configure_file(doc/changelog.Debian.in "${gen}/${package}/changelog.Debian" @ONLY)
endforeach()

# Man pages from each program's --help (help2man), with the sections --help does not hold.
find_program(HELP2MAN help2man)
find_program(GZIP gzip REQUIRED)
set(gz_outputs "")
function(fwburn_gzip source output)
    add_custom_command(OUTPUT "${output}"
        COMMAND "${CMAKE_COMMAND}" -DGZIP=${GZIP} -DIN=${source} -DOUT=${output}
                -P "${CMAKE_CURRENT_SOURCE_DIR}/gzip_file.cmake"
        DEPENDS "${source}" "${CMAKE_CURRENT_SOURCE_DIR}/gzip_file.cmake" VERBATIM)
endfunction()
foreach(package fwburn fwburn-plcsim)
    fwburn_gzip("${gen}/${package}/changelog.Debian" "${gen}/${package}/changelog.Debian.gz")
    list(APPEND gz_outputs "${gen}/${package}/changelog.Debian.gz")
endforeach()
install(FILES "${gen}/fwburn/changelog.Debian.gz" doc/copyright DESTINATION ${doc_cpu} COMPONENT fwburn)
install(FILES "${gen}/fwburn-plcsim/changelog.Debian.gz" doc/copyright DESTINATION ${doc_sim} COMPONENT plcsim)

if(HELP2MAN)
    foreach(entry "fwburn-cpu-cli|fwburn|fwburn-cli.h2m|write the firmware into a ZL500 controller"
                  "fwburn-aio-cli|fwburn|fwburn-cli.h2m|write the firmware into a ZL500-AIO controller"
                  "plcsim|plcsim|plcsim.h2m|a simulated Korvan controller on a pseudo-terminal")
        string(REPLACE "|" ";" entry "${entry}")
        list(GET entry 0 program)
        list(GET entry 1 component)
        list(GET entry 2 include)
        list(GET entry 3 name)
        set(page "${gen}/man/${program}.1")
        add_custom_command(OUTPUT "${page}"
            COMMAND "${CMAKE_COMMAND}" -DHELP2MAN=${HELP2MAN} -DPROGRAM=$<TARGET_FILE:${program}>
                    -DNAME=${name} -DINCLUDE=${CMAKE_CURRENT_SOURCE_DIR}/man/${include}
                    -DVERSION=${PROJECT_VERSION} -DOUT=${page}
                    -P "${CMAKE_CURRENT_SOURCE_DIR}/help2man.cmake"
            DEPENDS ${program} "${CMAKE_CURRENT_SOURCE_DIR}/man/${include}"
                    "${CMAKE_CURRENT_SOURCE_DIR}/help2man.cmake"
            VERBATIM)
        fwburn_gzip("${page}" "${page}.gz")
        list(APPEND gz_outputs "${page}.gz")
        install(FILES "${page}.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
    endforeach()
else()
    message(STATUS "help2man not found: no man pages (apt-get install help2man)")
endif()
add_custom_target(fwburn_package_files ALL DEPENDS ${gz_outputs})

set(CPACK_GENERATOR DEB)
# Left at CPack's own default, the Debian generator takes each description's first line as the
# package's synopsis instead of putting the project's summary before it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL fwburn plcsim)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION "${fwburn_package_version}")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${fwburn_deb_revision})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FWBURN_PACKAGE_NAME fwburn)
set(CPACK_DEBIAN_PLCSIM_PACKAGE_NAME fwburn-plcsim)
set(CPACK_DEBIAN_FWBURN_PACKAGE_SUGGESTS "fwburn-plcsim")
# Plain text: CPack indents it for the control file and turns the empty line into " .".
set(CPACK_DEBIAN_FWBURN_DESCRIPTION
    "firmware updater for Korvan controllers${fwburn_test_synopsis}
fwburn-cpu-cli and fwburn-aio-cli write the firmware image built into them
into a Korvan ZL500 or ZL500-AIO controller over its USB link or a serial
port, with a progress bar, JSON progress lines and one exit status for each
outcome. A udev rule gives the logged-in user the controller's USB link and
keeps ModemManager from probing it.${fwburn_test_note}")
set(CPACK_DEBIAN_PLCSIM_DESCRIPTION
    "simulated Korvan controller for testing the firmware updater${fwburn_test_synopsis}
plcsim answers like a Korvan controller's application firmware and
bootloader on a pseudo-terminal, with fault injection and optional wire-speed
timing. It is a tool for service benches, demonstrations and tests; it does
not touch real controllers.${fwburn_test_note}")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
include(CPack)
