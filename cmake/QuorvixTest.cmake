# The environment every test program runs in (and, in a sanitizer tree, the sanitizers' options).
set(QUORVIX_TEST_ENV
    "QT_QPA_PLATFORM=offscreen" "LANG=C.UTF-8" "LC_ALL=C.UTF-8"
    "QTWEBENGINE_CHROMIUM_FLAGS=--no-sandbox --disable-gpu" "QTWEBENGINE_DISABLE_SANDBOX=1"
    "QT_LOGGING_RULES=qt.webenginecontext.debug=false" ${QUORVIX_SANITIZER_ENV})

# quorvix_add_test(NAME SOURCES src... [LIBS lib...])
# One QtTest program per unit, run by ctest in the environment every test expects.
function(quorvix_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_compile_definitions(${name} PRIVATE
        QUORVIX_BIN_DIR="${QUORVIX_BIN_DIR}"
        QUORVIX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "${QUORVIX_TEST_ENV}")
    if(QUORVIX_SANITIZE AND name IN_LIST QUORVIX_SANITIZE_EXCLUDED)
        set_tests_properties(${name} PROPERTIES DISABLED TRUE)
    endif()
endfunction()
