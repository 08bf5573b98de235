# Helpers that register GoogleTest programs and their CTest labels.
if(CMAKE_CROSSCOMPILING AND WIN32)
    # No GoogleTest for the target system is installed: build it from the sources Debian's
    # googletest package ships.
    set(MBUS_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${MBUS_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # Test programs run under Wine, in the session that tests/wine starts before them.
    set(MBUS_NATIVE_BUILD "" CACHE PATH
        "Linux build tree with the helpers of the Wine tests (com_pair, modem_line_shim, mbus)")
    set(MBUS_WINE_SESSION ${CMAKE_BINARY_DIR}/wine)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        bash ${PROJECT_SOURCE_DIR}/tests/wine/run_under_wine.sh ${MBUS_WINE_SESSION})
else()
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# mbus_add_test(NAME <name> LABELS <labels...> SOURCES <files...> LIBS <libs...> [TIMEOUT s])
# One test program, registered as one CTest test (its cases run together, which keeps the
# process count low on small machines).
function(mbus_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "LABELS;SOURCES;LIBS;ENVIRONMENT" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
    if(T_ENVIRONMENT)
        set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
    endif()
    if(CMAKE_CROSSCOMPILING_EMULATOR)
        # Under Wine: in the session, one program at a time on the session's COM port pairs.
        set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine_session)
        if("serial" IN_LIST T_LABELS)
            set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK com_port_pairs)
        endif()
    endif()
endfunction()
