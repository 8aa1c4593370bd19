# The icon and version resources of a Windows program file, as Explorer reads them: the icon in
# every size Windows asks for, 256 px as PNG; the version, the same as that of the program the
# file belongs to (a console companion's is its .exe's); its own file name; the copyright.
# cmake -DWRESTOOL=<wrestool> -DICOTOOL=<icotool> -DFILE=<.exe or .com> -DPROGRAM=<the .exe>
#       -DVERSION=<version string> -P windowsresources.cmake
cmake_minimum_required(VERSION 3.25)
get_filename_component(name "${FILE}" NAME)

function(resource file type out)
    execute_process(COMMAND "${WRESTOOL}" -x --raw --type=${type} "${file}"
                    OUTPUT_FILE "${out}" RESULT_VARIABLE failed)
    file(SIZE "${out}" size)
    if(failed OR size EQUAL 0)
        message(FATAL_ERROR "${file} has no resource of type ${type}")
    endif()
endfunction()

# The icon group, as the .ico file it was made from (wrestool puts it together without --raw).
set(ico "${CMAKE_CURRENT_BINARY_DIR}/${name}.resources.ico")
execute_process(COMMAND "${WRESTOOL}" -x --type=14 "${FILE}" OUTPUT_FILE "${ico}")
execute_process(COMMAND "${ICOTOOL}" -l "${ico}" OUTPUT_VARIABLE listed)
string(REGEX MATCHALL "--width=[0-9]+" widths "${listed}")
string(REPLACE "--width=" "" widths "${widths}")
if(NOT widths STREQUAL "16;20;24;32;40;48;64;256")
    message(SEND_ERROR "${name}: icon sizes '${widths}', not 16;20;24;32;40;48;64;256")
endif()
file(READ "${ico}" ico HEX)
if(NOT ico MATCHES "89504e470d0a1a0a")
    message(SEND_ERROR "${name}: no PNG image in its icon")
endif()

# The version resource holds its strings in UTF-16.
function(utf16 text out)
    string(HEX "${text}" hex)
    string(REGEX REPLACE "(..)" "\\100" hex "${hex}")
    set(${out} "${hex}" PARENT_SCOPE)
endfunction()
set(resources "${CMAKE_CURRENT_BINARY_DIR}/${name}.resources")
resource("${FILE}" 16 "${resources}.version")
file(READ "${resources}.version" version HEX)
foreach(text "LegalCopyright" "Copyright (c) 2026 the Zel_Connect developers. MIT licence."
             "OriginalFilename" "${name}" "FileVersion" "ProductVersion" "${VERSION}")
    utf16("${text}" wanted)
    string(FIND "${version}" "${wanted}" at)
    if(at LESS 0)
        message(SEND_ERROR "${name}: '${text}' is not in its version resource")
    endif()
endforeach()
# The numbers Explorer shows and installers compare: after the signature FEEF04BD, the
# structure's version, then file and product version.
resource("${PROGRAM}" 16 "${resources}.program")
file(READ "${resources}.program" program HEX)
foreach(resource version program)
    string(FIND "${${resource}}" "bd04effe" at)
    if(at LESS 0)
        message(FATAL_ERROR "${name}: no fixed file information in a version resource")
    endif()
    string(SUBSTRING "${${resource}}" ${at} 48 ${resource}_numbers)
endforeach()
if(NOT version_numbers STREQUAL program_numbers)
    message(SEND_ERROR
            "${name}: version numbers ${version_numbers}, its program's ${program_numbers}")
endif()
message(STATUS "${name}: icon ${widths}, version ${VERSION} (${version_numbers}), copyright")
