# quorvix_add_fuzzer(NAME SOURCES src... [LIBS lib...])
# A fuzz target fuzz/<NAME>/fuzz_<NAME>.cpp defines LLVMFuzzerTestOneInput (and, when it needs
# a Qt application or fixed data, LLVMFuzzerInitialize). Its seed corpus lies in
# fuzz/<NAME>/corpus/, together with every input that once made it fail (crash-*), so ctest
# replays them all as the test fuzz_<NAME> in every build. With QUORVIX_FUZZ the program is a
# libFuzzer binary that scripts/fuzz.sh runs for a bounded time; otherwise fuzz/replay.cpp
# gives it a main that only replays the files and folders it is given.
function(quorvix_add_fuzzer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    set(target fuzz_${name})
    if(QUORVIX_FUZZ)
        add_executable(${target} ${ARG_SOURCES})
        target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    else()
        add_executable(${target} ${ARG_SOURCES} ${CMAKE_SOURCE_DIR}/fuzz/replay.cpp)
    endif()
    target_link_libraries(${target} PRIVATE ${ARG_LIBS})
    target_compile_definitions(${target} PRIVATE QUORVIX_BIN_DIR="${QUORVIX_BIN_DIR}")
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    set(corpus ${CMAKE_SOURCE_DIR}/fuzz/${name}/corpus)
    add_test(NAME ${target} COMMAND ${target} -runs=0 ${corpus})
    set_tests_properties(${target} PROPERTIES TIMEOUT 120 ENVIRONMENT "${QUORVIX_TEST_ENV}")
    set_property(GLOBAL APPEND PROPERTY QUORVIX_FUZZERS ${name})
endfunction()
