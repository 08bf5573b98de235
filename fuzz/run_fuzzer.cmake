# Runs one fuzz target for SECONDS seconds: new inputs go to WORK_DIR/corpus (created here, in
# the build tree), the checked-in SEEDS folder is only read, and a crashing input is saved under
# WORK_DIR/artifacts/.
#   cmake -DFUZZER=<exe> -DWORK_DIR=<dir> -DSEEDS=<dir> -DSECONDS=<n> -P run_fuzzer.cmake
foreach(var FUZZER WORK_DIR SEEDS SECONDS)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "run_fuzzer.cmake: ${var} is not set")
    endif()
endforeach()

file(MAKE_DIRECTORY ${WORK_DIR}/corpus ${WORK_DIR}/artifacts)
execute_process(
    COMMAND ${FUZZER}
        -max_total_time=${SECONDS}
        -rss_limit_mb=2048
        -timeout=20
        -print_final_stats=1
        -artifact_prefix=${WORK_DIR}/artifacts/
        ${WORK_DIR}/corpus
        ${SEEDS}
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${FUZZER} failed (${status}); the input is in ${WORK_DIR}/artifacts/")
endif()
