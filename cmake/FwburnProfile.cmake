# fwburn_profile(NAME <name> IMAGE_NAME <text> DATE <yyyy/mm/dd> BOOT_ID_RULE cpu|aio
#                IMAGE_VARIABLE <cache variable> IMAGE_SIZE <bytes>)
#
# Declares one build profile and makes what is built of it: the static library
# fwburn_profile_<name> (profile constants, image SHA-256 and the image itself).
# The real image is never in the repository: the cache variable names its file. Without it the
# build generates a deterministic stand-in of the image's size and says so, unless
# FWBURN_REQUIRE_REAL_IMAGES is on (the release presets): then a missing image, or one of another
# size than the profile's, stops the configuration with the variable named.
# Debian's interpreter where there is one: the tests' Debian modules (pymodbus, dbusmock) are its
# own, and a version manager's shim ahead of it in PATH costs a shell at each of the search's many
# calls (seconds of every configuration). A Python3_EXECUTABLE given to CMake still wins.
if(NOT Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
    set(Python3_EXECUTABLE /usr/bin/python3)
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
if(WIN32)
    enable_language(RC)
endif()

# An image problem that stops a release configuration (every such problem named at once) and
# leaves any other build a test build, with a warning.
function(fwburn_image_problem text)
    if(FWBURN_REQUIRE_REAL_IMAGES)
        message(SEND_ERROR "${text}")
    else()
        message(WARNING "${text}")
    endif()
endfunction()

function(fwburn_profile)
    cmake_parse_arguments(P "" "NAME;IMAGE_NAME;DATE;BOOT_ID_RULE;IMAGE_VARIABLE;IMAGE_SIZE" "" ${ARGN})
    foreach(required NAME IMAGE_NAME DATE BOOT_ID_RULE IMAGE_VARIABLE IMAGE_SIZE)
        if(NOT DEFINED P_${required})
            message(FATAL_ERROR "fwburn_profile: ${required} is missing")
        endif()
    endforeach()

    set(${P_IMAGE_VARIABLE} "" CACHE FILEPATH
        "Firmware image of the '${P_NAME}' profile (${P_IMAGE_NAME}, ${P_IMAGE_SIZE} bytes); empty: a generated stand-in")
    set(image "${${P_IMAGE_VARIABLE}}")
    set(gen_dir "${CMAKE_BINARY_DIR}/profiles/${P_NAME}")
    file(MAKE_DIRECTORY "${gen_dir}")
    set(standin_flag "")
    set(image_depends "")  # the generated stand-in's rule; a given file is read at every build
    set(size_mismatch FALSE)  # a given image not of the profile's size (a test build)
    set(image_checks "")
    set(digest "")
    # CMake reads the cache variable, never the environment scripts/package takes the images
    # from: an image named only there leaves the build with whatever the build folder's cache
    # held (the last release's firmware, perhaps) or with a stand-in. Said when the two differ;
    # a release build stops.
    set(env_image "$ENV{${P_IMAGE_VARIABLE}}")
    if(NOT env_image STREQUAL "")
        # Relative to the directory CMake was started in, as a shell would take it.
        execute_process(
            COMMAND "${Python3_EXECUTABLE}" -c
                    "import os, sys; sys.stdout.buffer.write(os.fsencode(os.path.realpath(sys.argv[1])))"
                    "${env_image}"
            OUTPUT_VARIABLE env_real)
        set(taken "a generated stand-in")
        set(taken_real "")
        if(NOT image STREQUAL "")
            set(taken "${image}")
            file(REAL_PATH "${image}" taken_real)
        endif()
        if(NOT env_real STREQUAL taken_real)
            string(CONCAT text "Profile ${P_NAME}: the environment names ${P_IMAGE_VARIABLE}=${env_image}, "
                     "but this configuration takes ${taken}: CMake reads "
                     "-D${P_IMAGE_VARIABLE}=<file> (kept in the build folder's cache), not the "
                     "environment")
            fwburn_image_problem("${text}")
        endif()
    endif()
    if(image STREQUAL "" AND FWBURN_REQUIRE_REAL_IMAGES)
        # SEND_ERROR rather than FATAL_ERROR: every profile without its image is named at once.
        message(SEND_ERROR
            "Profile ${P_NAME}: no firmware image given. This build embeds real images only "
            "(FWBURN_REQUIRE_REAL_IMAGES): set ${P_IMAGE_VARIABLE} to the file of ${P_IMAGE_NAME} "
            "(${P_IMAGE_SIZE} bytes), e.g. -D${P_IMAGE_VARIABLE}=/path/to/${P_IMAGE_NAME}")
    endif()
    if(image STREQUAL "")
        set(image "${gen_dir}/standin-${P_NAME}.bin")
        set(image_depends "${image}")
        set(standin_flag "--stand-in")
        add_custom_command(
            OUTPUT "${image}"
            COMMAND Python3::Interpreter "${PROJECT_SOURCE_DIR}/cmake/standin_image.py"
                    "${image}" ${P_IMAGE_SIZE} "fwburn stand-in ${P_NAME}"
            DEPENDS "${PROJECT_SOURCE_DIR}/cmake/standin_image.py"
            COMMENT "Profile ${P_NAME}: no real image given (${P_IMAGE_VARIABLE}); generating a STAND-IN image of ${P_IMAGE_SIZE} bytes"
            VERBATIM)
        if(NOT FWBURN_REQUIRE_REAL_IMAGES)
            message(STATUS "Profile ${P_NAME}: STAND-IN image (${P_IMAGE_SIZE} bytes); set ${P_IMAGE_VARIABLE} to the real image file")
        endif()
    else()
        if(image MATCHES ";")
            message(FATAL_ERROR "Profile ${P_NAME}: ${P_IMAGE_VARIABLE}=${image} holds a ';', which "
                                "CMake takes for a list: name the image by a path without it "
                                "(a copy or a link)")
        endif()
        get_filename_component(image "${image}" ABSOLUTE)
        set(image_checks --variable ${P_IMAGE_VARIABLE})
        # A regular file only (through links): a device node or a FIFO would be read without end,
        # or wait for a writer, and the configuration with it.
        execute_process(
            COMMAND "${Python3_EXECUTABLE}" -c
                    "import os, sys; sys.exit(0 if os.path.isfile(sys.argv[1]) else 1)" "${image}"
            RESULT_VARIABLE regular)
        if(NOT regular EQUAL 0)
            message(FATAL_ERROR "Profile ${P_NAME}: ${P_IMAGE_VARIABLE}=${image} is no file")
        endif()
        file(SIZE "${image}" size)
        if(NOT size EQUAL P_IMAGE_SIZE)
            set(size_mismatch TRUE)
            set(text "Profile ${P_NAME}: ${P_IMAGE_VARIABLE}=${image} is ${size} bytes; the profile's image ${P_IMAGE_NAME} is ${P_IMAGE_SIZE} bytes")
            fwburn_image_problem("${text}")
        endif()
        file(SHA256 "${image}" digest)
        # A stand-in copied out of a test build (--extract-image) has the right size: known by its
        # digest, it is refused by a release build and stays a stand-in in any other.
        set(probe "${gen_dir}/standin-probe.bin")
        execute_process(
            COMMAND "${Python3_EXECUTABLE}" "${PROJECT_SOURCE_DIR}/cmake/standin_image.py"
                    "${probe}" ${P_IMAGE_SIZE} "fwburn stand-in ${P_NAME}"
            RESULT_VARIABLE probe_result)
        if(NOT probe_result EQUAL 0)
            message(FATAL_ERROR "Profile ${P_NAME}: cannot make the stand-in to compare with")
        endif()
        file(SHA256 "${probe}" standin_digest)
        file(REMOVE "${probe}")
        if(digest STREQUAL standin_digest)
            set(text "Profile ${P_NAME}: ${P_IMAGE_VARIABLE}=${image} is the generated STAND-IN image, not a firmware")
            if(FWBURN_REQUIRE_REAL_IMAGES)
                message(SEND_ERROR "${text}")
            else()
                message(WARNING "${text}: the build is a test build")
                set(standin_flag "--stand-in")
            endif()
        endif()
        # The file may change after this run (a new copy, a link pointed elsewhere) and the
        # build embeds whatever it then holds: the embedding checks the same again. What this run
        # took for a firmware (its package named so) must still be one when embedded.
        if(NOT standin_flag)
            list(APPEND image_checks --refuse-sha256 ${standin_digest})
        endif()
        if(NOT size_mismatch)
            list(APPEND image_checks --require-size ${P_IMAGE_SIZE})
        endif()
        message(STATUS "Profile ${P_NAME}: image ${image} (${size} bytes, SHA-256 ${digest})")
    endif()

    # The embedding runs at every build and reads the image by its content, not its time stamp: an
    # image replaced by an older file (cp -p, an unpacked archive, a link pointed elsewhere) is
    # embedded all the same. It copies the bytes it checked into the build folder, the only file
    # the program's data comes from, and rewrites source and copy only when they change.
    # The path goes through a file: on a command line a "$(...)" in it would be the shell's.
    set(image_path_file "${gen_dir}/image-path.txt")
    file(WRITE "${image_path_file}" "${image}")
    set(source "${gen_dir}/profile_${P_NAME}.cpp")
    set(embedded "${gen_dir}/embedded-${P_NAME}.bin")
    add_custom_target(fwburn_profile_${P_NAME}_embed
        COMMAND Python3::Interpreter "${PROJECT_SOURCE_DIR}/cmake/embed_image.py"
                --image-path-file "${image_path_file}" --copy "${embedded}" --output "${source}" --profile "${P_NAME}"
                --image-name "${P_IMAGE_NAME}" --date "${P_DATE}"
                --boot-id-rule "${P_BOOT_ID_RULE}" ${standin_flag} ${image_checks}
        BYPRODUCTS "${source}" "${embedded}"
        DEPENDS ${image_depends} "${PROJECT_SOURCE_DIR}/cmake/embed_image.py"
        COMMENT "Profile ${P_NAME}: embedding ${P_IMAGE_NAME}"
        VERBATIM)

    add_library(fwburn_profile_${P_NAME} STATIC "${source}")
    add_dependencies(fwburn_profile_${P_NAME} fwburn_profile_${P_NAME}_embed)
    # .incbin is invisible to the compiler's dependency scan.
    set_source_files_properties("${source}" PROPERTIES OBJECT_DEPENDS "${embedded}")
    target_link_libraries(fwburn_profile_${P_NAME} PUBLIC fwburn_catalogue)
    set(stand_in FALSE)
    if(standin_flag)
        set(stand_in TRUE)
    endif()
    # FWBURN_IMAGE_SHA256: the digest of a given image as CMake reads it at configure time (empty
    # for a stand-in, which exists only once built); tests compare the build's own digest with it.
    set_target_properties(fwburn_profile_${P_NAME} PROPERTIES
        FWBURN_IMAGE_FILE "${image}" FWBURN_IMAGE_NAME "${P_IMAGE_NAME}" FWBURN_STAND_IN ${stand_in}
        FWBURN_IMAGE_SIZE ${P_IMAGE_SIZE} FWBURN_IMAGE_SHA256 "${digest}"
        FWBURN_IMAGE_SIZE_MISMATCH ${size_mismatch})

    if(WIN32)
        # On Windows the image is the program's own "BIN" resource 8, English (United States). The
        # resource object goes straight onto the link line of every program that links the
        # profile: archived in the static library, nothing would ever pull it in.
        set(rc "${gen_dir}/profile_${P_NAME}.rc")
        file(CONFIGURE OUTPUT "${rc}" CONTENT "LANGUAGE 9, 1\n8 BIN \"${embedded}\"\n")
        add_library(fwburn_profile_${P_NAME}_image OBJECT "${rc}")
        add_dependencies(fwburn_profile_${P_NAME}_image fwburn_profile_${P_NAME}_embed)
        set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${embedded}")
        target_link_libraries(fwburn_profile_${P_NAME}
            INTERFACE $<TARGET_OBJECTS:fwburn_profile_${P_NAME}_image>)
    endif()
endfunction()
