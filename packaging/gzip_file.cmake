# cmake -DGZIP=... -DIN=file -DOUT=file.gz -P gzip_file.cmake
# -n: no name or time stamp in the header, so the same input gives the same bytes.
execute_process(COMMAND "${GZIP}" -9 -n -c "${IN}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE "${OUT}")
    message(FATAL_ERROR "gzip ${IN}: ${result}")
endif()
