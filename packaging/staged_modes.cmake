# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the staged tree before it is packed: every directory
# 0755, whatever the umask of whoever packs. CPack makes the staging directories with the packer's
# umask and the package keeps those modes: under umask 077 a new /usr/share/doc/fwburn would be
# installed 0700, unreadable to every user but root. Files keep the modes their install() gave.
if(NOT IS_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}")
    message(FATAL_ERROR "staged_modes.cmake: no staged tree (CPACK_TEMPORARY_DIRECTORY)")
endif()
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(entry "${CPACK_TEMPORARY_DIRECTORY}" ${entries})
    if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
        file(CHMOD "${entry}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
             GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()
endforeach()
