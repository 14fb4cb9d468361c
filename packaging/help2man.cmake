# cmake -DHELP2MAN=... -DPROGRAM=... -DNAME=... -DINCLUDE=... -DVERSION=... -DOUT=... -P help2man.cmake
# The version comes from the project, not from the program's --version, whose further lines
# (model, image, digest) do not belong in a man page's header.
get_filename_component(program_name "${PROGRAM}" NAME)
execute_process(
    COMMAND "${HELP2MAN}" --no-info --section=1 "--name=${NAME}" "--include=${INCLUDE}"
            "--version-string=${program_name} ${VERSION}" "--output=${OUT}" "${PROGRAM}"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE "${OUT}")
    message(FATAL_ERROR "help2man ${PROGRAM}: ${result}")
endif()
