# A manual page from a program's own --help and --version, by help2man, so that it always says
# what the program says. Paths of the build machine are left out (helpforman.sh), list items
# become bullets, and the page is compressed as Debian keeps manual pages.
# cmake -DHELP2MAN=... -DPROGRAM=<program> -DNAME=<one line> -DINCLUDE=<.h2m> -DWRAPPER=<helpforman.sh>
#       -DOUTPUT=<page.1.gz> -P makemanpage.cmake
cmake_minimum_required(VERSION 3.25)
get_filename_component(bindir "${PROGRAM}" DIRECTORY)
get_filename_component(page "${OUTPUT}" NAME_WLE)
set(roff "${OUTPUT}.tmp")
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=XDG_CONFIG_HOME --unset=XDG_DATA_HOME
            HOME=/nonexistent/zel-manual-home ZEL_MAN_BINDIR=${bindir} QT_QPA_PLATFORM=offscreen
            ${HELP2MAN} --no-info --no-discard-stderr --name=${NAME} --include=${INCLUDE}
            --output=${roff} "sh ${WRAPPER} ${PROGRAM}"
    RESULT_VARIABLE failed
    TIMEOUT 30)
if(failed)
    message(FATAL_ERROR "help2man could not make ${page} from ${PROGRAM}")
endif()
file(READ "${roff}" text)
string(REPLACE "\n.IP\n\\- " "\n.IP \\(bu 2\n" text "${text}")
file(WRITE "${roff}" "${text}")
execute_process(COMMAND gzip -9n -c "${roff}" OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE failed)
file(REMOVE "${roff}")
if(failed)
    message(FATAL_ERROR "gzip could not compress ${page}")
endif()
