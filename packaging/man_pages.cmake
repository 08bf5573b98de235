# Writes the man pages into OUT_DIR, compressed as Debian ships them: mbus.1 and one page per
# subcommand (mbus-frame.1, ...) made by help2man from the built program's --help, and, with
# CONSOLE_PAGE set, the hand-written page of the console. The subcommands are read from
# `mbus --help`, so a new subcommand gets its page without a change here.
#
#   cmake -DMBUS=<mbus> -DHELP2MAN=<help2man> -DGZIP=<gzip> -DVERSION=<x.y.z> -DOUT_DIR=<dir>
#         [-DCONSOLE_PAGE=<mbus-console.1.in>] -P man_pages.cmake
cmake_minimum_required(VERSION 3.25)

foreach(var MBUS HELP2MAN GZIP VERSION OUT_DIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "man_pages.cmake: ${var} is not set")
    endif()
endforeach()

# The help texts name the ports folder of whoever runs them; the pages show the default one.
set(ENV{HOME} "~")
unset(ENV{XDG_CONFIG_HOME})
set(ENV{LC_ALL} C.UTF-8)

file(REMOVE_RECURSE "${OUT_DIR}")
file(MAKE_DIRECTORY "${OUT_DIR}")
set(work "${OUT_DIR}.work")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")

execute_process(COMMAND "${MBUS}" --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "man_pages.cmake: '${MBUS} --help' failed: ${status}")
endif()

# "  name      summary" lines between "Commands:" and the next blank line.
string(REGEX MATCH "Commands:\n(([^\n]+\n)+)" block "${help}")
string(REPLACE "\n" ";" lines "${CMAKE_MATCH_1}")
set(commands)
foreach(line IN LISTS lines)
    if(line MATCHES "^  ([a-z][a-z-]*) +(.+)$")
        list(APPEND commands ${CMAKE_MATCH_1})
        set(summary_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
    endif()
endforeach()
if(NOT commands)
    message(FATAL_ERROR "man_pages.cmake: no command found in '${MBUS} --help'")
endif()

set(see_also ".BR mbus (1)")
foreach(command IN LISTS commands)
    string(APPEND see_also ",\n.BR mbus\\-${command} (1)")
endforeach()
if(DEFINED CONSOLE_PAGE)
    string(APPEND see_also ",\n.BR mbus\\-console (1)")
endif()
file(WRITE "${work}/see_also.h2m" "[SEE ALSO]\n${see_also}\n")

# help2man(<page> <program> <name>): one page from `<program> --help`.
function(help2man page program name)
    execute_process(
        COMMAND "${HELP2MAN}" --no-info --no-discard-stderr --locale=C.UTF-8 --section=1
                "--version-string=${VERSION}" "--source=mbus-console ${VERSION}"
                "--manual=User Commands" "--name=${name}" "--include=${work}/see_also.h2m"
                "--output=${OUT_DIR}/${page}.1" "${program}"
        RESULT_VARIABLE status ERROR_VARIABLE error)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "man_pages.cmake: help2man for ${page} failed: ${error}")
    endif()
endfunction()

# help2man runs a program with --help and takes its SYNOPSIS from a first line "Usage: ..." with
# no continuation lines. mbus prints "usage:" with the options wrapped onto aligned lines, so each
# page is made through a small wrapper of the page's name that rewrites that first block.
set(usage_filter [=[NR == 1 && sub(/^usage:/, "Usage:") { usage = $0; next }
usage != "" && /^ +\[/ { sub(/^ +/, " "); usage = usage $0; next }
usage != "" { print usage; usage = "" }
{ print }
END { if (usage != "") print usage }]=])
file(WRITE "${work}/usage.awk" "${usage_filter}\n")
foreach(page IN ITEMS "" ${commands})
    if(page STREQUAL "")
        set(name mbus)
        set(summary "command-line tools of the M-Bus meter test console")
    else()
        set(name mbus-${page})
        set(summary "${summary_${page}}")
    endif()
    set(wrapper "${work}/${name}")
    file(WRITE "${wrapper}" "#!/bin/sh\n'${MBUS}' ${page} \"$@\" | awk -f '${work}/usage.awk'\n")
    file(CHMOD "${wrapper}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    help2man(${name} "${wrapper}" "${summary}")
endforeach()
if(DEFINED CONSOLE_PAGE)
    set(PROJECT_VERSION "${VERSION}")
    configure_file("${CONSOLE_PAGE}" "${OUT_DIR}/mbus-console.1" @ONLY)
endif()

file(GLOB pages "${OUT_DIR}/*.1")
execute_process(COMMAND "${GZIP}" -9n ${pages} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "man_pages.cmake: gzip failed: ${status}")
endif()
file(REMOVE_RECURSE "${work}")
