# What scripts/start builds is all that `cmake --install` takes from the build folder, so
# that the README's install command works right after it.
# cmake -DSTART=scripts/start -DINSTALL_SCRIPT=<build>/packaging/cmake_install.cmake
#       -DBUILD_DIR=<build> -P startbuildsinstalled.cmake
cmake_minimum_required(VERSION 3.25)
file(READ "${START}" start)
if(NOT start MATCHES "cmake --build [^\n]*--target ([^\n]*)")
    message(FATAL_ERROR "no `cmake --build ... --target` line in ${START}")
endif()
separate_arguments(built UNIX_COMMAND "${CMAKE_MATCH_1}")

file(READ "${INSTALL_SCRIPT}" install)
string(REGEX MATCHALL "\"${BUILD_DIR}/[^\"]+\"" taken "${install}")
if(NOT taken)
    message(FATAL_ERROR "no file from ${BUILD_DIR} in ${INSTALL_SCRIPT}")
endif()
list(REMOVE_DUPLICATES taken)
foreach(file IN LISTS taken)
    string(REGEX REPLACE "^\"(.*)\"$" "\\1" file "${file}")
    get_filename_component(name "${file}" NAME)
    # A program is its own target; the manual pages and the changelog are made by theirs; the
    # copyright file is written when the build is configured.
    if(name MATCHES "\\.1\\.gz$")
        set(name manpages)
    elseif(name STREQUAL "changelog.gz")
        set(name changelog)
    elseif(name STREQUAL "copyright")
        continue()
    endif()
    if(NOT name IN_LIST built)
        message(SEND_ERROR "scripts/start does not build ${name}, which the install takes")
    endif()
endforeach()
