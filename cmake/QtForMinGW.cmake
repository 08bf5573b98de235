# The Qt for MinGW-w64 that the Windows build of the console links (Debian has no Qt for Windows
# targets). Either a prefix given with -DMBUS_QT_MINGW=<prefix>, or the static Qt archive that
# sits beside the checkout (../shared/qt6-mingw/), unpacked into the build tree once. The Qt tools
# that run at build time (moc, rcc, uic) are the host's of the same version, from Debian's
# qt6-base-dev-tools; the prefix names /usr as their place.
#
# mbus_find_qt_for_mingw(<result>): <result> is the prefix to use, or empty when there is none.
# mbus_use_qt_for_mingw(<prefix>): makes find_package(Qt6 ...) find that prefix's packages.

set(MBUS_QT_MINGW "" CACHE PATH "Qt for MinGW-w64 prefix the Windows console is built with")
set(MBUS_QT_MINGW_ARCHIVE
    "${PROJECT_SOURCE_DIR}/../shared/qt6-mingw/qt6-mingw-6.4.2-static.tar.xz"
    CACHE FILEPATH "Archive of a Qt for MinGW-w64, unpacked into the build tree when no prefix is given")

function(mbus_find_qt_for_mingw result)
    if(MBUS_QT_MINGW)
        set(${result} "${MBUS_QT_MINGW}" PARENT_SCOPE)
    elseif(EXISTS "${MBUS_QT_MINGW_ARCHIVE}")
        set(${result} "${CMAKE_BINARY_DIR}/qt6-mingw" PARENT_SCOPE)
    else()
        set(${result} "" PARENT_SCOPE)
    endif()
endfunction()

# Unpacks the archive into <build>/qt6-mingw unless this very archive (path, size and time) is
# already unpacked there; an unpacking cut short leaves no mark and is done again.
function(mbus_unpack_qt_for_mingw prefix)
    file(SIZE "${MBUS_QT_MINGW_ARCHIVE}" size)
    file(TIMESTAMP "${MBUS_QT_MINGW_ARCHIVE}" time "%s" UTC)
    set(mark "${MBUS_QT_MINGW_ARCHIVE} ${size} ${time}")
    set(mark_file "${prefix}/unpacked-from.txt")
    if(EXISTS "${mark_file}")
        file(READ "${mark_file}" unpacked)
        if(unpacked STREQUAL mark)
            return()
        endif()
    endif()
    message(STATUS "Unpacking ${MBUS_QT_MINGW_ARCHIVE} into ${prefix}")
    file(REMOVE_RECURSE "${prefix}")
    get_filename_component(parent "${prefix}" DIRECTORY)
    file(ARCHIVE_EXTRACT INPUT "${MBUS_QT_MINGW_ARCHIVE}" DESTINATION "${parent}")
    if(NOT EXISTS "${prefix}/lib/cmake/Qt6/Qt6Config.cmake")
        message(FATAL_ERROR "${MBUS_QT_MINGW_ARCHIVE} holds no qt6-mingw/ folder with a Qt 6")
    endif()
    file(WRITE "${mark_file}" "${mark}")
endfunction()

macro(mbus_use_qt_for_mingw prefix)
    if(NOT MBUS_QT_MINGW)
        mbus_unpack_qt_for_mingw("${prefix}")
    endif()
    if(NOT EXISTS "${prefix}/lib/cmake/Qt6/Qt6Config.cmake")
        message(FATAL_ERROR "MBUS_QT_MINGW=${prefix} is no Qt 6 prefix (no lib/cmake/Qt6)")
    endif()
    # The cross toolchain searches packages under its own root only: the prefix becomes a root.
    list(PREPEND CMAKE_FIND_ROOT_PATH "${prefix}")
    list(PREPEND CMAKE_PREFIX_PATH "${prefix}")
endmacro()
